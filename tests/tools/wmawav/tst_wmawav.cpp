// The wmawav program, run as a process on the test media: good files decode
// to correct WAV files; protected, damaged and foreign files fail with one
// line on stderr and leave nothing behind. And the audioenc program on the
// WAV files it decodes: FLAC of exactly their samples, Opus and M4A of
// their length.

#include "avdecode.h"
#include "wmawav/decoder.h"
#include "wavcheck.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <algorithm>

namespace {

const QString kMedia = QStringLiteral(WMAWAV_TESTMEDIA_DIR);
const QString kWmawav = QStringLiteral(WMAWAV_EXECUTABLE);
const QString kAudioenc = QStringLiteral(AUDIOENC_EXECUTABLE);

struct Run {
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs wmawav (or another program) with the given arguments; a run that
// takes more than 60 seconds counts as a hang.
Run RunWmawav(const QStringList& args, const QString& workDir = QString(), const QString& program = kWmawav) {
    QProcess p;
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.start(program, args);
    Run r;
    if (!p.waitForStarted(10000))
        return r;
    r.finished = p.waitForFinished(60000);
    if (!r.finished) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// Everything in a folder, hidden files included.
QStringList Entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// One line: text ending in a single newline and holding no other.
bool IsOneLine(const QByteArray& err) {
    return err.size() > 1 && err.endsWith('\n') && err.count('\n') == 1 && !err.trimmed().isEmpty();
}

}  // namespace

class TestWmawav : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void decodesValidFiles_data();
    void decodesValidFiles();
    void decodesCutShortFile_data();
    void decodesCutShortFile();
    void refusesFile_data();
    void refusesFile();
    void refusesGarbageAudioData();
    void survivesCorruption_data();
    void survivesCorruption();
    void failureKeepsAnExistingOutput();
    void refusesOutputThatIsNoFile_data();
    void refusesOutputThatIsNoFile();
    void writesStandardOutput();
    void successReplacesAnExistingOutput();
    void missingOutputFolder();
    void badCommandLine_data();
    void badCommandLine();
    void unreadableInput_data();
    void unreadableInput();
    void longestOutputName();
    void relativeOutputPath();
    void encodes_data();
    void encodes();
    void encoderRefuses_data();
    void encoderRefuses();
};

void TestWmawav::initTestCase() {
    QVERIFY2(QFileInfo(kWmawav).isExecutable(), qPrintable(kWmawav));
    QVERIFY2(QFileInfo(kMedia + "/wmav2_stereo_44100.wma").isFile(),
             "test media missing: build brenvale_testmedia");
}

void TestWmawav::decodesValidFiles_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<double>("seconds");
    // The loudest tone expected in each channel, and its amplitude in full
    // scale. Channel 1 of the WAV-sourced file is a three-note chord.
    QTest::addColumn<QList<double>>("freqs");
    QTest::addColumn<QList<double>>("amplitudes");

    const QList<double> mono{440}, stereo{440, 660};
    const QList<double> half{0.5}, halfs{0.5, 0.5};
    QTest::newRow("wmav1 mono 22050") << "wmav1_mono_22050.wma" << 22050 << 1 << 3.0 << mono << half;
    QTest::newRow("wmav1 stereo 44100") << "wmav1_stereo_44100.wma" << 44100 << 2 << 3.0 << stereo << halfs;
    QTest::newRow("wmav1 stereo 48000") << "wmav1_stereo_48000.wma" << 48000 << 2 << 3.0 << stereo << halfs;
    QTest::newRow("wmav2 mono 44100") << "wmav2_mono_44100.wma" << 44100 << 1 << 3.0 << mono << half;
    QTest::newRow("wmav2 mono 48000") << "wmav2_mono_48000.wma" << 48000 << 1 << 3.0 << mono << half;
    QTest::newRow("wmav2 stereo 22050") << "wmav2_stereo_22050.wma" << 22050 << 2 << 3.0 << stereo << halfs;
    QTest::newRow("wmav2 stereo 44100") << "wmav2_stereo_44100.wma" << 44100 << 2 << 3.0 << stereo << halfs;
    QTest::newRow("wmav2 stereo 48000") << "wmav2_stereo_48000.wma" << 48000 << 2 << 3.0 << stereo << halfs;
    QTest::newRow("wmav2 with title")
        << "wmav2_stereo_44100_title.wma" << 44100 << 2 << 2.0 << stereo << halfs;
    QTest::newRow("wmav2 behind an ID3 tag") << "id3_prefixed.wma" << 44100 << 2 << 3.0 << stereo << halfs;
    QTest::newRow("wmav2 from wav") << "wmav2_stereo_44100_from_wav.wma" << 44100 << 2 << 2.0
                                    << QList<double>{329.63, 440} << QList<double>{0.5 / 3, 0.5};
}

void TestWmawav::decodesValidFiles() {
    QFETCH(QString, file);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(double, seconds);
    QFETCH(QList<double>, freqs);
    QFETCH(QList<double>, amplitudes);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString out = dir.filePath("decoded.wav");
    const Run r = RunWmawav({kMedia + "/" + file, out});
    QVERIFY2(r.finished, "wmawav did not finish");
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QVERIFY2(r.err.isEmpty(), r.err.constData());
    QVERIFY(r.out.isEmpty());
    QCOMPARE(Entries(dir.path()), QStringList{"decoded.wav"});

    const WavFile w = ReadCanonicalWav(out);
    QVERIFY2(w.error.isEmpty(), qPrintable(w.error));
    QCOMPARE(w.sampleRate, rate);
    QCOMPARE(w.channels, channels);
    // The codec works in blocks of up to 2048 samples, so the length may
    // differ from the source's by a fraction of a block.
    QVERIFY2(qAbs(w.seconds() - seconds) < 0.1, qPrintable(QString("%1 s decoded").arg(w.seconds())));

    // Each channel carries its own tone at the right level, and not the
    // other channel's.
    for (int c = 0; c < channels; ++c) {
        const double level = ToneAmplitude(w, c, freqs[c]) / 32767.0;
        QVERIFY2(
            qAbs(level - amplitudes[c]) < 0.1 * amplitudes[c],
            qPrintable(QString("channel %1: %2 Hz at %3 of full scale").arg(c).arg(freqs[c]).arg(level)));
        if (channels == 2 && file != "wmav2_stereo_44100_from_wav.wma") {
            const double leak = ToneAmplitude(w, c, freqs[1 - c]) / 32767.0;
            QVERIFY2(
                leak < 0.01,
                qPrintable(QString("channel %1 carries %2 Hz at %3").arg(c).arg(freqs[1 - c]).arg(leak)));
        }
    }

    // The file is readable by others as any new file is, not private like a
    // temporary file.
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(out).constData(), &st), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    QCOMPARE(st.st_mode & 0777, 0666 & ~mask);

    // The same file as the standard input ("-") gives the same bytes, read
    // from its start although whoever handed it over has read into it.
    QProcess p;
    p.setStandardInputFile(kMedia + "/" + file);
    p.start("/bin/sh", {"-c", "dd bs=1 count=100 of=/dev/null 2>/dev/null && exec \"$0\" - \"$1\"", kWmawav,
                        dir.filePath("stdin.wav")});
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    QFile a(out), b(dir.filePath("stdin.wav"));
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    const QByteArray bytes = a.readAll();
    QVERIFY(bytes == b.readAll());

    // --keep-depth changes nothing where the source has 16 bits.
    QCOMPARE(RunWmawav({"--keep-depth", kMedia + "/" + file, dir.filePath("deep.wav")}).exitCode, 0);
    QFile c(dir.filePath("deep.wav"));
    QVERIFY(c.open(QIODevice::ReadOnly) && c.readAll() == bytes);
}

void TestWmawav::decodesCutShortFile_data() {
    QTest::addColumn<QStringList>("options");  // in any order
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("whole");   // the file it was cut from
    QTest::addColumn<QString>("length");  // the whole file's, as the line gives it
    QTest::addColumn<double>("seconds");  // what is left, give or take a packet (0.19 s)
    QTest::newRow("3 s cut half-way") << QStringList{"--partial"} << "truncated_mid_data.wma"
                                      << "wmav2_stereo_44100.wma"
                                      << "3.0" << 1.5;
    QTest::newRow("90% of 60 s") << QStringList{"--partial", "--keep-depth"} << "truncated_90_percent.wma"
                                 << "wmav2_stereo_44100_60s.wma"
                                 << "60.0" << 53.9;
    QTest::newRow("full size, zeros after half") << QStringList{"--keep-depth", "--partial"} << "zeroed_half.wma"
                                                 << "wmav2_stereo_44100.wma"
                                                 << "3.0" << 1.5;
}

// With --partial, a file cut short in its packets is decoded up to the cut:
// status 8, the WAV file written whole, and a line that says how much.
void TestWmawav::decodesCutShortFile() {
    QFETCH(QStringList, options);
    QFETCH(QString, file);
    QFETCH(QString, whole);
    QFETCH(QString, length);
    QFETCH(double, seconds);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const Run r = RunWmawav(options + QStringList{kMedia + "/" + file, dir.filePath("cut.wav")});
    QCOMPARE(r.exitCode, 8);
    const QRegularExpressionMatch m =
        QRegularExpression("^wmawav: .*/" + file + ": cut short: (\\d+\\.\\d) s of " + length + " s\n$")
            .match(QString::fromUtf8(r.err));
    QVERIFY2(m.hasMatch(), r.err.constData());
    QCOMPARE(Entries(dir.path()), QStringList{"cut.wav"});
    const WavFile cut = ReadCanonicalWav(dir.filePath("cut.wav"));
    QVERIFY2(cut.error.isEmpty(), qPrintable(cut.error));
    QVERIFY(qAbs(cut.seconds() - m.captured(1).toDouble()) <= 0.05 && qAbs(cut.seconds() - seconds) < 0.2);

    // Every sample is the whole file's, but for the codec's last block,
    // which lacks the overlap of the block that was cut off.
    QCOMPARE(RunWmawav({kMedia + "/" + whole, dir.filePath("whole.wav")}).exitCode, 0);
    const WavFile w = ReadCanonicalWav(dir.filePath("whole.wav"));
    const int same = cut.samples.size() - 2048 * cut.channels;
    QVERIFY(same > 0 && w.samples.size() > cut.samples.size());
    QVERIFY(std::equal(cut.samples.begin(), cut.samples.begin() + same, w.samples.begin()));
}

void TestWmawav::refusesFile_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("status");
    const int unsupported = 3, drm = 4, damaged = 5;
    QTest::newRow("drm content") << "drm_protected.wma" << drm;
    QTest::newRow("drm extended") << "drm_extended.wma" << drm;
    QTest::newRow("drm advanced") << "drm_advanced.wma" << drm;
    QTest::newRow("truncated in header") << "truncated_header.wma" << damaged;
    QTest::newRow("truncated after header") << "truncated_after_header.wma" << damaged;
    QTest::newRow("truncated mid-data") << "truncated_mid_data.wma" << damaged;
    // Rows whose tag ends in "(--partial)" run with that option.
    QTest::newRow("truncated after header (--partial)") << "truncated_after_header.wma" << damaged;
    QTest::newRow("data size past a whole file (--partial)") << "flipped_data_size.wma" << damaged;
    QTest::newRow("flipped header guid") << "flipped_header_guid.wma" << unsupported;
    QTest::newRow("flipped object size") << "flipped_object_size.wma" << damaged;
    QTest::newRow("mp3") << "mp3_renamed.wma" << unsupported;
    QTest::newRow("text") << "text_renamed.wma" << unsupported;
    QTest::newRow("empty") << "empty.wma" << unsupported;
    QTest::newRow("pcm in asf") << "pcm_6ch_48000.wma" << unsupported;
    QTest::newRow("wav") << "source_stereo_44100.wav" << unsupported;
}

void TestWmawav::refusesFile() {
    QFETCH(QString, file);
    QFETCH(int, status);
    QVERIFY2(QFileInfo::exists(kMedia + "/" + file), qPrintable(file + " missing"));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QStringList args{kMedia + "/" + file, dir.filePath("out.wav")};
    if (QByteArray(QTest::currentDataTag()).endsWith("(--partial)"))
        args.prepend("--partial");
    const Run r = RunWmawav(args);
    QVERIFY2(r.finished, "wmawav did not finish");
    QCOMPARE(r.exitCode, status);
    QVERIFY2(IsOneLine(r.err), r.err.constData());
    QVERIFY(r.err.startsWith("wmawav: "));
    QVERIFY(r.out.isEmpty());
    QCOMPARE(Entries(dir.path()), QStringList());
}

void TestWmawav::refusesGarbageAudioData() {
    // A sound header followed by a Data Object whose packets are noise: no
    // audio can be decoded from it.
    QFile f(kMedia + "/wmav2_stereo_44100.wma");
    QVERIFY(f.open(QIODevice::ReadOnly));
    QByteArray bytes = f.readAll();
    const quint64 headerSize = qFromLittleEndian<quint64>(bytes.constData() + 16);
    QVERIFY(headerSize + 50 < quint64(bytes.size()));
    quint32 x = 12345;
    for (qsizetype i = qsizetype(headerSize) + 50; i < bytes.size(); ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[i] = char(x >> 24);
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile g(dir.filePath("noise.wma"));
    QVERIFY(g.open(QIODevice::WriteOnly));
    g.write(bytes);
    g.close();
    const Run r = RunWmawav({g.fileName(), dir.filePath("out.wav")});
    QVERIFY2(r.finished, "wmawav did not finish");
    QCOMPARE(r.exitCode, 5);
    QVERIFY2(IsOneLine(r.err), r.err.constData());
    QCOMPARE(Entries(dir.path()), QStringList{"noise.wma"});
}

void TestWmawav::survivesCorruption_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("inHeader");
    QTest::addColumn<int>("flips");
    QTest::addColumn<quint32>("seed");
    const char* const files[] = {"wmav1_stereo_44100.wma", "wmav2_mono_48000.wma", "wmav2_stereo_22050.wma"};
    for (quint32 seed = 1; seed <= 8; ++seed)
        for (const char* f : files) {
            QTest::newRow(qPrintable(QString("%1 data %2").arg(f).arg(seed)))
                << f << false << int(seed * 40) << seed;
            QTest::newRow(qPrintable(QString("%1 header %2").arg(f).arg(seed)))
                << f << true << int(seed) << seed;
        }
}

void TestWmawav::survivesCorruption() {
    // Random bytes overwritten in the header or in the audio packets. The
    // decoder may succeed (damage the codec tolerates) or fail, but it must
    // end normally, in time, with a valid WAV file or one line and nothing
    // left behind.
    QFETCH(QString, file);
    QFETCH(bool, inHeader);
    QFETCH(int, flips);
    QFETCH(quint32, seed);
    QFile f(kMedia + "/" + file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QByteArray bytes = f.readAll();
    const qsizetype headerSize = qsizetype(qFromLittleEndian<quint64>(bytes.constData() + 16));
    QVERIFY(headerSize > 30 && headerSize + 50 < bytes.size());
    // The damaged region: the header's objects, or the packets.
    const qsizetype from = inHeader ? 30 : headerSize + 50;
    const qsizetype span = inHeader ? headerSize - 30 : bytes.size() - from;
    quint32 x = seed * 2654435761u;
    for (int i = 0; i < flips; ++i) {
        x = x * 1664525u + 1013904223u;
        const qsizetype at = from + qsizetype(x % quint32(span));
        x = x * 1664525u + 1013904223u;
        bytes[at] = char(x >> 24);
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile g(dir.filePath("in.wma"));
    QVERIFY(g.open(QIODevice::WriteOnly));
    g.write(bytes);
    g.close();
    const Run r = RunWmawav({g.fileName(), dir.filePath("out.wav")});
    QVERIFY2(r.finished, "wmawav did not finish");
    QVERIFY2(r.exitCode >= 0 && r.exitCode <= 6,
             qPrintable(QString("exit %1: %2").arg(r.exitCode).arg(r.err.constData())));
    if (r.exitCode == 0) {
        QVERIFY2(r.err.isEmpty(), r.err.constData());
        const WavFile w = ReadCanonicalWav(dir.filePath("out.wav"));
        QVERIFY2(w.error.isEmpty(), qPrintable(w.error));
        QVERIFY(w.frames() > 0);
        QCOMPARE(Entries(dir.path()), (QStringList{"in.wma", "out.wav"}));
    } else {
        QVERIFY2(IsOneLine(r.err), r.err.constData());
        QCOMPARE(Entries(dir.path()), QStringList{"in.wma"});
    }
}

void TestWmawav::failureKeepsAnExistingOutput() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString out = dir.filePath("out.wav");
    QFile f(out);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("earlier result");
    f.close();
    const Run r = RunWmawav({kMedia + "/drm_protected.wma", out});
    QCOMPARE(r.exitCode, 4);
    QCOMPARE(Entries(dir.path()), QStringList{"out.wav"});
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("earlier result"));
}

void TestWmawav::refusesOutputThatIsNoFile_data() {
    QTest::addColumn<bool>("fifo");
    QTest::newRow("a link") << false;
    QTest::newRow("a FIFO") << true;
}

// A link or a FIFO at the output's path stays as it was, and nothing is
// written through it.
void TestWmawav::refusesOutputThatIsNoFile() {
    QFETCH(bool, fifo);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString target = dir.filePath("target"), out = dir.filePath("out.wav");
    QFile f(target);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("other file") == 10);
    f.close();
    QVERIFY(fifo ? ::mkfifo(QFile::encodeName(out).constData(), 0600) == 0 : QFile::link(target, out));
    const Run r = RunWmawav({kMedia + "/wmav2_mono_48000.wma", out});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 6);
    QVERIFY2(IsOneLine(r.err), r.err.constData());
    QCOMPARE(QFileInfo(out).isSymLink(), !fifo);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("other file"));
    QCOMPARE(Entries(dir.path()), (QStringList{"out.wav", "target"}));
}

// "-" is the standard output. A pipe gets the same audio as a file, with
// sizes that say "unknown".
void TestWmawav::writesStandardOutput() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const Run r = RunWmawav({kMedia + "/wmav2_mono_48000.wma", "-"}, dir.path());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(RunWmawav({kMedia + "/wmav2_mono_48000.wma", dir.filePath("file.wav")}).exitCode, 0);
    QFile f(dir.filePath("file.wav"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray file = f.readAll();
    QCOMPARE(r.out.mid(8, 32) + r.out.mid(44), file.mid(8, 32) + file.mid(44));
    QCOMPARE(r.out.mid(4, 4) + r.out.mid(40, 4), QByteArray(8, '\xFF'));
    // A regular file as the standard output gets its sizes: the very bytes
    // of the file that wmawav names itself.
    QProcess p;
    p.setStandardOutputFile(dir.filePath("stdout.wav"));
    p.start(kWmawav, {kMedia + "/wmav2_mono_48000.wma", "-"});
    QVERIFY(p.waitForFinished(60000) && p.exitCode() == 0);
    QFile g(dir.filePath("stdout.wav"));
    QVERIFY(g.open(QIODevice::ReadOnly));
    QCOMPARE(g.readAll(), file);
}

void TestWmawav::successReplacesAnExistingOutput() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString out = dir.filePath("out.wav");
    QFile f(out);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(3 * 1024 * 1024, 'x'));  // longer than the new file
    f.close();
    const Run r = RunWmawav({kMedia + "/wmav1_mono_22050.wma", out});
    QCOMPARE(r.exitCode, 0);
    const WavFile w = ReadCanonicalWav(out);
    QVERIFY2(w.error.isEmpty(), qPrintable(w.error));
    QCOMPARE(w.sampleRate, 22050);
    QCOMPARE(Entries(dir.path()), QStringList{"out.wav"});
}

void TestWmawav::missingOutputFolder() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const Run r = RunWmawav({kMedia + "/wmav2_stereo_44100.wma", dir.filePath("missing/out.wav")});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 6);
    QVERIFY2(IsOneLine(r.err), r.err.constData());
    QCOMPARE(Entries(dir.path()), QStringList());
}

void TestWmawav::badCommandLine_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no arguments") << QStringList();
    QTest::newRow("input only") << QStringList{kMedia + "/wmav2_stereo_44100.wma"};
    QTest::newRow("three arguments") << QStringList{kMedia + "/wmav2_stereo_44100.wma", "a.wav", "b.wav"};
    QTest::newRow("empty output") << QStringList{kMedia + "/wmav2_stereo_44100.wma", ""};
    QTest::newRow("unknown option") << QStringList{"--whole", kMedia + "/wmav2_stereo_44100.wma", "a.wav"};
}

void TestWmawav::badCommandLine() {
    QFETCH(QStringList, args);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const Run r = RunWmawav(args, dir.path());
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(IsOneLine(r.err), r.err.constData());
    QCOMPARE(Entries(dir.path()), QStringList());
}

void TestWmawav::unreadableInput_data() {
    QTest::addColumn<QString>("input");
    QTest::newRow("missing file") << "/nonexistent/brenvale/working.wma";
    QTest::newRow("a folder") << kMedia;
    QTest::newRow("a FIFO without a writer") << "fifo";
    QTest::newRow("the standard input, a pipe") << "-";
}

void TestWmawav::unreadableInput() {
    QFETCH(QString, input);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QTemporaryDir inputs;
    if (input == "fifo") {
        input = inputs.filePath("working.wma");
        QCOMPARE(::mkfifo(QFile::encodeName(input).constData(), 0600), 0);
    }
    // Refused at once: a FIFO is not waited on.
    const Run r = RunWmawav({input, dir.filePath("out.wav")});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 3);
    QVERIFY2(IsOneLine(r.err), r.err.constData());
    QCOMPARE(Entries(dir.path()), QStringList());
}

void TestWmawav::longestOutputName() {
    // A name of 255 bytes, the most the system accepts: the temporary name
    // beside it must fit as well.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString out = dir.filePath(QString(251, QLatin1Char('n')) + ".wav");
    const Run r = RunWmawav({kMedia + "/wmav2_mono_48000.wma", out});
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(ReadCanonicalWav(out).error.isEmpty(), qPrintable(ReadCanonicalWav(out).error));
    QCOMPARE(Entries(dir.path()), QStringList{QFileInfo(out).fileName()});
}

void TestWmawav::relativeOutputPath() {
    // The scripts run "./wmawav working.wma working.wav" in the work folder.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QFile::copy(kMedia + "/wmav2_mono_48000.wma", dir.filePath("working.wma")));
    const Run r = RunWmawav({"working.wma", "working.wav"}, dir.path());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(Entries(dir.path()), (QStringList{"working.wav", "working.wma"}));
    const WavFile w = ReadCanonicalWav(dir.filePath("working.wav"));
    QVERIFY2(w.error.isEmpty(), qPrintable(w.error));
    QCOMPARE(w.channels, 1);
}

void TestWmawav::encodes_data() {
    QTest::addColumn<QString>("file");    // the source of the WAV stream
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("pipe");       // the stream comes through a pipe, as wmawav writes it there
    QTest::newRow("flac, 16 bits, piped") << "wmav2_stereo_44100.wma" << "flac" << true;
    QTest::newRow("flac, 24 bits") << "pcm24_stereo_44100.wma" << "flac" << false;
    QTest::newRow("opus from 44100 Hz, piped") << "wmav2_stereo_44100.wma" << "opus" << true;
    QTest::newRow("m4a, mono 22050 Hz, piped") << "wmav1_mono_22050.wma" << "m4a" << true;
}

// The WAV stream the decoder makes of a source, encoded; what a player built
// on FFmpeg decodes of the result is compared with the stream itself.
void TestWmawav::encodes() {
    QFETCH(QString, file);
    QFETCH(QString, target);
    QFETCH(bool, pipe);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString wav = dir.filePath("in.wav"), out = dir.filePath("out." + target);
    Run r;
    if (pipe) {
        // The decoder writes sizes of "unknown" on the pipe; tee keeps the
        // stream for the comparison.
        r = RunWmawav({"-c", "\"$0\" \"$1\" - | tee \"$2\" | \"$3\" --to \"$4\" - \"$5\"", kWmawav,
                       kMedia + "/" + file, wav, kAudioenc, target, out},
                      QString(), "/bin/sh");
    } else {
        // 24-bit PCM stands in for WMA Lossless, which no encoder at hand writes.
        DecodeOptions options;
        options.keepDepth = true;
        options.wmaCodecsOnly = false;
        QCOMPARE(DecodeToWav((kMedia + "/" + file).toStdString(), wav.toStdString(), options).status, kStatusOk);
        r = RunWmawav({"--to", target, wav, out}, QString(), kAudioenc);
    }
    QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), r.err.constData());
    QCOMPARE(Entries(dir.path()), (QStringList{"in.wav", "out." + target}));

    const Decoded in = DecodeFile(wav), enc = DecodeFile(out);
    QVERIFY2(in.error.isEmpty() && enc.error.isEmpty(), qPrintable(in.error + " " + enc.error));
    QCOMPARE(enc.channels, in.channels);
    QFile f(out);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    if (target == "flac") {
        // Sample for sample, at the source's depth, and the MD5 of them in
        // STREAMINFO.
        QCOMPARE(enc.bits, in.bits);
        QVERIFY(enc.samples == in.samples);
        QCryptographicHash md5(QCryptographicHash::Md5);
        for (qint32 s : in.samples)
            md5.addData(QByteArray(reinterpret_cast<const char*>(&s), in.bits / 8));  // little-endian
        QCOMPARE(bytes.mid(26, 16).toHex(), md5.result().toHex());
    } else if (target == "opus") {
        // Resampled to 48 kHz; the pre-skip and the last granule position
        // leave exactly the input's length.
        QCOMPARE(enc.sampleRate, 48000);
        QVERIFY2(qAbs(enc.seconds() - in.seconds()) < 0.001, qPrintable(QString::number(enc.seconds())));
    } else {
        // An ordinary M4A file. FFmpeg's decoding skips the encoder delay as
        // the edit list says but runs on to the end of the last AAC frame
        // (1024 samples); the edit list's length, which players that end
        // where it says follow, is the input's.
        QCOMPARE(bytes.mid(4, 8), QByteArray("ftypM4A "));
        QCOMPARE(enc.sampleRate, in.sampleRate);
        QVERIFY2(enc.frames >= in.frames && enc.frames < in.frames + 1024, qPrintable(QString::number(enc.frames)));
        QVERIFY2(qAbs(enc.containerSeconds - in.seconds()) < 0.001, qPrintable(QString::number(enc.containerSeconds)));
    }
}

void TestWmawav::encoderRefuses_data() {
    QTest::addColumn<QStringList>("args");  // OUT stands for a file in an empty folder
    QTest::addColumn<int>("status");
    const QString wav = kMedia + "/source_stereo_44100.wav";
    QTest::newRow("not a WAV stream") << QStringList{"--to", "flac", kMedia + "/wmav2_stereo_44100.wma", "OUT"} << 3;
    QTest::newRow("output folder missing") << QStringList{"--to", "opus", wav, "OUT/missing.opus"} << 6;
    QTest::newRow("no target") << QStringList{wav, "OUT"} << 2;
    QTest::newRow("bitrate for flac") << QStringList{"--to", "flac", "--bitrate", "128", wav, "OUT"} << 2;
}

void TestWmawav::encoderRefuses() {
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    args.replaceInStrings(QRegularExpression("^OUT"), dir.filePath("out"));
    const Run r = RunWmawav(args, QString(), kAudioenc);
    QCOMPARE(r.exitCode, status);
    QVERIFY2(IsOneLine(r.err), r.err.constData());
    QCOMPARE(Entries(dir.path()), QStringList());
}

QTEST_GUILESS_MAIN(TestWmawav)
#include "tst_wmawav.moc"
