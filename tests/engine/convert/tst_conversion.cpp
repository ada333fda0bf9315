// Real conversions of the test media through the staged scripts, the real
// wmawav and the real LAME: the results, what stays in the work folder, and
// the files that must yield nothing.
#include "convert/conversion.h"
#include "workfolder/workfolder.h"
#include "support/testenv.h"
#include "wavinfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <functional>
#include <memory>
#include <utility>

namespace {

QString Media(const QString& name) {
    return QStringLiteral(BRENVALE_TESTMEDIA_DIR "/") + name;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList Entries(const QString& folder) {
    QStringList names =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

const QStringList kTools{"lame", "wma2mp3.sh", "wma2wav.sh", "wmawav"};

QStringList ToolsAnd(const QStringList& more) {
    QStringList all = kTools + more;
    all.sort();
    return all;
}

// Checks the tones of the test media: 440 Hz in the first channel, 660 Hz in
// the second, each far above what the other channel's tone leaves there.
void VerifyTones(const WavInfo& w) {
    const double a440 = ToneAmplitude(w, 0, 440);
    QVERIFY2(a440 > 4000, qPrintable(QString("440 Hz amplitude %1").arg(a440)));
    QVERIFY(a440 > 20 * ToneAmplitude(w, 0, 1000));
    if (w.channels == 2) {
        const double a660 = ToneAmplitude(w, 1, 660);
        QVERIFY2(a660 > 4000, qPrintable(QString("660 Hz amplitude %1").arg(a660)));
        QVERIFY(a660 > 20 * ToneAmplitude(w, 1, 440));
    }
}

}  // namespace

class TestConversion : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void toWav_data() { media_data(); }
    void toWav();
    void toMp3_data() { media_data(); }
    void toMp3();
    void undecodableYieldsNothing_data();
    void undecodableYieldsNothing();
    void sourceThatCannotBeCopied_data() { formats_data(); }
    void sourceThatCannotBeCopied();
    void previousResultIsNotTakenForTheNextFile_data() { formats_data(); }
    void previousResultIsNotTakenForTheNextFile();
    void runOfOneFileLeavesOnlyItsResult_data() { formats_data(); }
    void runOfOneFileLeavesOnlyItsResult();
    void failingEncoderYieldsNothing_data();
    void failingEncoderYieldsNothing();

    void existingScriptIsUsedUnchanged();
    void markerWaitEndsWithTheScript_data();
    void markerWaitEndsWithTheScript();
    void eventsFlowDuringAConversion();
    void scriptOutputIsDiscarded();

private:
    void media_data();
    void formats_data();
    QString work() const { return WorkFolder(); }

    std::unique_ptr<TestEnvironment> env_;
    ScriptCommands commands_;
};

void TestConversion::initTestCase() {
    env_ = std::make_unique<TestEnvironment>();
    // A work folder whose name a shell would split or expand: the script
    // command has to carry it whole.
    const QString folder = env_->root() + "/work $HOME 'x' \"y\"";
    QVERIFY(QDir().mkpath(folder));
    qputenv("TEMP", QFile::encodeName(folder));
    commands_ = BuildScriptCommands(UserWorkContext());
    QVERIFY(QFileInfo(Media("wmav2_stereo_44100.wma")).isFile());
}

void TestConversion::init() {
    // Every test starts with the genuine tools and scripts and no working
    // files.
    RemoveStagedTools(UserWorkContext());
    for (const QString& name : Entries(work()))
        QFile::remove(work() + "/" + name);
    StageTools(UserWorkContext());
    QCOMPARE(Entries(work()), kTools);
}

void TestConversion::media_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("rate");
    QTest::addColumn<double>("seconds");
    QTest::newRow("wmav1 mono 22050") << "wmav1_mono_22050.wma" << 1 << 22050 << 3.0;
    QTest::newRow("wmav1 stereo 44100") << "wmav1_stereo_44100.wma" << 2 << 44100 << 3.0;
    QTest::newRow("wmav2 mono 48000") << "wmav2_mono_48000.wma" << 1 << 48000 << 3.0;
    QTest::newRow("wmav2 stereo 22050") << "wmav2_stereo_22050.wma" << 2 << 22050 << 3.0;
    QTest::newRow("wmav2 stereo 44100") << "wmav2_stereo_44100.wma" << 2 << 44100 << 3.0;
    QTest::newRow("wmav2 stereo 48000") << "wmav2_stereo_48000.wma" << 2 << 48000 << 3.0;
    QTest::newRow("wmav2 with a title") << "wmav2_stereo_44100_title.wma" << 2 << 44100 << 2.0;
}

void TestConversion::formats_data() {
    QTest::addColumn<ConversionFormat>("format");
    QTest::newRow("MP3") << ConversionFormat::MP3;
    QTest::newRow("WAV") << ConversionFormat::WAV;
}

void TestConversion::toWav() {
    QFETCH(QString, file);
    QFETCH(int, channels);
    QFETCH(int, rate);
    QFETCH(double, seconds);

    PrepareWorkingFiles(UserWorkContext(), Media(file));
    RunConversionScript(UserWorkContext(), ConversionFormat::WAV, commands_);
    QVERIFY(ResultFilePresent(UserWorkContext(), ConversionFormat::WAV));
    QVERIFY(!ResultFilePresent(UserWorkContext(), ConversionFormat::MP3));
    QCOMPARE(Entries(work()), ToolsAnd({"working.wav"}));

    const WavInfo w = ReadWav(ResultFilePath(UserWorkContext(), ConversionFormat::WAV));
    QVERIFY2(w.error.isEmpty(), qPrintable(w.error));
    QCOMPARE(w.channels, channels);
    QCOMPARE(w.sampleRate, rate);
    QVERIFY2(qAbs(w.seconds() - seconds) < 0.1, qPrintable(QString::number(w.seconds())));
    VerifyTones(w);
}

void TestConversion::toMp3() {
    QFETCH(QString, file);
    QFETCH(int, channels);
    QFETCH(int, rate);
    QFETCH(double, seconds);

    PrepareWorkingFiles(UserWorkContext(), Media(file));
    RunConversionScript(UserWorkContext(), ConversionFormat::MP3, commands_);
    QVERIFY(ResultFilePresent(UserWorkContext(), ConversionFormat::MP3));
    QVERIFY(!ResultFilePresent(UserWorkContext(), ConversionFormat::WAV));
    QCOMPARE(Entries(work()), ToolsAnd({"working.mp3"}));

    const QByteArray mp3 = ReadAll(ResultFilePath(UserWorkContext(), ConversionFormat::MP3));
    // An MPEG audio frame sync, after an ID3v2 tag when there is one.
    const int at =
        mp3.startsWith("ID3")
            ? 10 + ((mp3[6] & 0x7f) << 21 | (mp3[7] & 0x7f) << 14 | (mp3[8] & 0x7f) << 7 | (mp3[9] & 0x7f))
            : 0;
    QVERIFY(mp3.size() > at + 4);
    QCOMPARE(quint8(mp3[at]), quint8(0xff));
    QCOMPARE(quint8(mp3[at + 1]) & 0xe0, 0xe0);

    const QString decoded = env_->root() + "/decoded.wav";
    QFile::remove(decoded);
    QCOMPARE(QProcess::execute(LAME_EXECUTABLE,
                               {"--quiet", "--decode", ResultFilePath(UserWorkContext(), ConversionFormat::MP3), decoded}),
             0);
    const WavInfo w = ReadWav(decoded);
    QVERIFY2(w.error.isEmpty(), qPrintable(w.error));
    QCOMPARE(w.channels, channels);
    QCOMPARE(w.sampleRate, rate);
    QVERIFY2(qAbs(w.seconds() - seconds) < 0.15, qPrintable(QString::number(w.seconds())));
    VerifyTones(w);
}

void TestConversion::undecodableYieldsNothing_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<ConversionFormat>("format");
    QTest::addColumn<int>("status");  // the decoder's, which the script ends with; -1: never copied
    const std::pair<const char*, int> files[] = {{"drm_protected.wma", 4},
                                                 {"drm_extended.wma", 4},
                                                 {"drm_advanced.wma", 4},
                                                 {"truncated_header.wma", 5},
                                                 {"truncated_after_header.wma", 5},
                                                 {"truncated_mid_data.wma", 5},
                                                 {"flipped_header_guid.wma", -1},
                                                 {"flipped_object_size.wma", 5},
                                                 {"mp3_renamed.wma", -1},
                                                 {"text_renamed.wma", -1},
                                                 {"empty.wma", -1},
                                                 {"pcm_6ch_48000.wma", 3}};
    for (const auto& [file, status] : files) {
        QTest::newRow(qPrintable(QString(file) + " MP3")) << file << ConversionFormat::MP3 << status;
        QTest::newRow(qPrintable(QString(file) + " WAV")) << file << ConversionFormat::WAV << status;
    }
}

void TestConversion::undecodableYieldsNothing() {
    QFETCH(QString, file);
    QFETCH(ConversionFormat, format);
    QFETCH(int, status);
    if (status < 0) {  // not starting as an ASF file: refused from its first bytes
        QCOMPARE(PrepareWorkingFiles(UserWorkContext(), Media(file)), Preparation::SourceUnusable);
        QCOMPARE(Entries(work()), kTools);
        return;
    }
    QCOMPARE(PrepareWorkingFiles(UserWorkContext(), Media(file)), Preparation::Ready);
    QCOMPARE(Entries(work()), ToolsAnd({"working.nfo", "working.wma"}));
    QCOMPARE(RunConversionScript(UserWorkContext(), format, commands_), status);
    QCOMPARE(OutcomeOfScript(UserWorkContext(), status, format), FileOutcome::DecodingFailed);
    QVERIFY(!ResultFilePresent(UserWorkContext(), ConversionFormat::MP3));
    QVERIFY(!ResultFilePresent(UserWorkContext(), ConversionFormat::WAV));
    // No result, no working file, no half-written temporary file.
    QCOMPARE(Entries(work()), kTools);
}

void TestConversion::sourceThatCannotBeCopied() {
    QFETCH(ConversionFormat, format);
    PrepareWorkingFiles(UserWorkContext(), env_->root() + "/no such file.wma");
    QCOMPARE(Entries(work()), kTools);
    RunConversionScript(UserWorkContext(), format, commands_);
    QVERIFY(!ResultFilePresent(UserWorkContext(), format));
    QCOMPARE(Entries(work()), kTools);
}

void TestConversion::previousResultIsNotTakenForTheNextFile() {
    QFETCH(ConversionFormat, format);
    PrepareWorkingFiles(UserWorkContext(), Media("wmav2_stereo_44100.wma"));
    RunConversionScript(UserWorkContext(), format, commands_);
    QVERIFY(ResultFilePresent(UserWorkContext(), format));
    PrepareWorkingFiles(UserWorkContext(), Media("drm_protected.wma"));
    RunConversionScript(UserWorkContext(), format, commands_);
    QVERIFY(!ResultFilePresent(UserWorkContext(), format));
}

void TestConversion::runOfOneFileLeavesOnlyItsResult() {
    QFETCH(ConversionFormat, format);
    PrepareWorkingFiles(UserWorkContext(), Media("wmav1_stereo_48000.wma"));
    RunConversionScript(UserWorkContext(), format, commands_);
    RemoveStagedTools(UserWorkContext());
    QCOMPARE(Entries(work()), QStringList{format == ConversionFormat::MP3 ? "working.mp3" : "working.wav"});
}

void TestConversion::failingEncoderYieldsNothing_data() {
    QTest::addColumn<QByteArray>("ending");  // how the stand-in encoder ends
    QTest::addColumn<int>("status");
    QTest::newRow("fails half way") << QByteArray("exit 1") << 1;
    QTest::newRow("killed half way") << QByteArray("kill -KILL $$") << 128 + 9;
    // What a tool leaves running ends when the script ends, before it can write.
    QTest::newRow("leaves a child behind") << QByteArray("(sleep 1; echo late > working.mp3) &\nexit 1") << 1;
}

void TestConversion::failingEncoderYieldsNothing() {
    QFETCH(QByteArray, ending);
    QFETCH(int, status);
    MakeProgram(work() + "/lame", HalfWritingEncoder(ending));
    QCOMPARE(PrepareWorkingFiles(UserWorkContext(), Media("wmav2_stereo_44100.wma")), Preparation::Ready);
    QCOMPARE(RunConversionScript(UserWorkContext(), ConversionFormat::MP3, commands_), status);
    QCOMPARE(OutcomeOfScript(UserWorkContext(), status, ConversionFormat::MP3), FileOutcome::WorkFolderFailed);
    QVERIFY(!ResultFilePresent(UserWorkContext(), ConversionFormat::MP3));
    // Nothing of the half-written file is left, under any name.
    QCOMPARE(Entries(work()), kTools);
}

void TestConversion::existingScriptIsUsedUnchanged() {
    const QByteArray planted =
        "#!/bin/sh\nprintf 'made by the planted script' > working.wav\n"
        "rm -f working.nfo working.wma\n";
    RemoveStagedTools(UserWorkContext());
    MakeProgram(work() + "/wma2wav.sh", planted);
    StageTools(UserWorkContext());
    QCOMPARE(ReadAll(work() + "/wma2wav.sh"), planted);

    PrepareWorkingFiles(UserWorkContext(), Media("wmav2_stereo_44100.wma"));
    RunConversionScript(UserWorkContext(), ConversionFormat::WAV, commands_);
    QVERIFY(ResultFilePresent(UserWorkContext(), ConversionFormat::WAV));
    QCOMPARE(ReadAll(ResultFilePath(UserWorkContext(), ConversionFormat::WAV)), QByteArray("made by the planted script"));

    // The end of the run removes it like the others; the next run stages the
    // genuine script again.
    RemoveStagedTools(UserWorkContext());
    QVERIFY(!QFile::exists(work() + "/wma2wav.sh"));
    StageTools(UserWorkContext());
    QVERIFY(ReadAll(work() + "/wma2wav.sh") == ConversionResource(104));
}

void TestConversion::markerWaitEndsWithTheScript_data() {
    QTest::addColumn<QByteArray>("script");  // "" removes the script
    QTest::addColumn<bool>("ran");           // a script that ran leaves what it left
    QTest::newRow("script ends, marker stays") << QByteArray("#!/bin/sh\nexit 0\n") << true;
    QTest::newRow("script killed") << QByteArray("#!/bin/sh\nkill -KILL $$\n") << true;
    QTest::newRow("script missing") << QByteArray() << false;
    QTest::newRow("script not a program") << QByteArray(
                                                 "\x7f"
                                                 "ELF garbage")
                                          << false;
}

void TestConversion::markerWaitEndsWithTheScript() {
    QFETCH(QByteArray, script);
    QFETCH(bool, ran);
    const QString path = work() + "/wma2mp3.sh";
    if (script.isEmpty())
        QFile::remove(path);
    else
        MakeProgram(path, script);
    PrepareWorkingFiles(UserWorkContext(), Media("wmav2_stereo_44100.wma"));
    const QString marker = work() + "/working.nfo";

    // Should the wait go on for the marker, this ends it after a while, and
    // the test fails instead of hanging.
    bool watchdogFired = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        watchdogFired = true;
        QFile::remove(marker);
    });
    watchdog.start(20000);
    RunConversionScript(UserWorkContext(), ConversionFormat::MP3, commands_);
    watchdog.stop();
    QVERIFY(!watchdogFired);
    QCOMPARE(QFile::exists(marker), ran);
    QCOMPARE(QFile::exists(work() + "/working.wma"), ran);
    QVERIFY(!ResultFilePresent(UserWorkContext(), ConversionFormat::MP3));
}

void TestConversion::eventsFlowDuringAConversion() {
    PrepareWorkingFiles(UserWorkContext(), Media("wmav2_stereo_48000.wma"));
    // Posted before the script starts: handled only if the wait yields to
    // the event loop.
    bool handled = false;
    QTimer::singleShot(0, [&handled] { handled = true; });
    RunConversionScript(UserWorkContext(), ConversionFormat::MP3, commands_);
    QVERIFY(handled);
    QVERIFY(ResultFilePresent(UserWorkContext(), ConversionFormat::MP3));
}

void TestConversion::scriptOutputIsDiscarded() {
    RemoveStagedTools(UserWorkContext());
    MakeProgram(work() + "/wma2wav.sh",
                "#!/bin/sh\necho said-by-the-script\n"
                "echo said-by-the-script >&2\ncp working.wma working.wav\n"
                "rm -f working.nfo working.wma\n");
    StageTools(UserWorkContext());
    PrepareWorkingFiles(UserWorkContext(), Media("wmav2_stereo_44100.wma"));
    const QByteArray out = CaptureStdout([this] { RunConversionScript(UserWorkContext(), ConversionFormat::WAV, commands_); });
    QVERIFY(ResultFilePresent(UserWorkContext(), ConversionFormat::WAV));  // the script did run
    QVERIFY2(!out.contains("said-by-the-script"), out.constData());
}

QTEST_MAIN(TestConversion)
#include "tst_conversion.moc"
