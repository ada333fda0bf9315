// Through the window: "Add WMA File(s)" and the open-file dialog.
#include "listwindow.h"

#include "app/dialogs.h"
#include "app/errorreport.h"
#include "app/startup.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

namespace {

const QString kTitle = QStringLiteral("Add File(s) - Hold Ctrl or Shift to select multiple files");
const QString kTooMany =
    QStringLiteral("You've selected too many files to add.\r\rPlease try adding via the \"Add All\" button.");

QString Nul() {
    return QString(QChar(u'\0'));
}

// A raw result of the dialog: the folder, then each name after a NUL.
QString Several(const QString& folder, const QStringList& names) {
    QString raw = folder;
    for (const QString& name : names)
        raw += Nul() + name;
    return raw;
}

}  // namespace

class TestAddDialog : public QObject {
    Q_OBJECT

private slots:
    void init() { env_ = std::make_unique<TestEnvironment>(); }
    void cleanup() { env_.reset(); }

    void dialogSettings() {
        ListWindow w;
        QVERIFY(w.exposed);
        QTest::mouseClick(w.form->PushButton1, Qt::LeftButton);
        QCOMPARE(w.dialogs.shown.size(), 1);
        const ShownDialog d = w.dialogs.shown[0];
        QCOMPARE(d.kind, ShownDialog::OpenFile);
        QCOMPARE(d.request.fileName, QString());
        QCOMPARE(d.request.flags, 2621953);
        QCOMPARE(d.request.title, kTitle);
        QCOMPARE(d.request.filter, QStringLiteral("Wma Files (*.wma)|*.wma|"));
        QCOMPARE(d.request.maxFileSize, 30000);
    }

    void cancelAddsNothingAndShowsNothing() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add({QStringLiteral("/already.wma")});
        w.dialogs.openAnswers.enqueue(QString());
        QTest::mouseClick(w.form->PushButton1, Qt::LeftButton);
        QCOMPARE(w.texts(), QStringList({QStringLiteral("/already.wma")}));
        QCOMPARE(w.dialogs.shown.size(), 1);  // the dialog itself, nothing after it
        QVERIFY(w.dialogs.messages().isEmpty());
    }

    void oneFileIsAddedUnchanged() {
        ListWindow w;
        QVERIFY(w.exposed);
        // No normalisation for a single file: even a doubled separator stays.
        w.dialogs.openAnswers << QStringLiteral("/Music/song.wma") << QStringLiteral("/Music//odd.wma")
                              << QStringLiteral("//srv/x.WMA");
        for (int i = 0; i < 3; ++i)
            QTest::mouseClick(w.form->PushButton1, Qt::LeftButton);
        QCOMPARE(w.texts(), QStringList({QStringLiteral("/Music/song.wma"), QStringLiteral("/Music//odd.wma"),
                                         QStringLiteral("//srv/x.WMA")}));
        QVERIFY(w.dialogs.messages().isEmpty());
    }

    void threeFilesInTheRootAreJoinedAndNormalised() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.dialogs.openAnswers << Several(
            QStringLiteral("/"),
            {QStringLiteral("one.wma"), QStringLiteral("two.wma"), QStringLiteral("three.wma")});
        QTest::mouseClick(w.form->PushButton1, Qt::LeftButton);
        QCOMPARE(w.texts(), QStringList({QStringLiteral("/one.wma"), QStringLiteral("/two.wma"),
                                         QStringLiteral("/three.wma")}));
        QVERIFY(w.dialogs.messages().isEmpty());
    }

    void severalFilesKeepTheDialogsOrder() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add({QStringLiteral("/first.wma")});
        w.dialogs.openAnswers << Several(QStringLiteral("/home/u/Music"),
                                         {QStringLiteral("b.wma"), QStringLiteral("a.wma"),
                                          QStringLiteral("sub/c.wma"), QStringLiteral("d e.wma")});
        QTest::mouseClick(w.form->PushButton1, Qt::LeftButton);
        QCOMPARE(w.texts(), QStringList({QStringLiteral("/first.wma"), QStringLiteral("/home/u/Music/b.wma"),
                                         QStringLiteral("/home/u/Music/a.wma"),
                                         QStringLiteral("/home/u/Music/sub/c.wma"),
                                         QStringLiteral("/home/u/Music/d e.wma")}));
    }

    void joinedPathsAreNormalisedOnly() {
        ListWindow w;
        QVERIFY(w.exposed);
        // The folder "/a//b" and a name with a doubled separator: the joined
        // paths pass through NormalizePath ("//" to "/", a leading run to one).
        w.dialogs.openAnswers << Several(QStringLiteral("//a//b/"),
                                         {QStringLiteral("x.wma"), QStringLiteral("y//z.wma")});
        QTest::mouseClick(w.form->PushButton1, Qt::LeftButton);
        QCOMPARE(w.texts(), QStringList({QStringLiteral("/a/b/x.wma"), QStringLiteral("/a/b/y/z.wma")}));
    }

    void alreadyListedFilesAreListedAgain() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.dialogs.openAnswers << QStringLiteral("/m/a.wma")
                              << Several(QStringLiteral("/m"),
                                         {QStringLiteral("a.wma"), QStringLiteral("a.wma")});
        QTest::mouseClick(w.form->PushButton1, Qt::LeftButton);
        QTest::mouseClick(w.form->PushButton1, Qt::LeftButton);
        QCOMPARE(w.texts(), QStringList({QStringLiteral("/m/a.wma"), QStringLiteral("/m/a.wma"),
                                         QStringLiteral("/m/a.wma")}));
    }

    void selectionTooLargeAddsNothing() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add({QStringLiteral("/kept.wma")});
        QStringList names;
        QString raw = QStringLiteral("/big/folder");
        for (int i = 0; raw.size() <= 30000; ++i) {
            names << QStringLiteral("track number %1.wma").arg(i, 5, 10, QLatin1Char('0'));
            raw += Nul() + names.last();
        }
        QVERIFY(raw.size() > 30000);
        w.dialogs.openAnswers << raw;
        QTest::mouseClick(w.form->PushButton1, Qt::LeftButton);

        QCOMPARE(w.texts(), QStringList({QStringLiteral("/kept.wma")}));
        QCOMPARE(w.dialogs.shown.size(), 2);
        const ShownDialog box = w.dialogs.shown[1];
        QCOMPARE(box.kind, ShownDialog::Message);
        QCOMPARE(box.text, kTooMany);
        QCOMPARE(box.style, int(vbOKOnly));  // OK only, no icon
        QCOMPARE(box.title, AppTitle());     // no caption of its own
        QCOMPARE(box.title, QStringLiteral("Brenvale"));
        QVERIFY(!box.text.contains(QLatin1Char('\n')));
    }

    void selectionThatJustFitsIsAdded() {
        ListWindow w;
        QVERIFY(w.exposed);
        QString raw = QStringLiteral("/f");
        int count = 0;
        while (raw.size() + 10 <= 30000) {
            raw += Nul() + QStringLiteral("%1.wma").arg(count, 5, 10, QLatin1Char('0'));
            ++count;
        }
        raw += Nul() + QString(30000 - raw.size() - 1, QLatin1Char('z'));
        QCOMPARE(raw.size(), 30000);
        w.dialogs.openAnswers << raw;
        QTest::mouseClick(w.form->PushButton1, Qt::LeftButton);
        QCOMPARE(FileListCount(w.list()), count + 1);
        QCOMPARE(FileListText(w.list(), 1), QStringLiteral("/f/00000.wma"));
        QVERIFY(w.dialogs.messages().isEmpty());
    }

    void tooManyRaisedByTheDialogEndsTheCommand() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.dialogs.openAnswers << Several(QStringLiteral("/m"), {QStringLiteral("a.wma")});
        w.dialogs.whileShown = [](const ShownDialog& d) {
            if (d.kind == ShownDialog::OpenFile)
                RaiseError(20476, QStringLiteral("Buffer too small"));
        };
        QTest::mouseClick(w.form->PushButton1, Qt::LeftButton);
        QCOMPARE(FileListCount(w.list()), 0);
        QCOMPARE(w.dialogs.messages(), QStringList({kTooMany}));
    }

    void otherFailureOfTheDialogIsReportedAtLine112() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.dialogs.whileShown = [](const ShownDialog& d) {
            if (d.kind == ShownDialog::OpenFile)
                RaiseError(5);
        };
        QTest::mouseClick(w.form->PushButton1, Qt::LeftButton);
        QCOMPARE(FileListCount(w.list()), 0);
        const QList<ShownDialog> boxes = w.dialogs.ofKind(ShownDialog::Message);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text, QStringLiteral("Invalid procedure call or argument\r\n"
                                               "in Tarnwick2021/08/31.Form1.PushButton1_Click at line 112\r\r"
                                               "Please email screenshot of this message to ") +
                                    QLatin1String(kSupportAddress));
        QCOMPARE(boxes[0].title, QStringLiteral("Application Error"));
        QCOMPARE(boxes[0].style, 48);

        // The next press works as usual.
        w.dialogs.whileShown = nullptr;
        w.dialogs.shown.clear();
        w.dialogs.openAnswers << QStringLiteral("/ok.wma");
        QTest::mouseClick(w.form->PushButton1, Qt::LeftButton);
        QCOMPARE(w.texts(), QStringList({QStringLiteral("/ok.wma")}));
        QVERIFY(w.dialogs.messages().isEmpty());
    }

    void addingWorksDuringTheHourglass() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add({QStringLiteral("/running/1.wma"), QStringLiteral("/running/2.wma")});
        w.form->SetMousePointer(kPointerHourglass);
        w.dialogs.openAnswers << Several(QStringLiteral("/more"),
                                         {QStringLiteral("x.wma"), QStringLiteral("y.wma")})
                              << QStringLiteral("/more/z.wma");
        QTest::mouseClick(w.form->PushButton1, Qt::LeftButton);
        QTest::mouseClick(w.form->PushButton1, Qt::LeftButton);
        QCOMPARE(w.texts(), QStringList({QStringLiteral("/running/1.wma"), QStringLiteral("/running/2.wma"),
                                         QStringLiteral("/more/x.wma"), QStringLiteral("/more/y.wma"),
                                         QStringLiteral("/more/z.wma")}));
        QCOMPARE(w.form->MousePointer(), int(kPointerHourglass));
        QVERIFY(w.dialogs.messages().isEmpty());
    }

    void realDialogTitleFilterAndChoice() {
        // The program's own dialogs: the open-file dialog shows the title and
        // the filter, and the files chosen in it join the list.
        QTemporaryDir folder;
        MakeFile(folder.path() + QStringLiteral("/b.wma"));
        MakeFile(folder.path() + QStringLiteral("/a.wma"));
        MakeFile(folder.path() + QStringLiteral("/c.mp3"));
        QtDialogs real;
        Form1 form(real, BuildProgramFolder());
        real.setOwner(&form);
        form.setEndProcessForTests([] {});
        form.Form_Load();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        QString title;
        QStringList filters;
        bool multi = false;
        bool seen = false;
        auto choose = [&](const QStringList& names) {
            QTimer::singleShot(0, [&, names] {
                auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                if (!dialog) {
                    for (QWidget* top : QApplication::topLevelWidgets())
                        if (auto* d = qobject_cast<QFileDialog*>(top); d && d->isVisible())
                            dialog = d;
                }
                if (!dialog)
                    return;
                seen = true;
                title = dialog->windowTitle();
                filters = dialog->nameFilters();
                multi = dialog->fileMode() == QFileDialog::ExistingFiles;
                dialog->setDirectory(folder.path());
                QStringList quoted;
                for (const QString& name : names)
                    quoted << QLatin1Char('"') + name + QLatin1Char('"');
                dialog->selectFile(quoted.join(QLatin1Char(' ')));
                if (names.isEmpty())
                    dialog->reject();
                else
                    static_cast<QDialog*>(dialog)->accept();
            });
        };

        choose({QStringLiteral("b.wma"), QStringLiteral("a.wma")});
        QTest::mouseClick(form.PushButton1, Qt::LeftButton);
        QVERIFY(seen);
        QCOMPARE(title, kTitle);
        QCOMPARE(filters, QStringList({QStringLiteral("Wma Files (*.wma)")}));
        QVERIFY(multi);
        QStringList listed;
        for (int i = 1; i <= FileListCount(form.ListView1); ++i)
            listed << FileListText(form.ListView1, i);
        QCOMPARE(listed.size(), 2);
        listed.sort();
        const QString base = QDir(folder.path()).canonicalPath();
        QCOMPARE(listed, QStringList({base + QStringLiteral("/a.wma"), base + QStringLiteral("/b.wma")}));

        seen = false;
        choose({});
        QTest::mouseClick(form.PushButton1, Qt::LeftButton);
        QVERIFY(seen);
        QCOMPARE(FileListCount(form.ListView1), 2);
    }

private:
    std::unique_ptr<TestEnvironment> env_;
};

QTEST_MAIN(TestAddDialog)
#include "tst_adddialog.moc"
