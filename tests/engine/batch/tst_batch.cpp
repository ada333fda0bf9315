// brenvale --convert on a small tree, run as a user runs it: no display.
#include "support/mp3check.h"
#include "batch/namepattern.h"
#include "convert/conversion.h"
#include "convert/resultledger.h"
#include "decodedaudio.h"
#include "stickimage.h"
#include "support/testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QtEndian>
#include <QtTest>

#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/id3v2tag.h>
#include <taglib/flacfile.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/tag.h>
#include <taglib/xiphcomment.h>

#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/mount.h>

#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kMedia = QStringLiteral(BRENVALE_TESTMEDIA_DIR "/");

// The results under root, relative to it, sorted, and any hidden file but
// the output folders' ledgers.
QStringList Results(const QString& root) {
    QStringList found;
    QDirIterator it(root, {"*.mp3", "*.wav", ".*"}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        if (it.next(), it.fileName() != kLedgerName)
            found << QDir(root).relativeFilePath(it.filePath());
    found.sort();
    return found;
}

// The raw bytes of a file name, for names that are not UTF-8 or hold
// control characters.
QByteArray Raw(const QString& root, const QByteArray& name) {
    return QFile::encodeName(root) + "/" + name;
}

bool MakeTone(const QByteArray& path, int seconds) {
    QDir().mkpath(QFileInfo(QFile::decodeName(path)).path());
    static QTemporaryDir tones;
    const QString made = tones.path() + "/" + QString::number(seconds) + ".wma";
    if (!QFile::exists(made) && QProcess::execute(MKWMA_EXECUTABLE, {"encode", made, "--codec", "wmav2", "--seconds",
                                                                     QString::number(seconds)}) != 0)
        return false;
    QFile from(made);
    QFile to;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    return fd >= 0 && from.open(QIODevice::ReadOnly) && to.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) &&
           to.write(from.readAll()) == from.size();
}

// The regular files in a tree, by their raw paths.
QByteArrayList FilesUnder(const QByteArray& folder) {
    static QByteArrayList* found;
    QByteArrayList files;
    found = &files;
    ::nftw(
        folder.constData(),
        [](const char* path, const struct stat*, int type, struct FTW*) {
            if (type == FTW_F && !QByteArray(path).endsWith(QByteArray("/") + kLedgerName))
                found->append(QByteArray(path));
            return 0;
        },
        16, FTW_PHYS);
    return files;
}

// The pid of a running tool whose working folder is a batch job's folder.
pid_t ToolInJob(const QString& comm, const QString& jobsUnder) {
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile name("/proc/" + pid + "/comm");
        if (name.open(QIODevice::ReadOnly) && name.readAll().trimmed() == comm.toUtf8() &&
            QFileInfo("/proc/" + pid + "/cwd").symLinkTarget().startsWith(jobsUnder))
            return static_cast<pid_t>(pid.toInt());
    }
    return 0;
}

// The parent of a process.
pid_t ParentOf(pid_t pid) {
    QFile status("/proc/" + QString::number(pid) + "/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("PPid:"))
            return static_cast<pid_t>(line.mid(5).trimmed().toInt());
    return 0;
}

// The bytes of the first picture a result holds, of any format; empty for
// none.
QByteArray FirstPicture(const QByteArray& path) {
    const auto bytes = [](const TagLib::ByteVector& v) { return QByteArray(v.data(), static_cast<qsizetype>(v.size())); };
    const TagLib::FileRef file(path.constData());
    if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file.file())) {
        const TagLib::ID3v2::FrameList frames =
            mpeg->ID3v2Tag() ? mpeg->ID3v2Tag()->frameList("APIC") : TagLib::ID3v2::FrameList();
        const auto* apic =
            frames.isEmpty() ? nullptr : dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame*>(frames.front());
        return apic ? bytes(apic->picture()) : QByteArray();
    }
    if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file.file()))
        return flac->pictureList().isEmpty() ? QByteArray() : bytes(flac->pictureList().front()->data());
    if (auto* opus = dynamic_cast<TagLib::Ogg::Opus::File*>(file.file()))
        return opus->tag()->pictureList().isEmpty() ? QByteArray() : bytes(opus->tag()->pictureList().front()->data());
    if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file.file())) {
        const TagLib::MP4::CoverArtList covers = mp4->tag()->item("covr").toCoverArtList();
        return covers.isEmpty() ? QByteArray() : bytes(covers.front().data());
    }
    return QByteArray();
}

// Whether a run said text: on stdout, the record of the run, or on stderr
// for a text given as "2>TEXT".
bool Said(const QByteArray& out, const QByteArray& err, const QString& text) {
    return text.startsWith("2>") ? err.contains(text.mid(2).toUtf8()) : out.contains(text.toUtf8());
}

}  // namespace

class TestBatch : public QObject {
    Q_OBJECT

    std::unique_ptr<TestEnvironment> env_;
    QString lib_, out_;

    void start(QProcess& p, const QStringList& args) {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            e.remove(name);
        p.setProcessEnvironment(e);
        p.setWorkingDirectory(env_->root());
        p.start(BRENVALE_EXECUTABLE, QStringList{"--convert"} + args);
        QVERIFY(p.waitForStarted());
    }
    QStringList jobFolders() const { return QDir(env_->work()).entryList({"batch-job-*"}, QDir::AllEntries); }

private slots:
    void cleanup() {
        // Names that are not UTF-8 are beyond QDir's removal.
        QProcess::execute("rm", {"-rf", env_->root()});
    }
    void init() {
        env_ = std::make_unique<TestEnvironment>();
        lib_ = env_->root() + "/lib";
        out_ = env_->root() + "/out";
        const QStringList tree = {"wmav2_stereo_44100_title.wma:A/one.wma", "tags_all.wma:A/B/Song.WMA",
                                  "wmav2_stereo_44100_title.wma:C/one.wma", "drm_protected.wma:drm.wma",
                                  "truncated_after_header.wma:A/bad.wma",       "mp3_renamed.wma:ren.wma"};
        for (const QString& entry : tree) {
            const QStringList parts = entry.split(':');
            QDir().mkpath(QFileInfo(lib_ + "/" + parts[1]).path());
            QVERIFY(QFile::copy(kMedia + parts[0], lib_ + "/" + parts[1]));
        }
    }

    void convert_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("rerun");  // a second run's options, if any
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("results");
        QTest::addColumn<QString>("summary");

        const QStringList kept = {"out/A/B/Song.mp3", "out/A/one.mp3", "out/C/one.mp3"};
        const QString failedThree = ", failed: 3.";
        QTest::newRow("keep folders")
            << QStringList{"--jobs", "2", "--keep-folders", "-o", "out", "lib"} << QStringList() << 1 << kept
            << "Converted: 3, skipped: 0" + failedThree;
        QTest::newRow("one folder numbers a second name")
            << QStringList{"--jobs=2", "--output", "out", "lib"} << QStringList() << 1
            << QStringList{"out/Song.mp3", "out/one (2).mp3", "out/one.mp3"}
            << "Converted: 3, skipped: 0" + failedThree;
        QTest::newRow("beside the sources, wav")
            << QStringList{"--to", "wav", "lib/A/B", "lib/C/one.wma"} << QStringList() << 0
            << QStringList{"lib/A/B/Song.wav", "lib/C/one.wav"} << "Converted: 2, skipped: 0, failed: 0.";
        QTest::newRow("skip existing on a re-run")
            << QStringList{"--keep-folders", "-o", "out", "lib"} << QStringList{"--skip-existing"} << 1
            << kept << "Converted: 0, skipped: 3" + failedThree;
        QTest::newRow("a re-run replaces its earlier results")
            << QStringList{"--keep-folders", "-o", "out", "--vbr", "4", "lib"} << QStringList() << 1 << kept
            << "Converted: 3, skipped: 0" + failedThree;
        // Piped, each file's line carries how far the run is.
        QTest::newRow("piped lines carry [n/N]")
            << QStringList{"--jobs", "1", "--to", "wav", "lib/C/one.wma", "lib/A/B"} << QStringList() << 0
            << QStringList{"lib/A/B/Song.wav", "lib/C/one.wav"} << "/lib/C/one.wav\n[2/2] converted ";
        QTest::newRow("bad value") << QStringList{"--jobs", "0", "lib"} << QStringList() << 2 << QStringList()
                                   << "2>Usage: brenvale --convert";
        QTest::newRow("an output that is a file")
            << QStringList{"--dry-run", "-o", "lib/drm.wma", "lib"} << QStringList() << 2 << QStringList()
            << "2>lib/drm.wma is not a folder";
        QTest::newRow("a dry run of a source that is not there")
            << QStringList{"--dry-run", "lib/none.wma"} << QStringList() << 1 << QStringList()
            << "/lib/none.wma: not found";
        QTest::newRow("bitrate and vbr")
            << QStringList{"--bitrate", "128", "--vbr", "2", "lib"} << QStringList() << 2 << QStringList()
            << "2>Usage: brenvale --convert";
    }
    void convert() {
        QFETCH(QStringList, args);
        QFETCH(QStringList, rerun);
        QFETCH(int, status);
        QFETCH(QStringList, results);
        QFETCH(QString, summary);

        QProcess p;
        start(p, args);
        QVERIFY(p.waitForFinished(120000));
        QDateTime firstWrite;
        if (QTest::currentDataTag() == QLatin1String("skip existing on a re-run") ||
            QTest::currentDataTag() == QLatin1String("a re-run replaces its earlier results")) {
            firstWrite = QFileInfo(out_ + "/A/one.mp3").lastModified();
            QTest::qWait(20);
            start(p, rerun + args);
            QVERIFY(p.waitForFinished(120000));
            QCOMPARE(QFileInfo(out_ + "/A/one.mp3").lastModified() == firstWrite, !rerun.isEmpty());
        }
        const QByteArray out = p.readAllStandardOutput(), err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), status);
        QVERIFY2(Said(out, err, summary), (out + err).constData());
        // All of it on the one stream: "> log.txt" keeps a run's record.
        QVERIFY2((summary.startsWith("2>") ? out : err).isEmpty(), (out + err).constData());
        QCOMPARE(Results(env_->root()), results);
        QCOMPARE(jobFolders(), QStringList());
        if (status == 2 || args.contains("--dry-run"))
            return;
        // Every failure is named with the window's cause; every result is
        // whole and carries its source's tags.
        if (results.first().startsWith("out/")) {
            QVERIFY(out.contains(QFile::encodeName(lib_) + "/drm.wma: may be DRM protected"));
            QVERIFY(out.contains(QFile::encodeName(lib_) + "/A/bad.wma: damaged"));
            QVERIFY(out.contains(QFile::encodeName(lib_) + "/ren.wma: holds MP3 audio, not WMA"));
            for (const QString& r : results)
                QCOMPARE(ReadMp3(env_->root() + "/" + r).error, QString());
            const QString song = env_->root() + "/" + results.first();
            TagLib::MPEG::File tagged(QFile::encodeName(song).constData());
            QVERIFY(tagged.tag());
            QCOMPARE(QString::fromStdString(tagged.tag()->title().to8Bit(true)), QString("Evening Tide"));
        }
    }

    // Libraries as users bring them: every file accounted for, every result
    // its own source's (told by its length: the sources differ in length),
    // nothing written where another user could redirect it.
    void library_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("said");        // on stdout; "2>TEXT" on stderr
        QTest::addColumn<QByteArrayList>("results");  // "PATH=SECONDS": a result and its source's length

        const QByteArrayList intros = {"out/01 Intro.mp3=1", "out/01 Intro (2).mp3=2", "out/01 Intro (3).mp3=3"};
        QTest::newRow("same names, resumed")
            << QStringList{"--skip-existing", "-o", "out", "albums"} << 0
            << QStringList{"3 sources share the name 01 Intro.mp3", "albums/B/01 Intro.wma -> 01 Intro (2).mp3",
                           "Converted: 1, skipped: 2, failed: 0."}
            << intros;
        QTest::newRow("two batches at once")
            << QStringList{"--jobs", "2", "-o", "out", "albums"} << 0
            << QStringList{"Converted: 3, skipped: 0, failed: 0."} << intros;
        QTest::newRow("unreadable, and a name that is not UTF-8")
            << QStringList{"-o", "out", "music"} << 1
            << QStringList{"Converted: 1, skipped: 0, failed: 2.", "music/locked.wma: permission denied",
                           "music/closed/: permission denied (folder not walked)", "music/Bj\\xF6rk.wma"}
            << QByteArrayList{"out/Bj\xf6rk.mp3=1"};
        QTest::newRow("hidden and ~ files, a FIFO")
            << QStringList{"-o", "out", "music"} << 0
            << QStringList{"Converted: 1, skipped: 0, failed: 0.", "Left out: 4.",
                           "hidden (name begins with \".\"): 1", "name begins with \"~\" (a temporary file): 1",
                           "not a regular file (a FIFO, device or socket): 1", "not a .wma file: 1"}
            << QByteArrayList{"out/one.mp3=1"};
        QTest::newRow("cut short") << QStringList{"-o", "out", "music"} << 1
                                   << QStringList{"Converted with a warning: 1.", " s of 3.0 s"} << QByteArrayList{"out/cut.mp3=cut"};
        QTest::newRow("another user's link and file in a shared output")
            << QStringList{"--keep-folders", "-o", "shared", "victim/music"} << 1
            << QStringList{"link of another user: ", "shared/Album", "another user's file stands at ",
                           "shared/y.mp3"}
            << QByteArrayList{"shared/y.mp3=0"};
        QTest::newRow("a full output disk") << QStringList{"-o", "out", "music"} << 1
                                            << QStringList{"no space left on the output disk: ", "out/one.mp3"}
                                            << QByteArrayList();
        QTest::newRow("the encoder killed") << QStringList{"-o", "out", "music"} << 1
                                            << QStringList{"lame (the encoder) was killed by signal 9"}
                                            << QByteArrayList();
        QTest::newRow("escape sequences in names")
            << QStringList{"-o", "out", "music"} << 0
            << QStringList{"\\e]0;pwned\\x07\\e[2J.wma", "new\\nline.wma", "Converted: 2, skipped: 0, failed: 0."}
            << QByteArrayList{"out/\x1b]0;pwned\x07\x1b[2J.mp3=1", "out/new\nline.mp3=2"};
        QTest::newRow("the window's bytes") << QStringList{"-o", "out", "music"} << 0
                                            << QStringList{"Converted: 1"} << QByteArrayList{"out/tagged.mp3=2"};
        QTest::newRow("names like options") << QStringList{"-o", "out", "-rf.wma"} << 0
                                            << QStringList{"Converted: 1"} << QByteArrayList{"out/-rf.mp3=1"};
        QTest::newRow("another user's folder in a shared output")
            << QStringList{"--keep-folders", "-o", "shared", "victim/music"} << 1
            << QStringList{"folder of another user: ", "shared/Album"} << QByteArrayList();
        QTest::newRow("the supervisor of the tools killed")
            << QStringList{"-o", "out", "music"} << 1 << QStringList{"the tool supervisor stopped: signal 9"}
            << QByteArrayList();
        QTest::newRow("a source written to while it converts")
            << QStringList{"-o", "out", "music"} << 1 << QStringList{"long.wma: changed while converting"}
            << QByteArrayList();
        QTest::newRow("given twice, and a killed save's leftover")
            << QStringList{"-o", "out", "music", "music/one.wma", "./music/one.wma"} << 0
            << QStringList{"Converted: 1, skipped: 0, failed: 0.", "given twice (the same file named again, "
                                                                   "or inside a folder named too): 2"}
            << QByteArrayList{"out/one.mp3=1"};
        QTest::newRow("mono at an Opus bit rate only stereo takes")
            << QStringList{"--to", "opus", "--bitrate", "300", "-o", "out", "music"} << 0
            << QStringList{"Note: Opus takes at most 256 kb/s for 1 channel: 256 kb/s used (1 file)"}
            << QByteArrayList{"out/mono.opus=2"};
        QTest::newRow("a name that is an option too")
            << QStringList{"--output=evil.wma", "one.wma"} << 2
            << QStringList{"2>is both an option and a file"} << QByteArrayList();
    }
    void library() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QStringList, said);
        QFETCH(QByteArrayList, results);
        const QString tag = QTest::currentDataTag();
        const QString root = env_->root();
        const bool asUser = tag.startsWith("unreadable") || tag.startsWith("another");
        if (tag.startsWith("another") && ::geteuid() != 0)
            QSKIP("planting another user's link and running as a second user take root");
        if (asUser && ::geteuid() == 0 && QStandardPaths::findExecutable("setpriv").isEmpty())
            QSKIP("setpriv is not installed");

        for (int k = 1; k <= 3 && (tag.startsWith("same") || tag.startsWith("two")); ++k)
            QVERIFY(MakeTone(Raw(root, "albums/" + QByteArray(1, char('A' + k - 1)) + "/01 Intro.wma"), k));
        if (tag.startsWith("unreadable")) {
            QVERIFY(MakeTone(Raw(root, "music/Bj\xf6rk.wma"), 1));
            QVERIFY(MakeTone(Raw(root, "music/locked.wma"), 2));
            QVERIFY(MakeTone(Raw(root, "music/closed/inside.wma"), 3));
        } else if (tag.startsWith("hidden")) {
            QVERIFY(MakeTone(Raw(root, "music/one.wma"), 1));
            QVERIFY(MakeTone(Raw(root, "music/.hidden.wma"), 2));
            QVERIFY(MakeTone(Raw(root, "music/~temp.wma"), 2));
            QCOMPARE(::mkfifo(Raw(root, "music/pipe.wma").constData(), 0600), 0);
            MakeFile(root + "/music/cover.jpg");
        } else if (tag == "cut short") {
            QDir().mkpath(root + "/music");
            QVERIFY(QFile::copy(kMedia + "truncated_mid_data.wma", root + "/music/cut.wma"));
        } else if (tag.startsWith("another user's link")) {
            // shared: writable by all and sticky, like /tmp, where a third
            // user put a link into the user's music and a file of its own.
            QVERIFY(MakeTone(Raw(root, "victim/music/Album/x.wma"), 1));
            QVERIFY(MakeTone(Raw(root, "victim/music/y.wma"), 1));
            QVERIFY(QDir().mkpath(root + "/victim/Music") && QDir().mkpath(root + "/shared"));
            QCOMPARE(::chmod(QFile::encodeName(root + "/shared").constData(), 01777), 0);
            QVERIFY(QFile::link(root + "/victim/Music", root + "/shared/Album"));
            QCOMPARE(::lchown(QFile::encodeName(root + "/shared/Album").constData(), 65533, 65533), 0);
            MakeFile(root + "/shared/y.mp3", "the other user's");
            QCOMPARE(::chown(QFile::encodeName(root + "/shared/y.mp3").constData(), 65533, 65533), 0);
        } else if (tag.startsWith("a full")) {
            QVERIFY(MakeTone(Raw(root, "music/one.wma"), 3));
            QVERIFY(QDir().mkpath(root + "/out"));
        } else if (tag.startsWith("the encoder") || tag.startsWith("the supervisor") || tag.startsWith("a source")) {
            QVERIFY(MakeTone(Raw(root, "music/long.wma"), tag.startsWith("a source") ? 240 : 40));
        } else if (tag.startsWith("given twice")) {
            QVERIFY(MakeTone(Raw(root, "music/one.wma"), 1));
            MakeFile(root + "/out/.brenvale-part-AbCdEf", "what a killed save left");
            const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, Raw(root, "out/.brenvale-part-AbCdEf").constData(), old, 0), 0);
        } else if (tag.startsWith("mono")) {
            QDir().mkpath(root + "/music");
            QCOMPARE(QProcess::execute(MKWMA_EXECUTABLE, {"encode", root + "/music/mono.wma", "--codec", "wmav2",
                                                          "--channels", "1", "--seconds", "2"}),
                     0);
        } else if (tag == "another user's folder in a shared output") {
            // In the shared output a third user made the folder a result
            // goes to, with a link in it into the user's own music.
            QVERIFY(MakeTone(Raw(root, "victim/music/Album/Disc 1/x.wma"), 1));
            QVERIFY(QDir().mkpath(root + "/victim/Music") && QDir().mkpath(root + "/shared/Album"));
            QCOMPARE(::chmod(QFile::encodeName(root + "/shared").constData(), 01777), 0);
            QVERIFY(QFile::link(root + "/victim/Music", root + "/shared/Album/Disc 1"));
            QCOMPARE(::lchown(QFile::encodeName(root + "/shared/Album/Disc 1").constData(), 65533, 65533), 0);
            QCOMPARE(::chown(QFile::encodeName(root + "/shared/Album").constData(), 65533, 65533), 0);
        } else if (tag.startsWith("escape")) {
            QVERIFY(MakeTone(Raw(root, "music/\x1b]0;pwned\x07\x1b[2J.wma"), 1));
            QVERIFY(MakeTone(Raw(root, "music/new\nline.wma"), 2));
        } else if (tag == "the window's bytes") {
            QDir().mkpath(root + "/music");
            QVERIFY(QFile::copy(kMedia + "tags_all.wma", root + "/music/tagged.wma"));
        } else if (tag.startsWith("names like") || tag.startsWith("a name that")) {
            QVERIFY(MakeTone(Raw(root, "-rf.wma"), 1));
            QVERIFY(MakeTone(Raw(root, "one.wma"), 1));
            QVERIFY(MakeTone(Raw(root, "--output=evil.wma"), 1));
        }

        std::optional<TmpfsMount> small;
        if (tag.startsWith("a full")) {
            small.emplace(root + "/out", "size=16k");
            if (!small->mounted())
                QSKIP("mounting a small tmpfs takes root");
        }
        QProcess p;
        if (asUser) {
            // Everything is the ordinary user's but what it must not read or
            // follow; it works in a work folder of its own.
            QCOMPARE(::chmod(QFile::encodeName(root).constData(), 0755), 0);
            if (::geteuid() == 0) {
                for (const char* folder : {"music", "victim", "work"})
                    if (QFileInfo::exists(root + "/" + QLatin1String(folder)))
                        QCOMPARE(QProcess::execute("chown", {"-R", "65534:65534", root + "/" + QLatin1String(folder)}), 0);
                if (!QFileInfo::exists(root + "/shared"))
                    QCOMPARE(::chown(QFile::encodeName(root).constData(), 65534, 65534), 0);
            }
            if (tag.startsWith("unreadable")) {
                QCOMPARE(::chmod(Raw(root, "music/locked.wma").constData(), 0), 0);
                QCOMPARE(::chmod(Raw(root, "music/closed").constData(), 0), 0);
            }
            QProcessEnvironment e;
            e.insert("PATH", qEnvironmentVariable("PATH"));
            e.insert("HOME", root + "/victim");
            e.insert("TEMP", root + "/work");
            e.insert("ASAN_OPTIONS", "detect_leaks=0");
            p.setProcessEnvironment(e);
            p.setWorkingDirectory(root);
            StartAsOrdinaryUser(p, BRENVALE_EXECUTABLE, QStringList{"--convert"} + args);
            QVERIFY(p.waitForStarted());
        } else if (tag.startsWith("same names")) {
            // A run stopped after its first results, one of them lost since:
            // the run again makes exactly what is missing, under the name the
            // plan gives it.
            start(p, args.mid(1));
            QVERIFY(p.waitForFinished(120000));
            QVERIFY(QFile::remove(out_ + "/01 Intro (2).mp3"));
            start(p, args);
        } else if (tag.startsWith("two batches")) {
            QProcess other;
            start(other, args);
            start(p, args);
            QVERIFY(other.waitForFinished(120000));
            QCOMPARE(other.exitCode(), 0);
        } else {
            start(p, args);
        }
        if (tag.startsWith("the encoder") || tag.startsWith("the supervisor")) {
            pid_t tool = 0;
            QTRY_VERIFY_WITH_TIMEOUT((tool = ToolInJob("lame", env_->work() + "/batch-job-")) > 0, 60000);
            if (tag.startsWith("the supervisor"))
                tool = ParentOf(tool);
            ::kill(tool, SIGKILL);
        } else if (tag.startsWith("a source")) {
            QTRY_VERIFY_WITH_TIMEOUT(ToolInJob("lame", env_->work() + "/batch-job-") > 0, 60000);
            QFile rewritten(root + "/music/long.wma");
            QVERIFY(rewritten.open(QIODevice::ReadWrite) && rewritten.seek(rewritten.size() - 4096) &&
                    rewritten.write(QByteArray(4096, '\0')) == 4096);
        }
        QVERIFY(p.waitForFinished(120000));
        const QByteArray out = p.readAllStandardOutput(), err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), status);
        for (const QString& s : said)
            QVERIFY2(Said(out, err, s), (out + err).constData());
        // No name ever drives the terminal.
        QVERIFY(!out.contains('\x1b') && !err.contains('\x1b'));
        QCOMPARE(jobFolders(), QStringList());

        if (tag.startsWith("unreadable"))
            ::chmod(Raw(root, "music/closed").constData(), 0755);
        if (tag == "the window's bytes") {
            // The window's way with the same source: its working copy, its
            // script and WAV file between the tools, its tags.
            WorkContext work = UserWorkContext();
            StageTools(work);
            FileConversion window(work, QFile::encodeName(root + "/music/tagged.wma"));
            QVERIFY(window.PrepareWorkingCopy().ok());
            QVERIFY(window.RunScript(ConversionFormat::MP3, BuildScriptCommands(work)).ok());
            window.Tag();
            QFile made(window.ResultPath()), batch(root + "/out/tagged.mp3");
            QVERIFY(made.open(QIODevice::ReadOnly) && batch.open(QIODevice::ReadOnly));
            QCOMPARE(batch.readAll(), made.readAll());
            RemoveStagedTools(work);
            RemoveWorkingFiles(work);
        }

        QByteArrayList found = FilesUnder(Raw(root, "out")) + FilesUnder(Raw(root, "shared")) +
                               FilesUnder(Raw(root, "victim/Music"));
        QByteArrayList expected;
        for (const QByteArray& r : results)
            expected << Raw(root, r.left(r.lastIndexOf('=')));
        std::sort(found.begin(), found.end());
        std::sort(expected.begin(), expected.end());
        QCOMPARE(found, expected);
        for (const QByteArray& r : results) {
            QFile file;
            const int fd = ::open(Raw(root, r.left(r.lastIndexOf('='))).constData(), O_RDONLY);
            QVERIFY(fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
            const QByteArray bytes = file.readAll();
            // The source's length; for a file cut short, the length the
            // decoder recovered; 0 for a file that is no result.
            QByteArray seconds = r.mid(r.lastIndexOf('=') + 1);
            if (seconds == "cut")
                seconds = out.mid(out.indexOf("cut short: ") + 11).split(' ').first();
            if (seconds == "0") {
                QCOMPARE(bytes, QByteArray("the other user's"));
                continue;
            }
            if (!r.contains(".mp3=")) {
                const DecodedAudio audio = DecodeAudio(Raw(root, r.left(r.lastIndexOf('='))));
                QVERIFY2(audio.error.isEmpty() && qAbs(audio.seconds() - seconds.toDouble()) < 0.1, r.constData());
                continue;
            }
            const Mp3File mp3 = ParseMp3(bytes);
            QCOMPARE(mp3.error, QString());
            QVERIFY2(qAbs(mp3.seconds - seconds.toDouble()) < 0.1, qPrintable(QString::number(mp3.seconds)));
        }
    }

    // Onto a stick: FAT32 and exFAT images through FUSE (and tmpfs). Every
    // source ends with one result made from it, told by its audio (each
    // source has a length of its own), however the library grew.
    void sticks_data() {
        QTest::addColumn<QString>("fs");               // fat, exfat, or a folder ("", "ro" read-only)
        QTest::addColumn<QByteArrayList>("sources");   // "PATH=SECONDS" under lib/
        QTest::addColumn<QByteArrayList>("grown");     // added before a second run with --skip-existing
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("said");         // by the last run, on stdout; "2>TEXT" on stderr
        QTest::addColumn<QByteArrayList>("results");   // "PATH=SECONDS" under the output
        for (const QString fs : {"fat", "exfat"}) {
            QTest::addRow("%s: names equal but for case, resumed", qPrintable(fs))
                << fs << QByteArrayList{"Album/Song.wma=1", "Album/song.wma=2"} << QByteArrayList() << 0
                << QStringList{"Converted: 0, skipped: 2, failed: 0."}
                << QByteArrayList{"Song.mp3=1", "song (2).mp3=2"};
            QTest::addRow("%s: a library grown by an album", qPrintable(fs))
                << fs << QByteArrayList{"A/01 Intro.wma=1", "B/01 Intro.wma=2"} << QByteArrayList{"AA/01 Intro.wma=3"}
                << 0 << QStringList{"Converted: 1, skipped: 2, failed: 0."}
                << QByteArrayList{"01 Intro.mp3=1", "01 Intro (2).mp3=2", "01 Intro (3).mp3=3"};
            // fusefat takes ASCII names only.
            QTest::addRow("%s: names it refuses", qPrintable(fs))
                << fs << QByteArrayList{"What's Up?.wma=1", "A: B.wma=2", "\"Live\".wma=3", "Bj\xf6rk.wma=4", "x*<>|.wma=5"}
                << QByteArrayList() << 0 << QStringList{"Names made for the output's file system", "Converted: 5"}
                << QByteArrayList{"What's Up_.mp3=1", "A_ B.mp3=2", "'Live'.mp3=3",
                                  fs == "fat" ? "Bjork.mp3=4" : "Bj\xc3\xb6rk.mp3=4", "x____.mp3=5"};
        }
        QTest::newRow("a file of the user's at a result's name")
            << "" << QByteArrayList{"Song.wma=1"} << QByteArrayList() << 0
            << QStringList{"Files of yours left as they are", "out/Song.mp3: the result is Song (2).mp3"}
            << QByteArrayList{"Song.mp3=0", "Song (2).mp3=1"};
        QTest::newRow("a read-only output")
            << "ro" << QByteArrayList{"Song.wma=1"} << QByteArrayList() << 1
            << QStringList{"2>cannot write to ", "2>out: read-only file system"} << QByteArrayList();
    }
    void sticks() {
        QFETCH(QString, fs);
        QFETCH(QByteArrayList, sources);
        QFETCH(QByteArrayList, grown);
        QFETCH(int, status);
        QFETCH(QStringList, said);
        QFETCH(QByteArrayList, results);
        const QString root = env_->root();
        const auto make = [&](const QByteArrayList& list) {
            for (const QByteArray& s : list)
                QVERIFY(MakeTone(Raw(root, "lib2/" + s.left(s.lastIndexOf('='))), s.mid(s.lastIndexOf('=') + 1).toInt()));
        };
        make(sources);
        std::optional<StickImage> stick;
        std::optional<TmpfsMount> readOnly;
        QDir().mkpath(out_);
        if (fs == "fat" || fs == "exfat") {
            stick.emplace(root + "/stick.img", out_, fs);
            if (!stick->mounted())
                QSKIP(qPrintable(stick->why()));
        } else if (fs == "ro") {
            readOnly.emplace(out_, "size=64k");
            if (!readOnly->mounted() ||
                ::mount(nullptr, QFile::encodeName(out_).constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
                QSKIP("mounting a read-only tmpfs takes root");
        } else {
            MakeFile(out_ + "/Song.mp3", "the user's");
        }
        QProcess p;
        start(p, {"-o", "out", "lib2"});
        QVERIFY(p.waitForFinished(120000));
        if (status == 0 && (!grown.isEmpty() || QTest::currentDataTag() == fs + ": names equal but for case, resumed")) {
            make(grown);
            start(p, {"--skip-existing", "-o", "out", "lib2"});
            QVERIFY(p.waitForFinished(120000));
        }
        const QByteArray out = p.readAllStandardOutput(), err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), status);
        for (const QString& text : said)
            QVERIFY2(Said(out, err, text), (out + err).constData());
        QByteArrayList found = FilesUnder(QFile::encodeName(out_));
        QByteArrayList expected;
        for (const QByteArray& r : results)
            expected << QFile::encodeName(out_) + "/" + r.left(r.lastIndexOf('='));
        std::sort(found.begin(), found.end());
        std::sort(expected.begin(), expected.end());
        QCOMPARE(found, expected);
        for (const QByteArray& r : results) {
            QFile file(QFile::decodeName(QFile::encodeName(out_) + "/" + r.left(r.lastIndexOf('='))));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            if (r.endsWith("=0")) {
                QCOMPARE(bytes, QByteArray("the user's"));
                continue;
            }
            const Mp3File mp3 = ParseMp3(bytes);
            QCOMPARE(mp3.error, QString());
            QVERIFY2(qAbs(mp3.seconds - r.mid(r.lastIndexOf('=') + 1).toDouble()) < 0.1, r.constData());
        }
    }

    // Each target from a tagged source with a cover: the result decodes to
    // the decoder's own samples (FLAC) or to the source's length (Opus, M4A:
    // gapless), and carries the tags and the picture. Opus carries the
    // ReplayGain gains as R128 gains (less 5 dB, in 1/256 dB) instead.
    void targets_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("exact");  // sample for sample
        QTest::addColumn<QStringList>("fields");  // NAME=VALUE, an empty value for none
        QTest::newRow("flac") << "flac" << true
                              << QStringList{"REPLAYGAIN_TRACK_GAIN=-6.48 dB", "ORIGINALYEAR=1999",
                                             "ORIGINALDATE=1999", "R128_TRACK_GAIN="};
        QTest::newRow("opus") << "opus" << false
                              << QStringList{"REPLAYGAIN_TRACK_GAIN=", "REPLAYGAIN_ALBUM_PEAK=", "ORIGINALYEAR=1999",
                                             "R128_TRACK_GAIN=-2939", "R128_ALBUM_GAIN=-3077"};
        QTest::newRow("m4a") << "m4a" << false
                             << QStringList{"----:com.apple.iTunes:REPLAYGAIN_TRACK_GAIN=-6.48 dB"};
    }
    void targets() {
        QFETCH(QString, target);
        QFETCH(bool, exact);
        QFETCH(QStringList, fields);
        const QString root = env_->root();
        QDir().mkpath(root + "/music");
        QVERIFY(QFile::copy(kMedia + "tags_all.wma", root + "/music/tagged.wma"));
        QProcess p;
        start(p, {"--to", target, "-o", "out", "music"});
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitCode(), 0);
        const QByteArray result = QFile::encodeName(root + "/out/tagged." + target);

        // What the decoder gives for the source, as the batch's decoder ran.
        QCOMPARE(QProcess::execute(WMAWAV_EXECUTABLE, {"--keep-depth", root + "/music/tagged.wma", root + "/ref.wav"}), 0);
        const DecodedAudio reference = DecodeAudio(QFile::encodeName(root + "/ref.wav"));
        const DecodedAudio decoded = DecodeAudio(result);
        QCOMPARE(decoded.error, QString());
        QVERIFY(!decoded.samples.empty());
        if (exact) {
            QCOMPARE(decoded.sampleRate, reference.sampleRate);
            QVERIFY(decoded.samples == reference.samples);
        } else {
            QVERIFY2(qAbs(decoded.seconds() - reference.seconds()) <= 0.001,
                     qPrintable(QString("%1 s against %2 s").arg(decoded.seconds()).arg(reference.seconds())));
        }

        const TagLib::FileRef file(result.constData());
        QVERIFY(file.tag());
        QCOMPARE(QString::fromStdString(file.tag()->title().to8Bit(true)), QString("Evening Tide"));
        QCOMPARE(QString::fromStdString(file.tag()->artist().to8Bit(true)), QString("The Brenvale Players"));
        const TagLib::PropertyMap properties = file.file()->properties();
        QCOMPARE(QString::fromStdString(properties["MUSICBRAINZ_TRACKID"].toString().to8Bit(true)),
                 QString("6c4e9a53-0a36-4b8b-8a3e-1c1b7a2d1e01"));
        // TagLib has no property of its own for a freeform atom it does not know.
        auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file.file());
        const auto text = [&](const QString& name) {
            const TagLib::String key(name.toStdString(), TagLib::String::UTF8);
            return QString::fromStdString(
                (mp4 ? mp4->tag()->item(key).toStringList() : properties[key]).toString(" | ").to8Bit(true));
        };
        for (const QString& field : fields)
            QCOMPARE(text(field.section('=', 0, 0)), field.section('=', 1));
        // "3" beside TRACKTOTAL "12", or the atom's "3/12".
        QVERIFY(properties["TRACKNUMBER"].toString().startsWith("3"));
        bool picture = false;
        if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file.file()))
            picture = !flac->pictureList().isEmpty();
        else if (auto* opus = dynamic_cast<TagLib::Ogg::Opus::File*>(file.file()))
            picture = !opus->tag()->pictureList().isEmpty();
        else if (mp4)
            picture = mp4->tag()->contains("covr");
        QVERIFY(picture);
        if (target == "m4a") {  // an ordinary M4A file, its index before the audio after tagging too
            QFile f(QFile::decodeName(result));
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray bytes = f.readAll();
            QCOMPARE(bytes.mid(4, 8), QByteArray("ftypM4A "));
            QByteArrayList boxes;
            for (qsizetype at = 0, size = 8; size >= 8 && at + 8 <= bytes.size(); at += size) {
                size = qFromBigEndian<quint32>(bytes.constData() + at);
                boxes << bytes.mid(at + 4, 4);
            }
            QVERIFY2(boxes.contains("moov") && boxes.indexOf("moov") < boxes.indexOf("mdat"),
                     boxes.join(' '));
            // iTunSMPB: the edit list's delay and length (the source's), the
            // rest of the encoder's frames of 1024 samples its padding.
            const QStringList smpb = text("----:com.apple.iTunes:iTunSMPB").split(' ', Qt::SkipEmptyParts);
            const qsizetype elst = bytes.indexOf("elst");
            QVERIFY(smpb.size() == 12 && elst > 0 && bytes[elst + 4] == 0);
            const quint32 length = qFromBigEndian<quint32>(bytes.constData() + elst + 12);
            const quint32 delay = qFromBigEndian<quint32>(bytes.constData() + elst + 16);
            QCOMPARE(smpb[1].toUInt(nullptr, 16), delay);
            QCOMPARE(smpb[3].toULongLong(nullptr, 16), length);
            QCOMPARE(length, quint32(reference.samples.size() / size_t(reference.channels)));
            QCOMPARE((delay + length + smpb[2].toUInt(nullptr, 16)) % 1024, 0u);
        }
    }

    // The names a pattern makes from a source's tags: one row per kind of
    // field and per rule.
    void namePattern_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("tags");  // "field=value", a field twice for two values
        QTest::addColumn<QString>("name");      // the path made; "" none; "error: ..." a refused pattern
        const QString album = "album";
        const QStringList full = {"title=Song", "artist=Band", "album=Album", "tracknumber=3", "totaltracks=12"};
        QTest::newRow("the album preset") << album << full << "Band/Album/03 Song";
        QTest::newRow("the flat preset") << "flat" << full << "Band - Song";
        QTest::newRow("first artist, all artists") << "{artist}; {artists}" << QStringList{"artist=A", "artist=B"}
                                                   << "A; A, B";
        QTest::newRow("album artist, else the artist") << "{albumartist}" << QStringList{"artist=A"} << "A";
        QTest::newRow("a compilation") << "{albumartist}" << QStringList{"artist=A", "compilation=1"}
                                       << "Various Artists";
        QTest::newRow("a compilation's named album artist")
            << "{albumartist}" << QStringList{"artist=A", "albumartist=B", "compilation=1"} << "B";
        QTest::newRow("numbers padded to their totals")
            << "{disc}-{track} of {tracktotal}"
            << QStringList{"discnumber=2", "totaldiscs=10", "tracknumber=7", "totaltracks=120"} << "02-007 of 120";
        QTest::newRow("a set of one disc") << album << full + QStringList{"discnumber=1", "totaldiscs=1"}
                                           << "Band/Album/03 Song";
        QTest::newRow("several discs") << album << full + QStringList{"discnumber=2", "totaldiscs=2"}
                                       << "Band/Album/2-03 Song";
        QTest::newRow("year of a date, genre, composers")
            << "{year} {genre} {composer}" << QStringList{"date=2004-05-06", "genre=Rock", "composer=X", "composer=Y"}
            << "2004 Rock X, Y";
        QTest::newRow("fallbacks") << "{albumartist|Unknown Artist}/{album|title|No Title}" << QStringList{"title=T"}
                                   << "Unknown Artist/T";
        QTest::newRow("an optional part left out") << "[{disc}-]{track} {title}"
                                                   << QStringList{"tracknumber=1", "title=T"} << "01 T";
        QTest::newRow("a / and control characters in values")
            << "{artist}/{title}" << QStringList{"artist=AC/DC", "title=Live 1/2\tend"} << "AC_DC/Live 1_2_end";
        QTest::newRow("a value of dots") << "{album}/{title}" << QStringList{"album=..", "title=T"} << "_/T";
        QTest::newRow("a field missing: the source's own name") << "{artist} - {title}" << QStringList{"title=T"}
                                                                << "";
        QTest::newRow("file name and folder") << "{folder}/{filename}" << QStringList() << "Rock/Old/01 Track 01";
        QTest::newRow("an unknown field") << "{titel}" << QStringList() << "error: unknown field {titel}";
        QTest::newRow("a folder of its own") << "/{title}" << QStringList() << "error: no \"/\" at its start";
        QTest::newRow("an optional part unclosed") << "[{disc}" << QStringList() << "error: \"[\" without \"]\"";
    }
    void namePattern() {
        QFETCH(QString, pattern);
        QFETCH(QStringList, tags);
        QFETCH(QString, name);
        QString problem;
        const std::optional<NamePattern> parsed = NamePattern::Parse(pattern, &problem);
        if (name.startsWith("error: ")) {
            QVERIFY(!parsed);
            QVERIFY2(problem.contains(name.mid(7)), qPrintable(problem));
            return;
        }
        QVERIFY2(parsed, qPrintable(problem));
        NameSource source{TrackTags(), "01 Track 01", "Rock/Old"};
        for (const QString& tag : tags)
            source.tags.fields[tag.section('=', 0, 0)] << tag.section('=', 1).replace("\\t", "\t");
        const std::optional<QStringList> made = parsed->Render(source);
        QCOMPARE(made ? made->join('/') : QString(), name);
    }

    // A library named by Windows' defaults, named from its tags: each result
    // under its artist and album, with the album art Windows kept beside
    // the files where the source has no picture of its own, and its
    // source's time.
    void namesFromTags_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("fs");
        for (const char* format : {"mp3", "flac", "opus", "m4a"})
            QTest::newRow(format) << QString(format) << QString();
        QTest::newRow("mp3 on FAT") << "mp3" << "fat";
    }
    void namesFromTags() {
        QFETCH(QString, format);
        QFETCH(QString, fs);
        const QString root = env_->root();
        const QString album = root + "/library/Unknown Album (3-12-2009 8-41-20 PM)";
        QVERIFY(QDir().mkpath(album) && QDir().mkpath(root + "/library/Twins") && QDir().mkpath(out_));
        const QByteArray art = QByteArray("\xFF\xD8\xFF\xE0") + QByteArray(2000, 'L');
        MakeFile(album + "/AlbumArt_{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}_Large.jpg", art);
        MakeFile(album + "/AlbumArtSmall.jpg", QByteArray("\xFF\xD8\xFF\xE0") + QByteArray(100, 'S'));
        const QByteArray own = QByteArray("\x89PNG\r\n\x1A\n") + QByteArray(300, 'P');
        MakeFile(root + "/own.png", own);
        const auto make = [&](const QString& path, int seconds, const QStringList& tags) {
            return QProcess::execute(MKWMA_EXECUTABLE, QStringList{"encode", path, "--codec", "wmav2", "--seconds",
                                                                   QString::number(seconds)} + tags) == 0;
        };
        QVERIFY(make(album + "/01 Track 01.wma", 1, {"--title", "Why?", "--artist", "Band", "--album", "Album",
                                                      "--track", "1/2"}));
        QVERIFY(make(album + "/02 Track 02.wma", 2, {"--title", "Other", "--artist", "Band", "--album", "Album",
                                                      "--track", "2/2", "--picture", root + "/own.png"}));
        QVERIFY(make(root + "/library/Twins/a.wma", 3, {"--title", "Twin", "--artist", "Band", "--album", "Pair"}));
        QVERIFY(make(root + "/library/Twins/b.wma", 4, {"--title", "Twin", "--artist", "Band", "--album", "Pair"}));
        const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(album + "/01 Track 01.wma").constData(), old, 0), 0);
        std::optional<StickImage> stick;
        if (!fs.isEmpty()) {
            stick.emplace(root + "/stick.img", out_, fs);
            if (!stick->mounted())
                QSKIP(qPrintable(stick->why()));
        }
        QProcess p;
        start(p, {"--to", format, "--name", "album", "--keep-dates", "-o", "out", "library"});
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitCode(), 0);
        const QString err = QString::fromUtf8(p.readAllStandardError() + p.readAllStandardOutput());
        QVERIFY2(err.contains("Given the album art beside their sources: 1."), qPrintable(err));
        const QString first = out_ + "/Band/Album/01 Why" + (fs.isEmpty() ? "?" : "_") + "." + format;
        // Each result, its source's length, and the picture it must hold.
        const QList<std::tuple<QString, double, QByteArray>> results = {
            {first, 1, art},
            {out_ + "/Band/Album/02 Other." + format, 2, own},
            {out_ + "/Band/Pair/Twin." + format, 3, QByteArray()},
            {out_ + "/Band/Pair/Twin (2)." + format, 4, QByteArray()},
        };
        for (const auto& [path, seconds, picture] : results) {
            const DecodedAudio audio = DecodeAudio(QFile::encodeName(path));
            QVERIFY2(audio.error.isEmpty() && qAbs(audio.seconds() - seconds) < 0.1, qPrintable(path));
            QCOMPARE(FirstPicture(QFile::encodeName(path)), picture);
        }
        QCOMPARE(QFileInfo(first).lastModified().toSecsSinceEpoch(), 1000000000);
    }

    // Ctrl-C in the middle: every job and its tools stop, nothing partial
    // is left, the job folders go, and the status is 130. The command it
    // prints converts the rest.
    void interrupt() {
        const QString longFolder = "lib/it's long";
        QDir().mkpath(lib_ + "/it's long");
        for (int i = 0; i < 4; ++i)
            QCOMPARE(QProcess::execute(MKWMA_EXECUTABLE, {"encode", lib_ + QString("/it's long/%1.wma").arg(i),
                                                          "--codec", "wmav2", "--seconds", "40"}),
                     0);
        QProcess p;
        start(p, {"--jobs", "2", "-o", "out", longFolder});
        const QString jobs = env_->work() + "/batch-job-";
        QTRY_VERIFY_WITH_TIMEOUT(jobFolders().size() == 2 && ToolInJob("lame", jobs) > 0, 60000);
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 130);
        QCOMPARE(jobFolders(), QStringList());
        for (const QString& r : Results(out_))
            QCOMPARE(ReadMp3(out_ + "/" + r).error, QString());
        // No tool still works in a job folder.
        for (const QString& pid : QDir("/proc").entryList(QDir::Dirs))
            QVERIFY(!QFileInfo("/proc/" + pid + "/cwd").symLinkTarget().startsWith(jobs));
        const QByteArray stopped = p.readAllStandardError();
        const qsizetype done = stopped.indexOf("brenvale: stopped (Interrupt): converted ");
        QVERIFY2(done >= 0, stopped.constData());
        const QByteArray resume = stopped.mid(stopped.lastIndexOf("\n  ") + 3).trimmed();
        QVERIFY2(resume.endsWith(" --convert --skip-existing --jobs 2 -o out 'lib/it'\\''s long'"),
                 resume.constData());
        QProcess resumed;
        resumed.setProcessEnvironment(p.processEnvironment());
        resumed.setWorkingDirectory(env_->root());
        resumed.start("sh", {"-c", QString::fromUtf8(resume)});
        QVERIFY(resumed.waitForFinished(120000));
        QCOMPARE(resumed.exitCode(), 0);
        const QByteArray converted = stopped.mid(done + 41).split(',').first();
        QVERIFY2(resumed.readAllStandardOutput().contains(", skipped: " + converted + ", failed: 0."),
                 stopped.constData());
        QCOMPARE(Results(out_).size(), 4);

        // A batch killed outright leaves its job folders behind; the next
        // batch removes them, and never the folder of a batch still running.
        QProcess running, next;
        start(running, QStringList{"--jobs", "1", "-o", "out"} + QStringList(8, longFolder));
        QTRY_COMPARE_WITH_TIMEOUT(jobFolders().size(), 1, 60000);
        const QStringList live = jobFolders();
        // Files whose tools take seconds: a killed batch's tools must not
        // run on to their end.
        for (int i = 0; i < 2; ++i)
            QVERIFY(MakeTone(Raw(lib_, "longer/" + QByteArray::number(i) + ".wma"), 240));
        start(p, {"--jobs", "2", "-o", "out", "lib/longer"});
        QTRY_COMPARE_WITH_TIMEOUT(jobFolders().size(), 3, 60000);
        QStringList killed = jobFolders();
        killed.removeOne(live.first());
        QTRY_VERIFY_WITH_TIMEOUT(ToolInJob("wmawav", env_->work() + "/" + killed.last()) > 0, 60000);
        p.kill();
        QVERIFY(p.waitForFinished(30000));
        // Its tools end with it.
        for (const QString& folder : killed)
            QTRY_COMPARE_WITH_TIMEOUT(ToolInJob("wmawav", env_->work() + "/" + folder) +
                                          ToolInJob("lame", env_->work() + "/" + folder),
                                      0, 1000);
        start(next, {"-o", "out", "lib/C"});
        QVERIFY(next.waitForFinished(60000));
        QCOMPARE(next.exitCode(), 0);
        QCOMPARE(jobFolders(), live);
        ::kill(static_cast<pid_t>(running.processId()), SIGINT);
        QVERIFY(running.waitForFinished(30000));
        QCOMPARE(running.exitCode(), 130);
    }
};

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
