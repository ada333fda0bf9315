// The folder walk and the file listing on real folder trees, with a view of
// the file system that can make chosen folders fail.
#include "app/errorreport.h"
#include "folderscan/addall.h"
#include "folderscan/folderlisting.h"
#include "scantest.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kWalkLocation = QStringLiteral("in FenholtTitle2021/08/31.AddFolder.GetSubDirectories2016 ");

void MakeDir(const QString& path) {
    QVERIFY2(QDir().mkpath(path), qPrintable(path));
}

// A view of the real file system in which chosen folders fail.
class FailingFolders : public FolderSystem {
public:
    // Enumerating one of these folders raises its error number after
    // handing out `after` sub-folders.
    struct Failure {
        int number;
        int after = 0;
    };
    QHash<QString, Failure> enumerationFailures;
    // Reading the attributes of one of these raises its error number.
    QHash<QString, int> attributeFailures;
    // Attribute values to report instead of the real ones.
    QHash<QString, int> attributeOverrides;
    QSet<QString> roots;

    int Attributes(const QString& folder) const override {
        if (attributeFailures.contains(folder))
            RaiseError(attributeFailures.value(folder));
        if (attributeOverrides.contains(folder))
            return attributeOverrides.value(folder);
        return FolderSystem::Attributes(folder);
    }
    int ChosenFolderAttributes(const QString& folder) const override {
        if (attributeFailures.contains(folder) || attributeOverrides.contains(folder))
            return Attributes(folder);
        return FolderSystem::ChosenFolderAttributes(folder);
    }
    bool IsRootFolder(const QString& folder) const override {
        return roots.contains(folder) || FolderSystem::IsRootFolder(folder);
    }
    void ForEachSubFolder(const QString& folder,
                          const std::function<void(const QString&)>& onName) const override {
        if (!enumerationFailures.contains(folder)) {
            FolderSystem::ForEachSubFolder(folder, onName);
            return;
        }
        const Failure failure = enumerationFailures.value(folder);
        int handed = 0;
        FolderSystem::ForEachSubFolder(folder, [&](const QString& name) {
            if (handed == failure.after)
                RaiseError(failure.number);
            ++handed;
            onName(name);
        });
        RaiseError(failure.number);
    }
};

QStringList Walk(ScriptedDialogs& dialogs, QStringList folders, bool recursive = true) {
    GetSubDirectories2016(dialogs, folders, recursive);
    return folders;
}

QStringList Walk(ScriptedDialogs& dialogs, QStringList folders, const FolderSystem& fs,
                 bool recursive = true) {
    GetSubDirectories2016(dialogs, folders, recursive, fs);
    return folders;
}

// A folder entry below base (ending in "/") of exactly `bytes` encoded
// bytes, made of names of `fill` characters of at most 200 bytes, the last
// one topped up with "a".
QString EntryOfBytes(const QString& base, int bytes, QChar fill) {
    const int fillBytes = QString(fill).toUtf8().size();
    QString entry = base;
    for (;;) {
        const int left = bytes - int(entry.toUtf8().size()) - 1;  // room for a name before its "/"
        if (left <= 250) {
            const int n = left / fillBytes;
            return entry + QString(n, fill) + QString(left - n * fillBytes, u'a') + "/";
        }
        entry += QString(200 / fillBytes, fill) + "/";
    }
}

// Opens a folder given as a set's entry (ending in "/").
int OpenEntry(const QString& entry) {
    return ::open(QFile::encodeName(entry.chopped(1)).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// Makes a folder or an empty file in an existing folder, relative to it, so
// that its whole path may be longer than any call accepts.
void MakeDirAt(const QString& entry, const char* name) {
    const int fd = OpenEntry(entry);
    QVERIFY(fd >= 0);
    QCOMPARE(::mkdirat(fd, name, 0755), 0);
    ::close(fd);
}
void MakeFileAt(const QString& entry, const char* name) {
    const int fd = OpenEntry(entry);
    QVERIFY(fd >= 0);
    const int file = ::openat(fd, name, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    QVERIFY(file >= 0);
    ::close(file);
    ::close(fd);
}

void RemoveAt(const QString& entry, const char* name, int flags = 0) {
    const int fd = OpenEntry(entry);
    QVERIFY(fd >= 0);
    QCOMPARE(::unlinkat(fd, name, flags), 0);
    ::close(fd);
}

QStringList Relative(const QString& base, const QStringList& paths) {
    QStringList out;
    for (const QString& p : paths)
        out << (p.startsWith(base) ? p.mid(base.size()) : p);
    return out;
}

int Depth(const QString& relative) {
    return relative.count(u'/');
}

}  // namespace

class TestFolderListing : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { env_ = std::make_unique<TestEnvironment>(); }

    void breadthFirstInEnumerationOrder() {
        QTemporaryDir tmp;
        const QString t = tmp.path() + "/tree";
        for (const char* p : {"b/b2/b21", "b/b1", "a/a3", "a/a1/a11/a111", "a/a2", "c", "d/d1/d11"})
            MakeDir(t + "/" + p);
        MakeFile(t + "/a/file.wma");
        MakeFile(t + "/c/other.txt");

        ScriptedDialogs dialogs;
        const QStringList result = Walk(dialogs, {t + "/"});
        QVERIFY(dialogs.shown.isEmpty());
        QCOMPARE(result.first(), t + "/");

        // Every folder of the tree once, each ending in "/", files never.
        QStringList sorted = Relative(t + "/", result);
        sorted.sort();
        QCOMPARE(sorted,
                 QStringList({"", "a/", "a/a1/", "a/a1/a11/", "a/a1/a11/a111/", "a/a2/", "a/a3/", "b/",
                              "b/b1/", "b/b2/", "b/b2/b21/", "c/", "d/", "d/d1/", "d/d1/d11/"}));

        // Level by level: depths never decrease along the result.
        const QStringList relative = Relative(t + "/", result);
        for (int i = 1; i < relative.size(); ++i)
            QVERIFY2(Depth(relative[i - 1]) <= Depth(relative[i]), qPrintable(relative.join(' ')));

        // Within a level, folders follow their parents' order, and the
        // children of one parent come by name.
        QCOMPARE(relative,
                 QStringList({"", "a/", "b/", "c/", "d/", "a/a1/", "a/a2/", "a/a3/", "b/b1/", "b/b2/",
                              "d/d1/", "a/a1/a11/", "b/b2/b21/", "d/d1/d11/", "a/a1/a11/a111/"}));
    }

    void startingEntriesComeFirstAndAreKept() {
        QTemporaryDir tmp;
        const QString t = tmp.path();
        MakeDir(t + "/one/sub");
        MakeDir(t + "/two/sub");
        MakeDir(t + "/leaf");
        ScriptedDialogs dialogs;

        // A folder without sub-folders leaves the set as it was.
        QCOMPARE(Walk(dialogs, {t + "/leaf/"}), QStringList{t + "/leaf/"});

        // Starting entries (a duplicate and a missing folder included) stay
        // first and in their order; the deeper levels follow.
        const QStringList start{t + "/two/", t + "/missing/", t + "/one/", t + "/two/"};
        const QStringList result = Walk(dialogs, start);
        QCOMPARE(result.mid(0, 4), start);
        QCOMPARE(result.mid(4), QStringList({t + "/two/sub/", t + "/one/sub/", t + "/two/sub/"}));
        QVERIFY(dialogs.shown.isEmpty());
    }

    void recursionOffGivesOneLevel() {
        QTemporaryDir tmp;
        const QString t = tmp.path();
        MakeDir(t + "/a/deep/deeper");
        MakeDir(t + "/b");
        ScriptedDialogs dialogs;
        QStringList result = Walk(dialogs, {t + "/"}, false);
        QCOMPARE(result.first(), t + "/");
        result.removeFirst();
        result.sort();
        QCOMPARE(result, QStringList({t + "/a/", t + "/b/"}));
    }

    void rootIsEnteredWithoutItsHiddenSystemFolders() {
        // One level below the real root: kernel pseudo file systems and
        // links to folders (such as /bin on a merged /usr) are left out.
        ScriptedDialogs dialogs;
        const QStringList result = Walk(dialogs, {"//"}, false);
        QCOMPARE(result.first(), QStringLiteral("//"));
        QVERIFY(result.contains("//usr/"));
        QVERIFY(result.contains("//etc/"));
        if (QFileInfo("/proc/self").exists())
            QVERIFY(!result.contains("//proc/"));
        for (const QString& name : ReaddirOrder("/", true)) {
            const QFileInfo info("/" + name);
            if (info.isSymLink())
                QVERIFY2(!result.contains("//" + name + "/"), qPrintable(name));
        }
        QVERIFY(dialogs.shown.isEmpty());
    }

    void hiddenSystemFoldersAreNeitherEnteredNorReturned() {
        QTemporaryDir tmp;
        const QString t = tmp.path();
        MakeDir(t + "/plain/child");
        MakeDir(t + "/.dotted/child");   // hidden only (18): entered
        MakeDir(t + "/system/child");    // made 22 below
        MakeDir(t + "/archived/child");  // made 54 below
        MakeDir(t + "/target/child");
        QVERIFY(QFile::link(t + "/target", t + "/plain/link"));  // 1046
        QVERIFY(QFile::link(t, t + "/plain/child/cycle"));       // a loop
        if (QFileInfo("/proc/self").exists())
            QVERIFY(QFile::link("/proc", t + "/procfs"));

        FailingFolders fs;
        fs.attributeOverrides.insert(t + "/system/", 22);
        fs.attributeOverrides.insert(t + "/archived/", 54);
        ScriptedDialogs dialogs;
        QStringList result = Relative(t + "/", Walk(dialogs, {t + "/"}, fs));
        result.sort();
        QCOMPARE(result, QStringList({"", ".dotted/", ".dotted/child/", "archived/", "archived/child/",
                                      "plain/", "plain/child/", "target/", "target/child/"}));
        QVERIFY(dialogs.shown.isEmpty());
    }

    void rootFolderIsEnteredWhateverItsAttributes() {
        QTemporaryDir tmp;
        const QString t = tmp.path();
        MakeDir(t + "/drive/sub");
        MakeDir(t + "/system/sub");
        FailingFolders fs;
        fs.attributeOverrides.insert(t + "/drive/", 22);
        fs.attributeOverrides.insert(t + "/system/", 22);
        fs.roots.insert(t + "/drive/");
        ScriptedDialogs dialogs;
        QCOMPARE(Walk(dialogs, {t + "/drive/"}, fs), QStringList({t + "/drive/", t + "/drive/sub/"}));
        // A chosen hidden system folder that is no root stays, unentered.
        QCOMPARE(Walk(dialogs, {t + "/system/"}, fs), QStringList{t + "/system/"});
    }

    void chosenLinkIsWalked() {
        QTemporaryDir tmp;
        const QString t = tmp.path();
        MakeDir(t + "/real/a/b");
        QVERIFY(QFile::link(t + "/real", t + "/link"));
        ScriptedDialogs dialogs;
        QCOMPARE(Walk(dialogs, {t + "/link/"}),
                 QStringList({t + "/link/", t + "/link/a/", t + "/link/a/b/"}));
    }

    void unsafeNamesAreSkippedWithTheirSubtrees() {
        QTemporaryDir tmp;
        const QString t = tmp.path();
        MakeDir(t + "/ok");
        MakeDir(t + QString::fromUtf8("/caf\u00e9/x"));
        MakeDir(t + QString::fromUtf8("/\u65e5\u672c/x"));
        MakeDir(t + "/what?/x");  // a literal "?" is an ordinary character here
        MakeDir(t + "/tab\there/x");
        MakeDir(t + "/del\x7f/x");
        MakeDir(t + QString(QChar(0x85)) + "nel/x");
        // A name whose bytes are not UTF-8.
        const QByteArray raw = QFile::encodeName(t) + "/bad\xff\xfe";
        QCOMPARE(::mkdir(raw.constData(), 0755), 0);
        QCOMPARE(::mkdir((raw + "/x").constData(), 0755), 0);

        ScriptedDialogs dialogs;
        QStringList result = Relative(t + "/", Walk(dialogs, {t + "/"}));
        result.sort();
        QStringList expected{"",
                             "ok/",
                             "what?/",
                             "what?/x/",
                             QString::fromUtf8("caf\u00e9/"),
                             QString::fromUtf8("caf\u00e9/x/"),
                             QString::fromUtf8("\u65e5\u672c/"),
                             QString::fromUtf8("\u65e5\u672c/x/")};
        expected.sort();
        QCOMPARE(result, expected);
    }

    void hasUnsafeNameChars_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("unsafe");
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("plain") << QStringLiteral("Music 2021") << false;
        QTest::newRow("blank and tilde") << QStringLiteral(" ~") << false;
        QTest::newRow("question mark") << QStringLiteral("why?") << false;
        QTest::newRow("code 31") << QStringLiteral("a\x1f") << true;
        QTest::newRow("newline") << QStringLiteral("a\nb") << true;
        QTest::newRow("code 127") << QStringLiteral("\x7f") << true;
        QTest::newRow("code 128") << QString(QChar(0x80)) << true;
        QTest::newRow("code 159") << QString(QChar(0x9f)) << true;
        QTest::newRow("code 160") << QString(QChar(0xa0)) << false;
        QTest::newRow("accented") << QString::fromUtf8("Bj\u00f6rk") << false;
        QTest::newRow("cjk") << QString::fromUtf8("\u97f3\u697d") << false;
        QTest::newRow("outside the BMP") << QString::fromUtf8("\U0001F3B5") << false;
        QTest::newRow("unrepresentable") << QString::fromUtf8("a\ufffdb") << true;
        QTest::newRow("unsafe at the end") << QStringLiteral("abcdef\x01") << true;
    }
    void hasUnsafeNameChars() {
        QFETCH(QString, name);
        QFETCH(bool, unsafe);
        QCOMPARE(HasUnsafeNameChars(name), unsafe);
    }

    void pathLengthLimit() {
        // The system's limits count encoded bytes: an entry whose path, "/"
        // included, is shorter than 4096 bytes is entered, and a listed file
        // whose path is shorter than 4096 bytes is listed.
        QTemporaryDir tmp;
        const QString base = tmp.path() + "/";
        const QString e4094 = EntryOfBytes(base + "a/", 4094, u'a');
        // 4096 bytes in fewer than 2,100 characters.
        const QString e4096 = EntryOfBytes(base + "b/", 4096, QChar(0xe9));
        QCOMPARE(QFile::encodeName(e4094).size(), 4094);
        QCOMPARE(QFile::encodeName(e4096).size(), 4096);
        QVERIFY(e4096.size() < 2100);
        MakeDir(e4094 + "s");
        MakeDir(e4096);
        MakeDirAt(e4096, "s");
        MakeFileAt(e4094, "x");   // a path of 4095 bytes
        MakeFileAt(e4094, "xy");  // 4096 bytes: no call can name it

        ScriptedDialogs dialogs;
        QCOMPARE(Walk(dialogs, {e4094}), QStringList({e4094, e4094 + "s/"}));
        QCOMPARE(Walk(dialogs, {e4096}), QStringList{e4096});
        // Found deeper down: a 4096-byte folder is returned but not entered.
        QCOMPARE(Walk(dialogs, {base + "b/"}).last(), e4096);
        QVERIFY(Walk(dialogs, {base}).contains(e4094 + "s/"));

        const QString folder = e4094.chopped(1);
        QCOMPARE(ListFilesInFolder(folder, "*.*").names(), QStringList{"x"});
        ErrorTrap trap(dialogs, FormLocation("PushButton3_Click"));
        QStringList added;
        AddAllFilesInTree(trap, dialogs, base.chopped(1), "*", [&](const QString& p) { added << p; });
        QCOMPARE(added, QStringList{folder + "/x"});
        QVERIFY(dialogs.shown.isEmpty());
        RemoveAt(e4094, "xy");
        RemoveAt(e4096, "s", AT_REMOVEDIR);
    }

    void siblingsThatDenyAccessAreRemovedSilently_data() {
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("removed");
        QTest::newRow("permission denied") << 70 << true;
        QTest::newRow("path not found") << 76 << true;
        QTest::newRow("other failure") << 57 << false;
    }
    void siblingsThatDenyAccessAreRemovedSilently() {
        QFETCH(int, number);
        QFETCH(bool, removed);
        QTemporaryDir tmp;
        const QString t = tmp.path() + "/";
        for (const char* p : {"a/a1/a11", "deny1/x", "deny2/y", "z/z1"})
            MakeDir(t + p);
        FailingFolders fs;
        fs.enumerationFailures.insert(t + "deny1/", {number});
        fs.enumerationFailures.insert(t + "deny2/", {number});

        ScriptedDialogs dialogs;
        QStringList result = Relative(t, Walk(dialogs, {t}, fs));
        result.sort();
        QStringList expected{"", "a/", "a/a1/", "a/a1/a11/", "z/", "z/z1/"};
        if (!removed)
            expected << "deny1/"
                     << "deny2/";
        expected.sort();
        QCOMPARE(result, expected);
        QVERIFY2(dialogs.shown.isEmpty(), qPrintable(dialogs.messages().join('\n')));
    }

    void failureMidwayKeepsWhatWasFound() {
        QTemporaryDir tmp;
        const QString t = tmp.path() + "/";
        for (const char* p : {"p/one/deep", "p/two", "p/three"})
            MakeDir(t + p);
        const QStringList order = ReaddirOrder(t + "p", true);
        FailingFolders fs;
        fs.enumerationFailures.insert(t + "p/", {70, 1});
        ScriptedDialogs dialogs;
        const QStringList result = Walk(dialogs, {t, t + "p/"}, fs);
        // p itself goes; the sub-folder handed out before the failure stays,
        // subtree and all.
        QCOMPARE(result.mid(0, 1), QStringList{t});
        QVERIFY(result.contains(t + "p/" + order[0] + "/"));
        QVERIFY(!result.contains(t + "p/" + order[1] + "/"));
        QVERIFY(!result.contains(t + "p/" + order[2] + "/"));
        if (order[0] == "one")
            QVERIFY(result.contains(t + "p/one/deep/"));
        QVERIFY(dialogs.shown.isEmpty());
    }

    void deniedFolderOfARealUser() {
        if (::geteuid() == 0)
            QSKIP("Runs as root, whom no folder permission stops; the seam tests cover this case.");
        QTemporaryDir tmp;
        const QString t = tmp.path() + "/";
        for (const char* p : {"a/a1", "deny1/x", "deny2/y", "z"})
            MakeDir(t + p);
        ::chmod(QFile::encodeName(t + "deny1").constData(), 0);
        ::chmod(QFile::encodeName(t + "deny2").constData(), 0);
        ScriptedDialogs dialogs;
        QStringList result = Relative(t, Walk(dialogs, {t}));
        ::chmod(QFile::encodeName(t + "deny1").constData(), 0755);
        ::chmod(QFile::encodeName(t + "deny2").constData(), 0755);
        result.sort();
        QCOMPARE(result, QStringList({"", "a/", "a/a1/", "z/"}));
        QVERIFY(dialogs.shown.isEmpty());
    }

    void reportRuleBeforeTheFirstEntryIsEntered() {
        QTemporaryDir tmp;
        const QString t = tmp.path() + "/";
        MakeDir(t + "top/first/inner");
        FailingFolders fs;
        // The only sub-folder of top: the first entry of its level, so its
        // failing attribute test is reported (line 116) and counts as passed;
        // in the level above, the same failure is reported at line 158 and
        // the folder is kept.
        fs.attributeFailures.insert(t + "top/first/", 57);
        ScriptedDialogs dialogs;
        const QStringList result = Walk(dialogs, {t + "top/"}, fs);
        QCOMPARE(result, QStringList({t + "top/", t + "top/first/", t + "top/first/inner/"}));
        const QString description = ErrorDescription(57);
        QCOMPARE(dialogs.messages(), QStringList({ErrorReportText(description, kWalkLocation, 116),
                                                  ErrorReportText(description, kWalkLocation, 158)}));
        QCOMPARE(dialogs.shown[0].title, QStringLiteral("Application Error"));
        QCOMPARE(dialogs.shown[0].style, 48);
    }

    void skipRuleAfterTheFirstEntryIsEntered() {
        QTemporaryDir tmp;
        const QString t = tmp.path() + "/";
        MakeDir(t + "ok/sub");
        MakeDir(t + "bad/sub");
        FailingFolders fs;
        // The second starting entry fails its attribute test after the
        // first was entered: abandoned without a report, and kept (57 is
        // neither 70 nor 76).
        fs.attributeFailures.insert(t + "bad/", 57);
        ScriptedDialogs dialogs;
        QCOMPARE(Walk(dialogs, {t + "ok/", t + "bad/"}, fs),
                 QStringList({t + "ok/", t + "bad/", t + "ok/sub/"}));
        QVERIFY(dialogs.shown.isEmpty());
        // The same with 70: the entry goes.
        fs.attributeFailures.insert(t + "bad/", 70);
        QCOMPARE(Walk(dialogs, {t + "ok/", t + "bad/"}, fs), QStringList({t + "ok/", t + "ok/sub/"}));
        QVERIFY(dialogs.shown.isEmpty());
    }

    void walkYieldsToTheEventLoop() {
        QTemporaryDir tmp;
        const QString t = tmp.path() + "/";
        MakeDir(t + "a/b");
        bool ran = false;
        QTimer::singleShot(0, this, [&] { ran = true; });
        ScriptedDialogs dialogs;
        Walk(dialogs, {t});
        QVERIFY(ran);
    }

    void fileNameArrayGrowsInSteps() {
        FileNameArray names;
        QCOMPARE(names.LBound(), 0);
        QCOMPARE(names.UBound(), 0);
        QCOMPARE(names[0], QString());
        names.Append("1");
        QCOMPARE(names.SlotCount(), 100);
        for (int i = 2; i <= 100; ++i)
            names.Append(QString::number(i));
        QCOMPARE(names.SlotCount(), 100);
        names.Append("101");
        QCOMPARE(names.SlotCount(), 150);
        for (int i = 102; i <= 151; ++i)
            names.Append(QString::number(i));
        QCOMPARE(names.SlotCount(), 200);
        names.Finish();
        QCOMPARE(names.SlotCount(), 151);
        QCOMPARE(names.LBound(), 1);
        QCOMPARE(names.UBound(), 151);
        QCOMPARE(names[1], QStringLiteral("1"));
        QCOMPARE(names[151], QStringLiteral("151"));
        QVERIFY_THROWS_EXCEPTION(VbError, names[0]);
        QVERIFY_THROWS_EXCEPTION(VbError, names[152]);
    }

    void listFilesWith150Matches() {
        QTemporaryDir tmp;
        const QString t = tmp.path();
        for (int i = 0; i < 150; ++i)
            MakeFile(QStringLiteral("%1/track%2.wma").arg(t).arg(i, 3, 10, QLatin1Char('0')));
        for (int i = 0; i < 20; ++i)
            MakeFile(QStringLiteral("%1/other%2.mp3").arg(t).arg(i));

        const FileNameArray names = ListFilesInFolder(t, "*.wma");
        QCOMPARE(names.LBound(), 1);
        QCOMPARE(names.UBound(), 150);
        QStringList expected;
        for (const QString& name : ReaddirOrder(t, false))
            if (name.endsWith(".wma"))
                expected << name;
        QCOMPARE(names.names(), expected);
        QCOMPARE(ListFilesInFolder(t + "/", "*.wma").names(), expected);
        QCOMPARE(ListFilesInFolder(t, "*.*").UBound(), 170);
    }

    void listFilesWithNoMatch_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("empty folder") << "empty"
                                      << "*.*";
        QTest::newRow("no match") << "full"
                                  << "*.flac";
        QTest::newRow("missing folder") << "missing"
                                        << "*.*";
        QTest::newRow("only folders") << "folders"
                                      << "*.*";
        QTest::newRow("kernel pseudo file system") << "/proc"
                                                   << "*.*";
    }
    void listFilesWithNoMatch() {
        QFETCH(QString, folder);
        QFETCH(QString, pattern);
        QTemporaryDir tmp;
        const QString t = tmp.path();
        MakeDir(t + "/empty");
        MakeFile(t + "/full/a.wma");
        MakeDir(t + "/folders/sub.wma");
        if (folder.startsWith('/') && !QFileInfo::exists(folder + "/self"))
            QSKIP("No /proc is mounted here.");
        const FileNameArray names =
            ListFilesInFolder(folder.startsWith('/') ? folder : t + "/" + folder, pattern);
        QCOMPARE(names.LBound(), 0);
        QCOMPARE(names.UBound(), 0);
        QCOMPARE(names[0], QString());
        QVERIFY(names.names().isEmpty());
    }

    void listFilesKeepsOnlyFilesThatOpen() {
        QTemporaryDir tmp;
        const QString t = tmp.path();
        MakeFile(t + "/plain.wma");
        MakeFile(t + "/.hidden.wma");
        MakeFile(t + "/UPPER.WMA");
        MakeDir(t + "/folder.wma");
        QVERIFY(QFile::link(t + "/plain.wma", t + "/link.wma"));
        QVERIFY(QFile::link(t + "/nowhere", t + "/broken.wma"));
        QVERIFY(QFile::link(t + "/folder.wma", t + "/dirlink.wma"));
        QCOMPARE(::mkfifo(QFile::encodeName(t + "/fifo.wma").constData(), 0644), 0);

        QStringList names = ListFilesInFolder(t, "*.wma").names();
        names.sort();
        QCOMPARE(names, QStringList({".hidden.wma", "UPPER.WMA", "link.wma", "plain.wma"}));

        if (::geteuid() != 0) {
            MakeFile(t + "/locked.wma");
            ::chmod(QFile::encodeName(t + "/locked.wma").constData(), 0);
            QVERIFY(!ListFilesInFolder(t, "*.wma").names().contains("locked.wma"));
        }
    }

    void namesAreListedAsRead() {
        // "caf\u00e9.wma" saved in Latin-1 beside a file really named
        // "caf\ufffd.wma": the listing returns the second once and leaves out
        // the first, whose name cannot be represented.
        QTemporaryDir tmp;
        const QString t = tmp.path();
        const QString replacement = QString::fromUtf8("caf\ufffd.wma");
        MakeFile(t + "/" + replacement);
        MakeFile(t + "/plain.wma");
        const QByteArray latin1 = QFile::encodeName(t) + "/caf\xe9.wma";
        const int fd = ::open(latin1.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);

        QCOMPARE(ListFilesInFolder(t, "*.wma").names(), QStringList({replacement, "plain.wma"}));
        ScriptedDialogs dialogs;
        ErrorTrap trap(dialogs, FormLocation("PushButton3_Click"));
        QStringList added;
        AddAllFilesInTree(trap, dialogs, t, "wma", [&](const QString& p) { added << p; });
        QCOMPARE(added, QStringList({t + "/" + replacement, t + "/plain.wma"}));
        QCOMPARE(::unlink(latin1.constData()), 0);
    }

    void wildcards_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("matches");
        QTest::newRow("extension") << "song.wma"
                                   << "*.wma" << true;
        QTest::newRow("case") << "SONG.Wma"
                              << "*.wMA" << true;
        QTest::newRow("longer extension") << "song.wmav"
                                          << "*.wma" << false;
        QTest::newRow("other extension") << "song.mp3"
                                         << "*.wma" << false;
        QTest::newRow("no extension, star dot star") << "README"
                                                     << "*.*" << true;
        QTest::newRow("no extension") << "README"
                                      << "*.wma" << false;
        QTest::newRow("two dots") << "a..wma"
                                  << "*..wma" << true;
        QTest::newRow("two dots, plain name") << "a.wma"
                                              << "*..wma" << false;
        QTest::newRow("dot file") << ".wma"
                                  << "*.wma" << true;
        QTest::newRow("question mark") << "a.txt"
                                       << "*.t?t" << true;
        QTest::newRow("question mark needs one") << "a.tt"
                                                 << "*.t?t" << false;
        QTest::newRow("question mark, case") << "A.TXT"
                                             << "*.t?t" << true;
        QTest::newRow("star inside, case") << "Ab.wma"
                                           << "a*.WMA" << true;
        QTest::newRow("star inside, no match") << "b.wma"
                                               << "a*.wma" << false;
        QTest::newRow("plain name") << "Track.WMA"
                                    << "track.wma" << true;
        QTest::newRow("several dots") << "a.b.c.wma"
                                      << "*.wma" << true;
        QTest::newRow("brackets are plain") << "[1].wma"
                                            << "*.wma" << true;
        QTest::newRow("brackets in pattern") << "1.wma"
                                             << "*.[w]ma" << false;
        QTest::newRow("backtracking") << "abcabd.x"
                                      << "*abd.x" << true;
        QTest::newRow("accented case") << QString::fromUtf8("\u00c9t\u00e9.WMA") << "*.wma" << true;
    }
    void wildcards() {
        QFETCH(QString, name);
        QFETCH(QString, pattern);
        QFETCH(bool, matches);
        QCOMPARE(MatchesWildcard(name, pattern), matches);
    }

private:
    std::unique_ptr<TestEnvironment> env_;
};

QTEST_MAIN(TestFolderListing)
#include "tst_folderlisting.moc"
