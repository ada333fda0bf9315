// "Add All WMA File(s) In Folder" through the main window, with the user's
// answers scripted.
#include "app/dialogs.h"
#include "app/errorreport.h"
#include "app/form1.h"
#include "app/settings.h"
#include "app/startup.h"
#include "filelist/filelist.h"
#include "folderscan/addall.h"
#include "folderscan/folderlisting.h"
#include "scantest.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"
#include "support/windowfixture.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <sys/stat.h>

namespace {

const QString kPrompt = QStringLiteral(
    "Enter file extension to load:\r\r(* for all files, txt for all txt files, doc for all doc files, etc.)");

// Every file of a tree, folder by folder, breadth first, each folder's files
// in the order the file system lists them; links to folders are not
// followed.
QStringList TreeOrder(const QString& root) {
    QStringList folders{root};
    for (qsizetype i = 0; i < folders.size(); ++i)
        for (const QString& name : ReaddirOrder(folders[i], true, false))
            folders << folders[i] + "/" + name;
    QStringList files;
    for (const QString& f : folders)
        for (const QString& name : ReaddirOrder(f, false))
            files << f + "/" + name;
    return files;
}

// A tree with every kind of name the command treats differently.
void MakeTree(const QString& t) {
    for (const char* f :
         {"one.wma", "~skip.wma", "a~b.wma", ".hidden.wma", ".readonly.wma", "notes.txt", "song.mp3",
          "README", "x..wma", "sub/two.wma", "sub/~temp.wma", "sub/deeper/three.WMA", "sub/deeper/four.mp3",
          ".dotdir/five.wma", "target/six.wma"})
        MakeFile(t + "/" + f);
    ::chmod(QFile::encodeName(t + "/.readonly.wma").constData(), 0444);
    QVERIFY(QFile::link(t + "/target", t + "/sub/link"));
}

}  // namespace

class TestAddAll : public QObject {
    Q_OBJECT

private:
    WindowFixture w_;

    Form1& form() { return *w_.form; }
    ScriptedDialogs& dialogs() { return *w_.dialogs; }

    void press(const QString& extension, const QString& folder = QString()) {
        dialogs().inputAnswers.enqueue(extension);
        if (!folder.isNull())
            dialogs().folderAnswers.enqueue(folder);
        form().PushButton3_Click();
    }

private slots:
    void init() {
        w_.start();
        w_.load();
    }
    void cleanup() { w_.stop(); }

    void cancellingTheExtensionChangesNothing() {
        form().PushButton3_Click();  // cancelled: the input box gives ""
        QCOMPARE(dialogs().shown.size(), 1);
        const ShownDialog& box = dialogs().shown[0];
        QCOMPARE(box.kind, ShownDialog::Input);
        QCOMPARE(box.text, kPrompt);
        QCOMPARE(box.title, AppTitle());
        QCOMPARE(box.defaultText, QStringLiteral("wma"));
        QVERIFY(!w_.env->storeContains("Extension"));
        QVERIFY(!w_.env->storeContains("LastFolder"));
        QCOMPARE(FileListCount(form().ListView1), 0);
        QCOMPARE(form().MousePointer(), 0);
    }

    void cancellingTheFolderKeepsTheExtension() {
        press("mp3");
        QCOMPARE(dialogs().shown.size(), 2);
        const ShownDialog& picker = dialogs().shown[1];
        QCOMPARE(picker.kind, ShownDialog::Folder);
        QCOMPARE(picker.text, QStringLiteral("Please select folder:"));
        QCOMPARE(picker.defaultText, QString());
        QCOMPARE(GetBrenvaleSetting("Extension"), QStringLiteral("mp3"));
        QVERIFY(!w_.env->storeContains("LastFolder"));
        QCOMPARE(FileListCount(form().ListView1), 0);
        QCOMPARE(form().MousePointer(), 0);

        // The next press proposes what was typed last.
        dialogs().clear();
        form().PushButton3_Click();
        QCOMPARE(dialogs().shown[0].defaultText, QStringLiteral("mp3"));
    }

    void extensions_data() {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QStringList>("expected");  // relative to the tree, sorted
        QTest::newRow("wma") << "wma"
                             << QStringList({".dotdir/five.wma", ".readonly.wma", "a~b.wma", "one.wma",
                                             "sub/deeper/three.WMA", "sub/two.wma", "target/six.wma",
                                             "x..wma"});
        QTest::newRow("upper case") << "WMA"
                                    << QStringList({".dotdir/five.wma", ".readonly.wma", "a~b.wma", "one.wma",
                                                    "sub/deeper/three.WMA", "sub/two.wma", "target/six.wma",
                                                    "x..wma"});
        QTest::newRow("every file") << "*"
                                    << QStringList({".dotdir/five.wma", ".readonly.wma", "README", "a~b.wma",
                                                    "notes.txt", "one.wma", "song.mp3", "sub/deeper/four.mp3",
                                                    "sub/deeper/three.WMA", "sub/two.wma", "target/six.wma",
                                                    "x..wma"});
        QTest::newRow("mp3") << "mp3" << QStringList({"song.mp3", "sub/deeper/four.mp3"});
        QTest::newRow("leading dot") << ".wma" << QStringList({"x..wma"});
        QTest::newRow("no such files") << "flac" << QStringList();
    }
    void extensions() {
        QFETCH(QString, extension);
        QFETCH(QStringList, expected);
        QTemporaryDir tmp;
        const QString t = tmp.path() + "/tree";
        MakeTree(t);

        press(extension, t);
        const QStringList texts = ListTexts(form());
        QStringList relative;
        for (const QString& text : texts) {
            QVERIFY2(text.startsWith(t + "/"), qPrintable(text));
            relative << text.mid(t.size() + 1);
        }
        QCOMPARE(Sorted(relative), expected);
        // Folder by folder, breadth first, in listing order.
        QStringList order;
        for (const QString& path : TreeOrder(t))
            if (expected.contains(path.mid(t.size() + 1)))
                order << path;
        QCOMPARE(texts, order);

        QCOMPARE(GetBrenvaleSetting("Extension"), extension);
        QCOMPARE(GetBrenvaleSetting("LastFolder"), t);
        QVERIFY(dialogs().messages().isEmpty());
        QCOMPARE(form().MousePointer(), 0);
    }

    void choicesAreRemembered() {
        QTemporaryDir tmp;
        MakeFile(tmp.path() + "/a.ogg");
        press("ogg", tmp.path());
        dialogs().clear();
        press("");
        QCOMPARE(dialogs().shown.size(), 1);
        QCOMPARE(dialogs().shown[0].defaultText, QStringLiteral("ogg"));
        press("ogg");
        QCOMPARE(dialogs().shown.last().kind, ShownDialog::Folder);
        QCOMPARE(dialogs().shown.last().defaultText, tmp.path());
    }

    void folderChosenTwiceAddsItsFilesTwice() {
        QTemporaryDir tmp;
        MakeFile(tmp.path() + "/a.wma");
        MakeFile(tmp.path() + "/b/c.wma");
        press("wma", tmp.path());
        const QStringList once = ListTexts(form());
        QCOMPARE(once.size(), 2);
        press("wma", tmp.path());
        QCOMPARE(ListTexts(form()), once + once);
    }

    void throughTheButtonWithTheHourglassAndAPaintingWindow() {
        QTemporaryDir tmp;
        for (int i = 0; i < 20; ++i)
            MakeFile(QStringLiteral("%1/d%2/e/f.wma").arg(tmp.path()).arg(i));
        dialogs().inputAnswers.enqueue("wma");
        dialogs().folderAnswers.enqueue(tmp.path());
        // Runs while the walk yields: the window is in the hourglass state.
        int pointerDuringWalk = -1;
        Qt::CursorShape shapeDuringWalk = Qt::ArrowCursor;
        dialogs().whileShown = [&](const ShownDialog& d) {
            if (d.kind == ShownDialog::Folder)
                QTimer::singleShot(0, this, [&] {
                    pointerDuringWalk = form().MousePointer();
                    shapeDuringWalk = form().cursor().shape();
                });
        };
        QTest::mouseClick(form().PushButton3, Qt::LeftButton);
        QCOMPARE(pointerDuringWalk, 11);
        QCOMPARE(shapeDuringWalk, Qt::WaitCursor);
        QCOMPARE(form().MousePointer(), 0);
        QCOMPARE(FileListCount(form().ListView1), 20);
    }

    void failuresAreReportedAtTheirLines() {
        // A settings store that cannot be written: every save fails.
        QFile::remove(w_.env->settingsFile());
        QVERIFY(QDir().mkpath(w_.env->settingsFile()));
        QTemporaryDir tmp;
        MakeFile(tmp.path() + "/a.wma");
        press("wma", tmp.path());
        const QString location = FormLocation("PushButton3_Click");
        QStringList lines;
        for (const QString& text : dialogs().messages()) {
            QVERIFY2(text.contains("\r\n" + location + "at line "), qPrintable(text));
            lines << text.section("at line ", 1).section('\r', 0, 0);
        }
        QCOMPARE(lines, QStringList({"100", "104", "334"}));
        // The command carried on after each report.
        QCOMPARE(ListTexts(form()), QStringList{tmp.path() + "/a.wma"});
        QCOMPARE(form().MousePointer(), 0);
    }

    void rootGivesSingleSeparators() {
        // The walk from "/" sees only the way down to a temporary tree, so
        // that it stays short.
        QTemporaryDir tmp;
        const QString tree = QDir(tmp.path()).canonicalPath() + "/tree";
        MakeFile(tree + "/a.brvroot");
        MakeFile(tree + "/sub/b.brvroot");
        class PathToTree : public FolderSystem {
        public:
            QString tree;
            void ForEachSubFolder(const QString& folder,
                                  const std::function<void(const QString&)>& onName) const override {
                const QString clean = QDir::cleanPath(folder);
                const QString prefix = clean == "/" ? clean : clean + "/";
                if (tree.startsWith(prefix) && tree != clean) {
                    onName(tree.mid(prefix.size()).section('/', 0, 0));
                    return;
                }
                FolderSystem::ForEachSubFolder(folder, onName);
            }
        } fs;
        fs.tree = tree;
        ErrorTrap trap(dialogs(), FormLocation("PushButton3_Click"));
        QStringList added;
        AddAllFilesInTree(
            trap, dialogs(), "/", "brvroot", [&](const QString& p) { added << p; }, fs);
        QCOMPARE(added, QStringList({tree + "/a.brvroot", tree + "/sub/b.brvroot"}));
        QVERIFY(dialogs().shown.isEmpty());
    }

    void deniedFoldersContributeNothing() {
        QTemporaryDir tmp;
        const QString t = tmp.path();
        for (const char* f : {"a/x.wma", "deny1/y.wma", "deny1/in/z.wma", "deny2/w.wma", "b/c/v.wma"})
            MakeFile(t + "/" + f);
        class Denying : public FolderSystem {
        public:
            QString root;
            void ForEachSubFolder(const QString& folder,
                                  const std::function<void(const QString&)>& onName) const override {
                if (folder == root + "/deny1/" || folder == root + "/deny2/")
                    RaiseError(70);
                FolderSystem::ForEachSubFolder(folder, onName);
            }
        } fs;
        fs.root = t;
        ErrorTrap trap(dialogs(), FormLocation("PushButton3_Click"));
        QStringList added;
        AddAllFilesInTree(
            trap, dialogs(), t, "wma", [&](const QString& p) { added << p; }, fs);
        QCOMPARE(Sorted(added), QStringList({t + "/a/x.wma", t + "/b/c/v.wma"}));
        QVERIFY(dialogs().shown.isEmpty());
        QCOMPARE(trap.reports(), 0);
    }
};

QTEST_MAIN(TestAddAll)
#include "tst_addall.moc"
