// The decoding library in-process: the mixdown of more than two channels,
// the codec check, the lengths it reports, the samples of more than 16 bits,
// and the WAV header it writes.

#include "avdecode.h"
#include "wmawav/decoder.h"
#include "common/pcm24.h"
#include "wavcheck.h"
#include "common/wavheader.h"

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
    void keepsDepth_data();
    void keepsDepth();
    void packsTo24Bits_data();
    void packsTo24Bits();
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

// With keepDepth, a source of more than 16 bits gives a 24-bit WAV file of
// exactly its samples; any other source gives the very bytes it gave
// without. No WMA of 24 bits can be made here: 24-bit PCM in ASF stands in
// for WMA Lossless, whose decoder gives its samples the same way.
void TestWmawavDecoder::keepsDepth_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("bits");
    QTest::newRow("wmav2, 16 bits") << "wmav2_stereo_44100.wma" << 16;
    QTest::newRow("wmav1 mono, 16 bits") << "wmav1_mono_22050.wma" << 16;
    QTest::newRow("24-bit PCM") << "pcm24_stereo_44100.wma" << 24;
}

void TestWmawavDecoder::keepsDepth() {
    QFETCH(QString, file);
    QFETCH(int, bits);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    DecodeOptions options;
    options.wmaCodecsOnly = false;
    const std::string source = (kMedia + "/" + file).toStdString();
    QCOMPARE(DecodeToWav(source, dir.filePath("plain.wav").toStdString(), options).status, kStatusOk);
    options.keepDepth = true;
    const DecodeResult r = DecodeToWav(source, dir.filePath("deep.wav").toStdString(), options);
    QVERIFY2(r.status == kStatusOk, r.message.c_str());
    QFile plain(dir.filePath("plain.wav")), deep(dir.filePath("deep.wav"));
    QVERIFY(plain.open(QIODevice::ReadOnly) && deep.open(QIODevice::ReadOnly));
    const QByteArray bytes = deep.readAll();
    if (bits == 16) {
        QVERIFY(bytes == plain.readAll());
        return;
    }
    uint8_t header[kWavExtensibleHeaderSize];
    BuildWavHeader(header, 44100, 2, uint32_t(bytes.size() - sizeof header), 24);
    QCOMPARE(bytes.left(sizeof header), QByteArray(reinterpret_cast<const char*>(header), sizeof header));
    QCOMPARE(r.decodedSeconds, 2.0);
    const Decoded in = DecodeFile(kMedia + "/" + file), out = DecodeFile(deep.fileName());
    QVERIFY2(in.error.isEmpty() && out.error.isEmpty(), qPrintable(in.error + out.error));
    QCOMPARE(out.bits, 24);
    QVERIFY(out.samples == in.samples);
}

void TestWmawavDecoder::packsTo24Bits_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QVector<qint32>>("in");  // the samples' bits; planar: the channels one after the other
    QTest::addColumn<QByteArray>("out");
    auto bits = [](float f) { return qint32(qFromUnaligned<quint32>(&f)); };
    QTest::newRow("s32, 24 significant bits") << int(AV_SAMPLE_FMT_S32) << 1
                                              << QVector<qint32>{0x7FFFFF00, INT32_MIN, 0x100, -0x100, 0}
                                              << QByteArray::fromHex("ffff7f 000080 010000 ffffff 000000");
    QTest::newRow("s32 rounded and clipped") << int(AV_SAMPLE_FMT_S32) << 1
                                             << QVector<qint32>{INT32_MAX, 0x80, 0x7F, -0x81}
                                             << QByteArray::fromHex("ffff7f 010000 000000 ffffff");
    QTest::newRow("s32p interleaved") << int(AV_SAMPLE_FMT_S32P) << 2 << QVector<qint32>{0x100, 0x200, 0x300, 0x400}
                                      << QByteArray::fromHex("010000 030000 020000 040000");
    QTest::newRow("flt scaled, clipped") << int(AV_SAMPLE_FMT_FLT) << 2
                                         << QVector<qint32>{bits(0.5f), bits(-1.0f), bits(1.0f), bits(-2.0f)}
                                         << QByteArray::fromHex("000040 000080 ffff7f 000080");
    QTest::newRow("fltp interleaved") << int(AV_SAMPLE_FMT_FLTP) << 2
                                      << QVector<qint32>{bits(0.25f), bits(1.0f / 8388608), bits(-0.25f), bits(0)}
                                      << QByteArray::fromHex("000020 0000e0 010000 000000");
    QTest::newRow("s16 is not taken") << int(AV_SAMPLE_FMT_S16) << 1 << QVector<qint32>{1} << QByteArray();
}

void TestWmawavDecoder::packsTo24Bits() {
    QFETCH(int, format);
    QFETCH(int, channels);
    QFETCH(QVector<qint32>, in);
    QFETCH(QByteArray, out);
    const int frames = in.size() / channels;
    const bool planar = av_sample_fmt_is_planar(AVSampleFormat(format));
    const uint8_t* planes[2] = {reinterpret_cast<const uint8_t*>(in.constData()),
                                reinterpret_cast<const uint8_t*>(in.constData() + (planar ? frames : 0))};
    QByteArray packed(3 * in.size(), '\x5A');
    const bool taken =
        PackTo24Bits(planes, AVSampleFormat(format), channels, frames, reinterpret_cast<uint8_t*>(packed.data()));
    QCOMPARE(taken, !out.isEmpty());
    QCOMPARE(packed, taken ? out : QByteArray(3 * in.size(), '\x5A'));
}

void TestWmawavDecoder::wavHeader_data() {
    QTest::addColumn<quint32>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<quint32>("dataBytes");
    QTest::addColumn<int>("bits");
    QTest::newRow("mono 22050 empty") << 22050u << 1 << 0u << 16;
    QTest::newRow("stereo 44100") << 44100u << 2 << 176400u << 16;
    QTest::newRow("stereo 48000 largest") << 48000u << 2 << quint32(kWavMaxDataBytes) << 16;
    QTest::newRow("mono 8000 odd size") << 8000u << 1 << 12346u << 16;
    QTest::newRow("24-bit stereo 96000") << 96000u << 2 << 576000u << 24;
    QTest::newRow("24-bit mono largest") << 44100u << 1 << quint32(WavMaxDataBytes(24)) << 24;
}

void TestWmawavDecoder::wavHeader() {
    QFETCH(quint32, rate);
    QFETCH(int, channels);
    QFETCH(quint32, dataBytes);
    QFETCH(int, bits);
    const quint32 size = quint32(WavHeaderSize(bits)), bytes = quint32(bits / 8);
    uint8_t h[kWavExtensibleHeaderSize + 1];
    std::memset(h, 0xAB, sizeof h);
    BuildWavHeader(h, rate, uint16_t(channels), dataBytes, bits);
    QCOMPARE(h[size], uint8_t(0xAB));  // nothing written past the header
    const char* c = reinterpret_cast<const char*>(h);
    QCOMPARE(QByteArray(c, 4), QByteArray("RIFF"));
    QCOMPARE(qFromLittleEndian<quint32>(h + 4), quint32(size - 8 + quint64(dataBytes)));
    QCOMPARE(QByteArray(c + 8, 8), QByteArray("WAVEfmt "));
    QCOMPARE(qFromLittleEndian<quint32>(h + 16), size - 28);
    QCOMPARE(qFromLittleEndian<quint16>(h + 20), quint16(bits == 16 ? 1 : 0xFFFE));
    QCOMPARE(qFromLittleEndian<quint16>(h + 22), quint16(channels));
    QCOMPARE(qFromLittleEndian<quint32>(h + 24), rate);
    QCOMPARE(qFromLittleEndian<quint32>(h + 28), rate * bytes * quint32(channels));
    QCOMPARE(qFromLittleEndian<quint16>(h + 32), quint16(bytes * channels));
    QCOMPARE(qFromLittleEndian<quint16>(h + 34), quint16(bits));
    if (bits == 24) {
        // The extension: its size, the valid bits, the speakers and the PCM
        // sub-format.
        const QByteArray speakers = channels == 1 ? "04000000" : "03000000";
        QCOMPARE(QByteArray(c + 36, 24).toHex(),
                 "16001800" + speakers + "0100000000001000800000aa00389b71");
    }
    QCOMPARE(QByteArray(c + size - 8, 4), QByteArray("data"));
    QCOMPARE(qFromLittleEndian<quint32>(h + size - 4), dataBytes);
}

QTEST_APPLESS_MAIN(TestWmawavDecoder)
#include "tst_wmawav_decoder.moc"
