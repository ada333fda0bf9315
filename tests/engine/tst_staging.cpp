// The work folder, the compiled-in tools and scripts, their staging and
// removal, the working files of one conversion and the result test.
#include "app/errorreport.h"
#include "convert/staging.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>
#include <memory>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct stat LStat(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        st.st_mode = 0;
    return st;
}

int Mode(const QString& path) {
    return int(LStat(path).st_mode & 07777);
}

void WriteWithMode(const QString& path, const QByteArray& bytes, int mode) {
    MakeFile(path, bytes);
    ::chmod(QFile::encodeName(path).constData(), mode_t(mode));
}

// Every entry of the folder, hidden ones included, sorted.
QStringList Entries(const QString& folder) {
    QStringList names =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

const QStringList kToolNames{"lame", "wma2mp3.sh", "wma2wav.sh", "wmawav"};

}  // namespace

class TestStaging : public QObject {
    Q_OBJECT

private slots:
    void init();

    void workFolder_data();
    void workFolder();
    void workFolderIsReadAfresh();
    void privateWorkFolderIsMadePrivate();

    void resourcesByteForByte_data();
    void resourcesByteForByte();

    void stageToolsWritesAllFour();
    void stagesOnlyWhatIsMissing();
    void existingFiles_data();
    void existingFiles();
    void stageToolsRaisesWhenItCannotWrite_data();
    void stageToolsRaisesWhenItCannotWrite();
    void removeStagedTools();

    void prepareWorkingFiles();
    void prepareWorkingFilesWithoutASource_data();
    void prepareWorkingFilesWithoutASource();

    void scriptCommands();
    void resultFile_data();
    void resultFile();

private:
    std::unique_ptr<TestEnvironment> env_;
    QString work() const { return env_->work(); }
};

void TestStaging::init() {
    env_ = std::make_unique<TestEnvironment>();
}

void TestStaging::workFolder_data() {
    QTest::addColumn<QString>("temp");      // "-" unset; "@" the test folder
    QTest::addColumn<QString>("cache");     // XDG_CACHE_HOME: "-" unset
    QTest::addColumn<QString>("expected");  // "~" the test HOME
    QTest::addColumn<QString>("lamePath");

    QTest::newRow("TEMP set") << "@/t"
                              << "@/c"
                              << "@/t"
                              << "@/t/lame";
    QTest::newRow("TEMP with a trailing slash") << "@/t/"
                                                << "@/c"
                                                << "@/t/"
                                                << "@/t//lame";
    QTest::newRow("TEMP relative") << "rel"
                                   << "@/c"
                                   << "rel"
                                   << "rel/lame";
    QTest::newRow("TEMP empty") << ""
                                << "@/c"
                                << "@/c/brenvale/work"
                                << "@/c/brenvale/work/lame";
    QTest::newRow("TEMP unset") << "-"
                                << "@/c"
                                << "@/c/brenvale/work"
                                << "@/c/brenvale/work/lame";
    QTest::newRow("no cache folder set") << "-"
                                         << "-"
                                         << "~/.cache/brenvale/work"
                                         << "~/.cache/brenvale/work/lame";
    QTest::newRow("relative cache folder") << ""
                                           << "c"
                                           << "~/.cache/brenvale/work"
                                           << "~/.cache/brenvale/work/lame";
}

void TestStaging::workFolder() {
    QFETCH(QString, temp);
    QFETCH(QString, cache);
    QFETCH(QString, expected);
    QFETCH(QString, lamePath);
    auto expand = [this](QString s) { return s.replace("@", env_->root()).replace("~", env_->home()); };
    if (temp == "-")
        qunsetenv("TEMP");
    else
        qputenv("TEMP", QFile::encodeName(expand(temp)));
    if (cache == "-")
        qunsetenv("XDG_CACHE_HOME");
    else
        qputenv("XDG_CACHE_HOME", QFile::encodeName(expand(cache)));

    QCOMPARE(WorkFolder(), expand(expected));
    QCOMPARE(WorkPath("lame"), expand(lamePath));
    if (temp == "-" || temp.isEmpty()) {
        // The private folder is made on demand, readable by its owner only.
        const QString folder = expand(expected);
        QVERIFY(QFileInfo(folder).isDir());
        QCOMPARE(Mode(folder), 0700);
        QCOMPARE(Mode(QFileInfo(folder).path()), 0700);
        QCOMPARE(LStat(folder).st_uid, ::geteuid());
    } else {
        // TEMP is taken as it is: nothing is made.
        QVERIFY(!QFileInfo::exists(expand(expected)));
    }
}

void TestStaging::workFolderIsReadAfresh() {
    qputenv("TEMP", "/first");
    QCOMPARE(WorkPath("wmawav"), QString("/first/wmawav"));
    qputenv("TEMP", "/second");
    QCOMPARE(WorkPath("wmawav"), QString("/second/wmawav"));
    QCOMPARE(BuildScriptCommands().wav, QString("\"/second/wma2wav.sh\""));
    qunsetenv("TEMP");
    QCOMPARE(WorkPath("wmawav"), env_->root() + "/cache/brenvale/work/wmawav");
}

void TestStaging::privateWorkFolderIsMadePrivate() {
    qunsetenv("TEMP");
    const QString folder = env_->root() + "/cache/brenvale/work";
    QDir().mkpath(folder);
    ::chmod(QFile::encodeName(folder).constData(), 0777);
    QCOMPARE(WorkFolder(), folder);
    QCOMPARE(Mode(folder), 0700);
}

void TestStaging::resourcesByteForByte_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("original");
    QTest::newRow("101 lame") << 101 << LAME_EXECUTABLE;
    QTest::newRow("102 wmawav") << 102 << WMAWAV_EXECUTABLE;
    QTest::newRow("103 MP3 script") << 103 << BRENVALE_SOURCE_DIR "/resources/scripts/wma2mp3.sh";
    QTest::newRow("104 WAV script") << 104 << BRENVALE_SOURCE_DIR "/resources/scripts/wma2wav.sh";
    QTest::newRow("100 none") << 100 << "";
    QTest::newRow("105 none") << 105 << "";
}

void TestStaging::resourcesByteForByte() {
    QFETCH(int, id);
    QFETCH(QString, original);
    const QByteArray bytes = ConversionResource(id);
    if (original.isEmpty()) {
        QVERIFY(bytes.isEmpty());
        return;
    }
    const QByteArray expected = ReadAll(original);
    QVERIFY(expected.size() > 50);
    QCOMPARE(bytes.size(), expected.size());
    QVERIFY(bytes == expected);
}

void TestStaging::stageToolsWritesAllFour() {
    StageTools();
    QCOMPARE(Entries(work()), kToolNames);  // and no temporary file left behind
    for (const StagedTool& tool : kStagedTools) {
        const QString path = work() + "/" + tool.fileName;
        QVERIFY2(ReadAll(path) == ConversionResource(tool.resourceId), tool.fileName);
        QVERIFY(S_ISREG(LStat(path).st_mode));
        QCOMPARE(Mode(path), 0700);
        QCOMPARE(LStat(path).st_uid, ::geteuid());
    }
    // The staged scripts run the staged tools from the work folder.
    QVERIFY(ReadAll(work() + "/wma2mp3.sh").contains("./wmawav working.wma working.wav\n./lame "));
}

void TestStaging::stagesOnlyWhatIsMissing() {
    StageTools();
    QHash<QString, ino_t> inodes;
    for (const QString& name : kToolNames)
        inodes[name] = LStat(work() + "/" + name).st_ino;
    QFile::remove(work() + "/wmawav");
    StageTools();
    for (const QString& name : kToolNames) {
        if (name == "wmawav")
            QVERIFY(ReadAll(work() + "/wmawav") == ConversionResource(102));
        else
            QVERIFY2(LStat(work() + "/" + name).st_ino == inodes[name], qPrintable(name + " was rewritten"));
    }
    QCOMPARE(Entries(work()), kToolNames);
}

void TestStaging::existingFiles_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("kept");

    QTest::newRow("own, private") << "wma2mp3.sh"
                                  << "file" << 0700 << true;
    QTest::newRow("own, others may run it") << "lame"
                                            << "file" << 0755 << true;
    QTest::newRow("own, read-only") << "wma2wav.sh"
                                    << "file" << 0500 << true;
    QTest::newRow("group may write") << "wmawav"
                                     << "file" << 0770 << false;
    QTest::newRow("others may write") << "wma2mp3.sh"
                                      << "file" << 0702 << false;
    QTest::newRow("not executable") << "lame"
                                    << "file" << 0600 << false;
    QTest::newRow("symbolic link") << "wmawav"
                                   << "link" << 0700 << false;
    QTest::newRow("another user's") << "wma2wav.sh"
                                    << "foreign" << 0700 << false;
}

void TestStaging::existingFiles() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(int, mode);
    QFETCH(bool, kept);

    const QString path = work() + "/" + name;
    const QByteArray planted("#!/bin/sh\necho planted\n");
    const QString linkTarget = env_->root() + "/elsewhere";
    if (kind == "link") {
        WriteWithMode(linkTarget, planted, mode);
        QVERIFY(QFile::link(linkTarget, path));
    } else {
        WriteWithMode(path, planted, mode);
    }
    if (kind == "foreign") {
        if (::geteuid() != 0)
            QSKIP("only root can give a file to another user");
        QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    }
    const ino_t before = LStat(path).st_ino;

    StageTools();

    int id = 0;
    for (const StagedTool& tool : kStagedTools)
        if (name == tool.fileName)
            id = tool.resourceId;
    if (kept) {
        QCOMPARE(ReadAll(path), planted);
        QCOMPARE(LStat(path).st_ino, before);
        QCOMPARE(Mode(path), mode);
    } else {
        QVERIFY(ReadAll(path) == ConversionResource(id));
        QVERIFY(S_ISREG(LStat(path).st_mode));
        QCOMPARE(Mode(path), 0700);
        QCOMPARE(LStat(path).st_uid, ::geteuid());
    }
    if (kind == "link")
        QCOMPARE(ReadAll(linkTarget), planted);  // replaced the link, not written through it
    QCOMPARE(Entries(work()), kToolNames);

    // Whoever put them there, they go at the end of the run.
    RemoveStagedTools();
    QCOMPARE(Entries(work()), QStringList());
}

void TestStaging::stageToolsRaisesWhenItCannotWrite_data() {
    QTest::addColumn<QString>("temp");
    QTest::addColumn<int>("number");
    QTest::newRow("missing work folder") << "missing" << 76;
    QTest::newRow("work folder is a file") << "afile" << 76;
    QTest::newRow("work folder not writable") << "locked" << 70;
}

void TestStaging::stageToolsRaisesWhenItCannotWrite() {
    QFETCH(QString, temp);
    QFETCH(int, number);
    const QString folder = env_->root() + "/" + temp;
    if (temp == "afile")
        MakeFile(folder);
    if (temp == "locked") {
        if (::geteuid() == 0)
            QSKIP("root may write into every folder");
        QDir().mkpath(folder);
        ::chmod(QFile::encodeName(folder).constData(), 0500);
    }
    qputenv("TEMP", QFile::encodeName(folder));
    bool raised = false;
    try {
        StageTools();
    } catch (const VbError& e) {
        raised = true;
        QCOMPARE(e.number, number);
    }
    QVERIFY(raised);
    if (temp == "locked")
        QCOMPARE(Entries(folder), QStringList());
}

void TestStaging::removeStagedTools() {
    // Nothing staged: nothing to do, and no failure.
    RemoveStagedTools();
    StageTools();
    MakeFile(work() + "/working.mp3");
    MakeFile(work() + "/notes.txt");
    RemoveStagedTools();
    QCOMPARE(Entries(work()), (QStringList{"notes.txt", "working.mp3"}));
}

void TestStaging::prepareWorkingFiles() {
    const QString source = env_->root() + "/music/song.wma";
    MakeFile(source, "the source's bytes");
    for (const char* stale : {"working.wma", "working.wav", "working.mp3", "working.nfo"})
        MakeFile(work() + "/" + stale, "stale");
    PrepareWorkingFiles(source);
    QCOMPARE(Entries(work()), (QStringList{"working.nfo", "working.wma"}));
    QCOMPARE(ReadAll(work() + "/working.wma"), QByteArray("the source's bytes"));
    QCOMPARE(ReadAll(work() + "/working.nfo"), QByteArray("the source's bytes"));
    QCOMPARE(ReadAll(source), QByteArray("the source's bytes"));
}

void TestStaging::prepareWorkingFilesWithoutASource_data() {
    QTest::addColumn<QString>("source");
    QTest::newRow("missing") << "@/music/gone.wma";
    QTest::newRow("a folder") << "@/music";
    QTest::newRow("empty path") << "";
}

void TestStaging::prepareWorkingFilesWithoutASource() {
    QFETCH(QString, source);
    QDir().mkpath(env_->root() + "/music");
    source.replace("@", env_->root());
    for (const char* stale : {"working.wma", "working.wav", "working.mp3", "working.nfo"})
        MakeFile(work() + "/" + stale, "stale");
    PrepareWorkingFiles(source);
    // Neither the working copy nor the marker: no stale file can stand in.
    QCOMPARE(Entries(work()), QStringList());
}

void TestStaging::scriptCommands() {
    qputenv("TEMP", "/var/tmp/with space");
    const ScriptCommands commands = BuildScriptCommands();
    QCOMPARE(commands.mp3, QString("\"/var/tmp/with space/wma2mp3.sh\""));
    QCOMPARE(commands.wav, QString("\"/var/tmp/with space/wma2wav.sh\""));
    QCOMPARE(ResultFilePath(ConversionFormat::MP3), QString("/var/tmp/with space/working.mp3"));
    QCOMPARE(ResultFilePath(ConversionFormat::WAV), QString("/var/tmp/with space/working.wav"));
}

void TestStaging::resultFile_data() {
    QTest::addColumn<QString>("present");  // what stands in the work folder
    QTest::addColumn<bool>("mp3");
    QTest::addColumn<bool>("wav");
    QTest::newRow("nothing") << "" << false << false;
    QTest::newRow("working.mp3") << "working.mp3" << true << false;
    QTest::newRow("working.wav") << "working.wav" << false << true;
    QTest::newRow("read-only working.wav") << "ro:working.wav" << false << true;
    QTest::newRow("empty working.mp3") << "empty:working.mp3" << true << false;
    QTest::newRow("folder working.mp3") << "dir:working.mp3" << false << false;
    QTest::newRow("only the marker") << "working.nfo" << false << false;
}

void TestStaging::resultFile() {
    QFETCH(QString, present);
    QFETCH(bool, mp3);
    QFETCH(bool, wav);
    const QString name = present.section(':', -1);
    const QString path = work() + "/" + name;
    if (present.startsWith("dir:"))
        QDir().mkpath(path);
    else if (present.startsWith("ro:"))
        WriteWithMode(path, "x", 0444);
    else if (present.startsWith("empty:"))
        MakeFile(path, QByteArray());
    else if (!present.isEmpty())
        MakeFile(path);
    QCOMPARE(ResultFilePresent(ConversionFormat::MP3), mp3);
    QCOMPARE(ResultFilePresent(ConversionFormat::WAV), wav);
}

QTEST_MAIN(TestStaging)
#include "tst_staging.moc"
