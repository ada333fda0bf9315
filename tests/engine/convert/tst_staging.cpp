// The work folder, the compiled-in tools and scripts, their staging and
// removal, the working files of one conversion and the result test.
#include "convert/conversion.h"
#include "workfolder/workfolder.h"
#include "system/systemerror.h"
#include "support/testenv.h"
#include "wmawav/decoder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>
#include <memory>

Q_DECLARE_METATYPE(Preparation)
Q_DECLARE_METATYPE(FileOutcome)

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

// A symbolic link at path to a regular file target.
void MakeLink(const QString& target, const QString& path) {
    MakeFile(target, "elsewhere");
    QFile::link(target, path);
}

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
    void outcomeOfScript_data();
    void outcomeOfScript();

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
    QTest::addColumn<QString>("prepare");   // what the test makes first, see workFolder()
    QTest::addColumn<QString>("expected");  // "~" the test HOME; "" no work folder at all
    const QString own = "@/t/brenvale-" + QString::number(::geteuid());

    QTest::newRow("TEMP a private folder") << "@/t"
                                           << "@/c"
                                           << "private"
                                           << "@/t";
    QTest::newRow("TEMP with a trailing slash") << "@/t/"
                                                << "@/c"
                                                << "private"
                                                << "@/t";
    QTest::newRow("TEMP through a link") << "@/link"
                                         << "@/c"
                                         << "private, link"
                                         << "@/t";
    QTest::newRow("TEMP readable by all") << "@/t"
                                          << "@/c"
                                          << "readable"
                                          << "@/t";
    QTest::newRow("TEMP shared and sticky, like /tmp") << "@/t"
                                                       << "@/c"
                                                       << "shared" << own;
    QTest::newRow("TEMP open to all, not sticky") << "@/t"
                                                  << "@/c"
                                                  << "open"
                                                  << "@/c/brenvale/work";
    QTest::newRow("TEMP another user's") << "@/t"
                                         << "@/c"
                                         << "private, foreign"
                                         << "@/c/brenvale/work";
    QTest::newRow("private folder in TEMP another user's") << "@/t"
                                                           << "@/c"
                                                           << "shared, own foreign"
                                                           << "@/c/brenvale/work";
    QTest::newRow("private folder in TEMP a link") << "@/t"
                                                   << "@/c"
                                                   << "shared, own link"
                                                   << "@/c/brenvale/work";
    QTest::newRow("TEMP missing") << "@/missing"
                                  << "@/c"
                                  << ""
                                  << "@/c/brenvale/work";
    QTest::newRow("TEMP relative") << "t"
                                   << "@/c"
                                   << "private"
                                   << "@/c/brenvale/work";
    QTest::newRow("TEMP empty") << ""
                                << "@/c"
                                << ""
                                << "@/c/brenvale/work";
    QTest::newRow("TEMP unset") << "-"
                                << "@/c"
                                << ""
                                << "@/c/brenvale/work";
    QTest::newRow("no cache folder set") << "-"
                                         << "-"
                                         << ""
                                         << "~/.cache/brenvale/work";
    QTest::newRow("relative cache folder") << ""
                                           << "c"
                                           << ""
                                           << "~/.cache/brenvale/work";
    QTest::newRow("cache folder's brenvale another user's") << "-"
                                                            << "@/c"
                                                            << "cache foreign"
                                                            << "";
    QTest::newRow("cache folder a file") << "-"
                                         << "@/c"
                                         << "cache file"
                                         << "";
}

void TestStaging::workFolder() {
    QFETCH(QString, temp);
    QFETCH(QString, cache);
    QFETCH(QString, prepare);
    QFETCH(QString, expected);
    auto expand = [this](QString s) { return s.replace("@", env_->root()).replace("~", env_->home()); };
    auto setMode = [](const QString& path, int mode) {
        ::chmod(QFile::encodeName(path).constData(), mode_t(mode));
    };
    auto giveAway = [](const QString& path) {
        return ::chown(QFile::encodeName(path).constData(), 65534, 65534) == 0;
    };
    const QString t = expand("@/t");
    const QString own = t + "/brenvale-" + QString::number(::geteuid());
    if (prepare.contains("foreign") && ::geteuid() != 0)
        QSKIP("only root can give a folder to another user");
    if (prepare.startsWith("private") || prepare == "readable" || prepare.startsWith("shared") ||
        prepare == "open")
        QVERIFY(QDir().mkpath(t));
    if (prepare.startsWith("private"))
        setMode(t, 0700);
    if (prepare == "readable")
        setMode(t, 0755);
    if (prepare.startsWith("shared"))
        setMode(t, 01777);
    if (prepare == "open")
        setMode(t, 0777);
    if (prepare == "private, link")
        QVERIFY(QFile::link(t, expand("@/link")));
    if (prepare == "private, foreign")
        QVERIFY(giveAway(t));
    if (prepare == "shared, own foreign") {
        QVERIFY(QDir().mkpath(own));
        QVERIFY(giveAway(own));
    }
    if (prepare == "shared, own link") {
        QVERIFY(QDir().mkpath(expand("@/elsewhere")));
        QVERIFY(QFile::link(expand("@/elsewhere"), own));
    }
    if (prepare == "cache foreign") {
        QVERIFY(QDir().mkpath(expand("@/c/brenvale")));
        QVERIFY(giveAway(expand("@/c/brenvale")));
    }
    if (prepare == "cache file")
        MakeFile(expand("@/c"));
    if (temp == "-")
        qunsetenv("TEMP");
    else
        qputenv("TEMP", QFile::encodeName(expand(temp)));
    if (cache == "-")
        qunsetenv("XDG_CACHE_HOME");
    else
        qputenv("XDG_CACHE_HOME", QFile::encodeName(expand(cache)));

    const int tempMode = Mode(t);
    QCOMPARE(WorkFolder(), expand(expected));
    QCOMPARE(Mode(t), tempMode);  // TEMP itself is never changed
    if (expected.isEmpty()) {
        // Nothing to work in: no path in it either, and the messages name
        // the last folder tried.
        QCOMPARE(WorkPath("lame"), QString());
        QCOMPARE(WorkFolderForMessages(), expand("@/c/brenvale/work"));
        return;
    }
    QCOMPARE(WorkPath("lame"), expand(expected) + "/lame");
    QCOMPARE(WorkFolderForMessages(), expand(expected));
    const QString folder = expand(expected);
    QCOMPARE(LStat(folder).st_uid, ::geteuid());
    QVERIFY(S_ISDIR(LStat(folder).st_mode));
    if (folder.startsWith(t + "/")) {
        QCOMPARE(Mode(folder), 0700);  // of the program's making: private
    } else if (folder != t) {
        QCOMPARE(Mode(folder), 0700);
        QCOMPARE(Mode(QFileInfo(folder).path()), 0700);
        QVERIFY(!QFileInfo::exists(own) || prepare.contains("own"));
    }
}

void TestStaging::workFolderIsReadAfresh() {
    const QString first = env_->root() + "/first";
    const QString second = env_->root() + "/second";
    QVERIFY(QDir().mkpath(first) && QDir().mkpath(second));
    qputenv("TEMP", QFile::encodeName(first));
    QCOMPARE(WorkPath("wmawav"), first + "/wmawav");
    qputenv("TEMP", QFile::encodeName(second));
    QCOMPARE(WorkPath("wmawav"), second + "/wmawav");
    QCOMPARE(BuildScriptCommands(UserWorkContext()).of(ConversionFormat::WAV), "\"" + second + "/wma2wav.sh\"");
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
    QTest::newRow("105 audioenc") << 105 << AUDIOENC_EXECUTABLE;
    QTest::newRow("100 none") << 100 << "";
    QTest::newRow("106 none") << 106 << "";
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
    StageTools(UserWorkContext());
    QCOMPARE(Entries(work()), kToolNames);  // and no temporary file left behind
    for (const StagedTool& tool : kStagedTools) {
        if (!tool.window)
            continue;  // the batch's own
        const QString path = work() + "/" + tool.fileName;
        QVERIFY2(ReadAll(path) == ConversionResource(tool.resourceId), tool.fileName);
        QVERIFY(S_ISREG(LStat(path).st_mode));
        QCOMPARE(Mode(path), 0700);
        QCOMPARE(LStat(path).st_uid, ::geteuid());
    }
    // The staged scripts run the staged tools from the work folder.
    QVERIFY(ReadAll(work() + "/wma2mp3.sh").contains("./wmawav working.wma - >working.wav\n"));
    QVERIFY(ReadAll(work() + "/wma2mp3.sh").contains("./lame working.wav .working.mp3.part\n"));
}

void TestStaging::stagesOnlyWhatIsMissing() {
    StageTools(UserWorkContext());
    QHash<QString, ino_t> inodes;
    for (const QString& name : kToolNames)
        inodes[name] = LStat(work() + "/" + name).st_ino;
    QFile::remove(work() + "/wmawav");
    StageTools(UserWorkContext());
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

    StageTools(UserWorkContext());

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
    RemoveStagedTools(UserWorkContext());
    QCOMPARE(Entries(work()), QStringList());
}

void TestStaging::stageToolsRaisesWhenItCannotWrite_data() {
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("number");  // the errno thrown; 0: nothing is thrown
    QTest::newRow("work folder not writable") << "locked" << EACCES;
    QTest::newRow("no work folder at all") << "none" << 0;
}

void TestStaging::stageToolsRaisesWhenItCannotWrite() {
    QFETCH(QString, situation);
    QFETCH(int, number);
    const QString folder = env_->root() + "/" + situation;
    if (situation == "locked") {
        if (::geteuid() == 0)
            QSKIP("root may write into every folder");
        QDir().mkpath(folder);
        ::chmod(QFile::encodeName(folder).constData(), 0500);
        qputenv("TEMP", QFile::encodeName(folder));
    } else {
        // Neither TEMP nor a cache folder that can be made.
        qunsetenv("TEMP");
        MakeFile(folder);
        qputenv("XDG_CACHE_HOME", QFile::encodeName(folder));
    }
    int raised = 0;
    try {
        StageTools(UserWorkContext());
    } catch (const SystemError& e) {
        raised = e.code().value();
    }
    QCOMPARE(raised, number);
    if (situation == "locked")
        QCOMPARE(Entries(folder), QStringList());
    QCOMPARE(Entries(work()), QStringList());
}

void TestStaging::removeStagedTools() {
    // Nothing staged: nothing to do, and no failure.
    RemoveStagedTools(UserWorkContext());
    StageTools(UserWorkContext());
    MakeFile(work() + "/working.mp3");
    MakeFile(work() + "/notes.txt");
    RemoveStagedTools(UserWorkContext());
    QCOMPARE(Entries(work()), (QStringList{"notes.txt", "working.mp3"}));
    RemoveWorkingFiles(UserWorkContext());
    QCOMPARE(Entries(work()), QStringList{"notes.txt"});
}

void TestStaging::prepareWorkingFiles() {
    // "?" and "*" are ordinary characters of a name.
    const QString source = env_->root() + "/music/so?ng*.wma";
    // What is copied starts as an ASF file does, here after an ID3v2 tag.
    const QByteArray bytes = QByteArray("ID3\3\0\0\0\0\0\4TAG!", 14) +
                             QByteArray::fromHex("3026B2758E66CF11A6D900AA0062CE6C") + "the source's bytes";
    MakeFile(source, bytes);
    for (const char* stale : {"working.wma", "working.mp3", "working.nfo"})
        MakeFile(work() + "/" + stale, "stale");
    // What killed tools left under their temporary names, and a link that
    // would lead a write elsewhere.
    const QString decoderLeftover = work() + "/" + kTempPrefix + "k1Lled";
    for (const QString& leftover : {decoderLeftover, work() + "/.working.mp3.part"})
        MakeFile(leftover, "half written");
    const QString elsewhere = env_->root() + "/elsewhere.txt";
    MakeLink(elsewhere, work() + "/working.wav");

    QCOMPARE(PrepareWorkingFiles(UserWorkContext(), source), Preparation::Ready);

    QCOMPARE(Entries(work()), (QStringList{"working.nfo", "working.wma"}));
    for (const char* name : {"working.wma", "working.nfo"}) {
        QCOMPARE(ReadAll(work() + "/" + name), bytes);
        QCOMPARE(Mode(work() + "/" + name), 0600);
    }
    QCOMPARE(ReadAll(source), bytes);
    QCOMPARE(ReadAll(elsewhere), QByteArray("elsewhere"));
}

void TestStaging::prepareWorkingFilesWithoutASource_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<Preparation>("expected");
    QTest::addColumn<QStringList>("left");  // what stays in the work folder
    const auto unusable = Preparation::SourceUnusable;
    QTest::newRow("missing") << "@/music/gone.wma" << Preparation::SourceGone << QStringList();
    QTest::newRow("a folder") << "@/music" << unusable << QStringList();
    QTest::newRow("empty path") << "" << Preparation::SourceGone << QStringList();
    QTest::newRow("no ASF header") << "@/music/text.wma" << unusable << QStringList();
    // Never opened: a FIFO would wait for a writer, and the kernel's files
    // and devices give no end of bytes or wait for ever.
    QTest::newRow("a FIFO") << "@/music/fifo.wma" << unusable << QStringList();
    QTest::newRow("a device") << "/dev/zero" << unusable << QStringList();
    QTest::newRow("the kernel's message file") << "/proc/kmsg" << unusable << QStringList();
    QTest::newRow("a file of the kernel's") << "/proc/self/status" << unusable << QStringList();
    QTest::newRow("stale result that cannot be removed")
        << "@/music/song.wma" << Preparation::WorkFolderFailed << QStringList{"working.mp3"};
}

void TestStaging::prepareWorkingFilesWithoutASource() {
    QFETCH(QString, source);
    QFETCH(Preparation, expected);
    QFETCH(QStringList, left);
    QDir().mkpath(env_->root() + "/music");
    source.replace("@", env_->root());
    if (source.endsWith("fifo.wma"))
        QCOMPARE(::mkfifo(QFile::encodeName(source).constData(), 0600), 0);
    if (source.endsWith("text.wma"))
        MakeFile(source, "plain text, not ASF");
    if (source.endsWith("song.wma")) {
        MakeFile(source);
        // A folder that holds something is no file to delete.
        MakeFile(work() + "/working.mp3/inside");
    }
    if (source.startsWith("/proc/kmsg") && !QFileInfo::exists(source))
        QSKIP("this system has no /proc/kmsg");
    for (const char* stale : {"working.wma", "working.wav", "working.nfo"})
        MakeFile(work() + "/" + stale, "stale");
    QCOMPARE(PrepareWorkingFiles(UserWorkContext(), source), expected);
    // Neither the working copy nor the marker: no stale file can stand in.
    QCOMPARE(Entries(work()), left);
}

void TestStaging::scriptCommands() {
    const QString folder = env_->root() + "/with space";
    QVERIFY(QDir().mkpath(folder));
    qputenv("TEMP", QFile::encodeName(folder));
    const ScriptCommands commands = BuildScriptCommands(UserWorkContext());
    QCOMPARE(commands.of(ConversionFormat::MP3), "\"" + folder + "/wma2mp3.sh\"");
    QCOMPARE(commands.of(ConversionFormat::WAV), "\"" + folder + "/wma2wav.sh\"");
    QCOMPARE(ResultFilePath(UserWorkContext(), ConversionFormat::MP3), folder + "/working.mp3");
    QCOMPARE(ResultFilePath(UserWorkContext(), ConversionFormat::WAV), folder + "/working.wav");
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
    QTest::newRow("link working.wav") << "link:working.wav" << false << false;
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
    else if (present.startsWith("link:"))
        MakeLink(env_->root() + "/elsewhere", path);
    else if (!present.isEmpty())
        MakeFile(path);
    QCOMPARE(ResultFilePresent(UserWorkContext(), ConversionFormat::MP3), mp3);
    QCOMPARE(ResultFilePresent(UserWorkContext(), ConversionFormat::WAV), wav);
}

void TestStaging::outcomeOfScript_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("result");  // working.mp3 and working.wav stand in the work folder
    QTest::addColumn<FileOutcome>("mp3");
    QTest::addColumn<FileOutcome>("wav");
    const auto ready = FileOutcome::ResultReady;
    const auto decoding = FileOutcome::DecodingFailed;
    const auto folder = FileOutcome::WorkFolderFailed;
    QTest::newRow("success") << 0 << true << ready << ready;
    QTest::newRow("success without a result") << 0 << false << decoding << decoding;
    QTest::newRow("decoder: not WMA") << 3 << false << decoding << decoding;
    QTest::newRow("decoder: DRM-protected") << 4 << false << decoding << decoding;
    QTest::newRow("decoder: damaged") << 5 << false << decoding << decoding;
    QTest::newRow("decoder: wrong arguments") << 2 << false << decoding << decoding;
    QTest::newRow("decoder: output cannot be written") << 6 << false << folder << folder;
    QTest::newRow("decoder: too long for a WAV file") << 7 << false << folder << FileOutcome::TooLongForWav;
    QTest::newRow("encoder fails") << 1 << false << folder << decoding;
    QTest::newRow("encoder cannot read its input") << 255 << false << folder << decoding;
    QTest::newRow("a tool killed") << 128 + 9 << false << folder << decoding;
    QTest::newRow("a tool that cannot run") << 126 << false << folder << folder;
    QTest::newRow("a tool that is missing") << 127 << false << folder << folder;
    QTest::newRow("script not run") << kScriptNotRun << false << folder << folder;
    QTest::newRow("script cannot start") << -2147221504 + 75 << false << folder << folder;
    QTest::newRow("status lost") << -1 << false << decoding << decoding;
    // A stale result never counts without a script that succeeded.
    QTest::newRow("stale result, decoder failed") << 4 << true << decoding << decoding;
}

void TestStaging::outcomeOfScript() {
    QFETCH(int, status);
    QFETCH(bool, result);
    QFETCH(FileOutcome, mp3);
    QFETCH(FileOutcome, wav);
    if (result) {
        MakeFile(work() + "/working.mp3");
        MakeFile(work() + "/working.wav");
    }
    QCOMPARE(OutcomeOfScript(UserWorkContext(), status, ConversionFormat::MP3), mp3);
    QCOMPARE(OutcomeOfScript(UserWorkContext(), status, ConversionFormat::WAV), wav);
}

QTEST_MAIN(TestStaging)
#include "tst_staging.moc"
