// Dropping files and folders on the list: real drag events sent to the
// list's viewport, and the handlers called directly.
#include "app/form1.h"
#include "filelist/filelist.h"
#include "scantest.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"
#include "support/windowfixture.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::unique_ptr<QMimeData> Files(const QStringList& paths) {
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString& p : paths)
        urls << QUrl::fromLocalFile(p);
    data->setUrls(urls);
    return data;
}

}  // namespace

class TestDrop : public QObject {
    Q_OBJECT

private:
    WindowFixture w_;
    Form1& form() { return *w_.form; }

    QWidget* viewport() { return form().ListView1->viewport(); }
    QPointF middle() { return QPointF(viewport()->rect().center()); }

    // Sends a drag entering and moving over the list; true when the list
    // accepts it.
    bool enterAndMove(const QMimeData* data) {
        QDragEnterEvent enter(middle().toPoint(), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(viewport(), &enter);
        if (!enter.isAccepted())
            return false;
        QDragMoveEvent move(middle().toPoint(), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton,
                            Qt::NoModifier);
        QCoreApplication::sendEvent(viewport(), &move);
        return move.isAccepted();
    }

    // A drag that passes over the list and leaves it again.
    bool dragOver(const QMimeData* data) {
        const bool accepted = enterAndMove(data);
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(viewport(), &leave);
        return accepted;
    }

    // A drag that is dropped on the list; true when the list took the drop.
    // As on a real desktop, the drop only reaches a list that accepted the
    // drag when it entered.
    bool drop(const QMimeData* data) {
        if (!enterAndMove(data)) {
            QDragLeaveEvent leave;
            QCoreApplication::sendEvent(viewport(), &leave);
            return false;
        }
        QDropEvent event(middle(), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport(), &event);
        if (event.isAccepted() && event.dropAction() != Qt::CopyAction)
            qWarning("the drop was not a copy");
        return event.isAccepted();
    }

private slots:
    void init() {
        w_.start();
        w_.load();
    }
    void cleanup() { w_.stop(); }

    void onlyFileListsCanBeDropped_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("text") << 0;
        QTest::newRow("image") << 1;
        QTest::newRow("html") << 2;
        QTest::newRow("web address") << 3;
        QTest::newRow("file and web address") << 4;
        QTest::newRow("nothing") << 5;
        QTest::newRow("only comment lines") << 6;
        QTest::newRow("another host's file") << 7;
    }
    void onlyFileListsCanBeDropped() {
        QFETCH(int, kind);
        QTemporaryDir tmp;
        MakeFile(tmp.path() + "/a.wma");
        QMimeData data;
        switch (kind) {
            case 0:
                data.setText(tmp.path() + "/a.wma");
                break;
            case 1:
                data.setImageData(QImage(4, 4, QImage::Format_RGB32));
                break;
            case 2:
                data.setHtml("<b>song.wma</b>");
                break;
            case 3:
                data.setUrls({QUrl("https://example.org/song.wma")});
                break;
            case 4:
                data.setUrls({QUrl::fromLocalFile(tmp.path() + "/a.wma"), QUrl("https://example.org/b.wma")});
                break;
            case 6:
                data.setData("text/uri-list",
                             "# a comment\r\n#" + QUrl::fromLocalFile(tmp.path()).toEncoded() + "\r\n");
                break;
            case 7:
                data.setData("text/uri-list",
                             "file://elsewhere.example" + QFile::encodeName(tmp.path()) + "/a.wma\r\n");
                break;
            default:
                break;
        }
        QVERIFY(!dragOver(&data));
        QVERIFY(!drop(&data));
        QCOMPARE(form().ListView1_OLEDragOver(&data, 1), 0);
        form().ListView1_OLEDragDrop(&data, 1);
        QCOMPARE(FileListCount(form().ListView1), 0);
        QVERIFY(w_.dialogs->shown.isEmpty());
    }

    void fileListsKeepTheProposedEffect() {
        QTemporaryDir tmp;
        MakeFile(tmp.path() + "/a.wma");
        const auto data = Files({tmp.path() + "/a.wma", tmp.path()});
        QVERIFY(dragOver(data.get()));
        for (int effect : {1, 2, 3})
            QCOMPARE(form().ListView1_OLEDragOver(data.get(), effect), effect);
        QCOMPARE(FileListCount(form().ListView1), 0);
    }

    void droppedFilesJoinTheEndUnchanged() {
        QTemporaryDir tmp;
        const QString t = tmp.path();
        for (const char* f : {"c.txt", "~one.wma", "a.lnk", "old.wma"})
            MakeFile(t + "/" + f);
        AddToFileList(form().ListView1, t + "/old.wma");
        const auto data = Files({t + "/c.txt", t + "/~one.wma", t + "/a.lnk", t + "/old.wma"});
        QVERIFY(drop(data.get()));
        QCOMPARE(ListTexts(form()),
                 QStringList({t + "/old.wma", t + "/c.txt", t + "/~one.wma", t + "/a.lnk", t + "/old.wma"}));
        QVERIFY(w_.dialogs->shown.isEmpty());
    }

    void droppedFolderListsItsTree() {
        QTemporaryDir tmp;
        const QString d = tmp.path() + "/dropped";
        for (const char* f : {"one.wma", "~two.wma", "sub/song.mp3", ".hidden", ".readonly"})
            MakeFile(d + "/" + f);
        ::chmod(QFile::encodeName(d + "/.readonly").constData(), 0444);
        MakeFile(tmp.path() + "/elsewhere/x.wma");
        QVERIFY(QFile::link(tmp.path() + "/elsewhere", d + "/sub/link"));

        const auto data = Files({d});
        QVERIFY(drop(data.get()));
        const QStringList texts = ListTexts(form());
        QCOMPARE(Sorted(texts), QStringList({d + "/.readonly", d + "/one.wma", d + "/sub/song.mp3"}));
        // The folder's own files come before its sub-folder's.
        QCOMPARE(texts.last(), d + "/sub/song.mp3");
        QVERIFY(w_.dialogs->shown.isEmpty());
    }

    void foldersAndFilesInTheDragsOrder_data() {
        QTest::addColumn<QString>("written");  // how the drag's list is written
        QTest::newRow("as Qt writes it") << "urls";
        QTest::newRow("with comment lines") << "comments";
        QTest::newRow("on localhost") << "localhost";
        QTest::newRow("with a name that is not UTF-8") << "latin1";
    }
    void foldersAndFilesInTheDragsOrder() {
        QFETCH(QString, written);
        QTemporaryDir tmp;
        const QString t = tmp.path();
        for (const char* f : {"first/a.wma", "first/deep/b.wma", "second/c.wma", "loose.wma"})
            MakeFile(t + "/" + f);
        QVERIFY(QDir().mkpath(t + "/empty"));

        // A folder URL may end in "/": the items still carry single ones.
        const QList<QUrl> urls = {QUrl::fromLocalFile(t + "/first/"), QUrl::fromLocalFile(t + "/empty"),
                                  QUrl::fromLocalFile(t + "/loose.wma"), QUrl::fromLocalFile(t + "/second")};
        auto data = std::make_unique<QMimeData>();
        if (written == QLatin1String("urls")) {
            data->setUrls(urls);
        } else {
            // A file manager's list (RFC 2483): lines end in CR LF, and a
            // line that begins with "#" is a comment.
            QByteArray list;
            for (const QUrl& url : urls) {
                QByteArray line = url.toEncoded();
                if (written == QLatin1String("localhost"))
                    line.replace("file://", "file://localhost");
                if (written == QLatin1String("comments"))
                    list += "# " + line + "\r\n";
                list += line + "\r\n";
            }
            if (written == QLatin1String("latin1")) {
                // "caf\xe9.wma" in Latin-1 cannot be named in the list's text.
                const QByteArray name = QFile::encodeName(t) + "/caf\xe9.wma";
                QVERIFY(::close(::open(name.constData(), O_CREAT | O_WRONLY, 0644)) == 0);
                list.insert(0, "file://" + name.toPercentEncoding("/") + "\r\n");
            }
            data->setData("text/uri-list", list);
        }
        QVERIFY(drop(data.get()));
        QCOMPARE(ListTexts(form()), QStringList({t + "/first/a.wma", t + "/first/deep/b.wma",
                                                 t + "/loose.wma", t + "/second/c.wma"}));
        QVERIFY(w_.dialogs->shown.isEmpty());
    }

    void emptyFolderAddsNothing() {
        QTemporaryDir tmp;
        QVERIFY(QDir().mkpath(tmp.path() + "/empty/sub"));
        const auto data = Files({tmp.path() + "/empty"});
        QVERIFY(drop(data.get()));
        QCOMPARE(FileListCount(form().ListView1), 0);
        QVERIFY(w_.dialogs->shown.isEmpty());
    }

    void droppedLinkToAFolderIsWalked() {
        QTemporaryDir tmp;
        MakeFile(tmp.path() + "/real/in/a.wma");
        QVERIFY(QFile::link(tmp.path() + "/real", tmp.path() + "/link"));
        form().ListView1_OLEDragDrop(Files({tmp.path() + "/link"}).get(), 0);
        QCOMPARE(ListTexts(form()), QStringList{tmp.path() + "/link/in/a.wma"});
    }

    void dropIgnoresAndKeepsTheHourglassState() {
        QTemporaryDir tmp;
        for (int i = 0; i < 5; ++i)
            MakeFile(QStringLiteral("%1/d%2/x.wma").arg(tmp.path()).arg(i));
        // While the walk yields, the window is not in the hourglass state.
        int pointerDuringWalk = -1;
        QTimer::singleShot(0, this, [&] { pointerDuringWalk = form().MousePointer(); });
        QVERIFY(drop(Files({tmp.path()}).get()));
        QCOMPARE(pointerDuringWalk, 0);
        QCOMPARE(FileListCount(form().ListView1), 5);

        // A drop during a busy command is handled all the same.
        form().SetMousePointer(11);
        QVERIFY(drop(Files({tmp.path()}).get()));
        QCOMPARE(FileListCount(form().ListView1), 10);
        QCOMPARE(form().MousePointer(), 11);
        form().SetMousePointer(0);
    }

    void clearingDuringTheWalkKeepsAppending() {
        QTemporaryDir tmp;
        for (int i = 0; i < 3; ++i)
            MakeFile(QStringLiteral("%1/d%2/x.wma").arg(tmp.path()).arg(i));
        AddToFileList(form().ListView1, "/before.wma");
        // "Clear List" pressed while the dropped folder is walked.
        QTimer::singleShot(0, this, [&] { form().PushButton8_Click(); });
        QVERIFY(drop(Files({tmp.path()}).get()));
        QCOMPARE(FileListCount(form().ListView1), 3);
        QVERIFY(!ListTexts(form()).contains("/before.wma"));
    }
};

QTEST_MAIN(TestDrop)
#include "tst_drop.moc"
