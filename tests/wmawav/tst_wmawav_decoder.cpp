// The decoding library in-process: the mixdown of more than two channels,
// the codec check, the lengths it reports, and the WAV header it writes.

#include "decoder.h"
#include "wavcheck.h"
#include "wavheader.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kMedia = QStringLiteral(WMAWAV_TESTMEDIA_DIR);

QStringList Entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

}  // namespace

class TestWmawavDecoder : public QObject {
    Q_OBJECT

private slots:
    void mixesSixChannelsDownToStereo();
    void refusesNonWmaByDefault();
    void keepsMonoAndStereo_data();
    void keepsMonoAndStereo();
    void wavHeader_data();
    void wavHeader();
};

void TestWmawavDecoder::mixesSixChannelsDownToStereo() {
    // 5.1 source: 440 Hz front left, 1000 Hz centre, the other four silent.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString out = dir.filePath("mix.wav");
    DecodeOptions options;
    options.wmaCodecsOnly = false;
    const DecodeResult r =
        DecodeToWav((kMedia + "/pcm_6ch_48000.wma").toStdString(), out.toStdString(), options);
    QVERIFY2(r.status == kStatusOk, r.message.c_str());
    QVERIFY(r.message.empty());

    const WavFile w = ReadCanonicalWav(out);
    QVERIFY2(w.error.isEmpty(), qPrintable(w.error));
    QCOMPARE(w.channels, 2);
    QCOMPARE(w.sampleRate, 48000);
    QVERIFY2(qAbs(w.seconds() - 2.0) < 0.01, qPrintable(QString::number(w.seconds())));

    const double left440 = ToneAmplitude(w, 0, 440), right440 = ToneAmplitude(w, 1, 440);
    const double left1000 = ToneAmplitude(w, 0, 1000), right1000 = ToneAmplitude(w, 1, 1000);
    // Front left stays on the left only; the centre goes to both sides
    // equally, lower than the front channel.
    QVERIFY2(left440 > 0.1 * 32767, qPrintable(QString::number(left440)));
    QVERIFY2(right440 < 0.002 * 32767, qPrintable(QString::number(right440)));
    QVERIFY2(right1000 > 0.05 * 32767, qPrintable(QString::number(right1000)));
    QVERIFY2(qAbs(left1000 - right1000) < 0.02 * right1000,
             qPrintable(QString("%1 %2").arg(left1000).arg(right1000)));
    QVERIFY(left1000 < left440);
    // The mix must not clip: the peaks stay below full scale.
    int peak = 0;
    for (qint16 s : w.samples)
        peak = qMax(peak, qAbs(int(s)));
    QVERIFY2(peak < 32767, qPrintable(QString::number(peak)));
}

void TestWmawavDecoder::refusesNonWmaByDefault() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const DecodeResult r =
        DecodeToWav((kMedia + "/pcm_6ch_48000.wma").toStdString(), dir.filePath("x.wav").toStdString());
    QCOMPARE(r.status, kStatusUnsupported);
    QVERIFY(QString::fromStdString(r.message).contains("pcm_s16le"));
    QVERIFY(r.message.find('\n') == std::string::npos);
    QCOMPARE(Entries(dir.path()), QStringList());
}

void TestWmawavDecoder::keepsMonoAndStereo_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("channels");
    QTest::addColumn<bool>("partial");  // DecodeOptions::acceptCutShort
    QTest::addColumn<int>("status");
    QTest::newRow("mono") << "wmav2_mono_44100.wma" << 1 << false << int(kStatusOk);
    QTest::newRow("stereo") << "wmav1_stereo_48000.wma" << 2 << false << int(kStatusOk);
    QTest::newRow("stereo cut short") << "truncated_mid_data.wma" << 2 << true << int(kStatusCutShort);
}

void TestWmawavDecoder::keepsMonoAndStereo() {
    QFETCH(QString, file);
    QFETCH(int, channels);
    QFETCH(bool, partial);
    QFETCH(int, status);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString out = dir.filePath("o.wav");
    DecodeOptions options;
    options.acceptCutShort = partial;
    const DecodeResult r = DecodeToWav((kMedia + "/" + file).toStdString(), out.toStdString(), options);
    QVERIFY2(r.status == status, r.message.c_str());
    const WavFile w = ReadCanonicalWav(out);
    QVERIFY2(w.error.isEmpty(), qPrintable(w.error));
    QCOMPARE(w.channels, channels);
    QCOMPARE(Entries(dir.path()), QStringList{"o.wav"});
    // The seconds written, and the length the header gives: 3 s, and a few
    // milliseconds more where the last codec block is padded.
    QVERIFY2(qAbs(r.decodedSeconds - w.seconds()) < 1e-9, qPrintable(QString::number(r.decodedSeconds)));
    QVERIFY2(qAbs(r.expectedSeconds - 3.0) < 0.05, qPrintable(QString::number(r.expectedSeconds)));
    QCOMPARE(r.decodedSeconds < 2.9, partial);
}

void TestWmawavDecoder::wavHeader_data() {
    QTest::addColumn<quint32>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<quint32>("dataBytes");
    QTest::newRow("mono 22050 empty") << 22050u << 1 << 0u;
    QTest::newRow("stereo 44100") << 44100u << 2 << 176400u;
    QTest::newRow("stereo 48000 largest") << 48000u << 2 << quint32(kWavMaxDataBytes);
    QTest::newRow("mono 8000 odd size") << 8000u << 1 << 12346u;
}

void TestWmawavDecoder::wavHeader() {
    QFETCH(quint32, rate);
    QFETCH(int, channels);
    QFETCH(quint32, dataBytes);
    uint8_t h[kWavHeaderSize + 1];
    std::memset(h, 0xAB, sizeof h);
    BuildWavHeader(h, rate, uint16_t(channels), dataBytes);
    QCOMPARE(h[kWavHeaderSize], uint8_t(0xAB));  // nothing written past the header
    const char* c = reinterpret_cast<const char*>(h);
    QCOMPARE(QByteArray(c, 4), QByteArray("RIFF"));
    QCOMPARE(qFromLittleEndian<quint32>(h + 4), quint32(36 + quint64(dataBytes)));
    QCOMPARE(QByteArray(c + 8, 8), QByteArray("WAVEfmt "));
    QCOMPARE(qFromLittleEndian<quint32>(h + 16), 16u);
    QCOMPARE(qFromLittleEndian<quint16>(h + 20), quint16(1));
    QCOMPARE(qFromLittleEndian<quint16>(h + 22), quint16(channels));
    QCOMPARE(qFromLittleEndian<quint32>(h + 24), rate);
    QCOMPARE(qFromLittleEndian<quint32>(h + 28), rate * 2 * quint32(channels));
    QCOMPARE(qFromLittleEndian<quint16>(h + 32), quint16(2 * channels));
    QCOMPARE(qFromLittleEndian<quint16>(h + 34), quint16(16));
    QCOMPARE(QByteArray(c + 36, 4), QByteArray("data"));
    QCOMPARE(qFromLittleEndian<quint32>(h + 40), dataBytes);
}

QTEST_APPLESS_MAIN(TestWmawavDecoder)
#include "tst_wmawav_decoder.moc"
