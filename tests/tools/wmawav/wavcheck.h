// Reading back the WAV files that the decoder writes, for the tests.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QVector>
#include <QtEndian>

#include <cmath>

struct WavFile {
    QString error;  // empty when the file is a canonical 16-bit PCM WAV file
    int channels = 0;
    int sampleRate = 0;
    QVector<qint16> samples;  // interleaved

    qint64 frames() const { return channels ? samples.size() / channels : 0; }
    double seconds() const { return sampleRate ? double(frames()) / sampleRate : 0; }
};

// Reads `path` and checks every field of the canonical 44-byte header
// against the file's actual size.
inline WavFile ReadCanonicalWav(const QString& path) {
    WavFile w;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        w.error = "cannot open " + path;
        return w;
    }
    const QByteArray d = f.readAll();
    auto u32 = [&](int at) { return qFromLittleEndian<quint32>(d.constData() + at); };
    auto u16 = [&](int at) { return qFromLittleEndian<quint16>(d.constData() + at); };
    if (d.size() < 44)
        return w.error = "shorter than a WAV header", w;
    if (d.mid(0, 4) != "RIFF" || d.mid(8, 4) != "WAVE")
        return w.error = "no RIFF/WAVE signature", w;
    if (u32(4) != quint32(d.size() - 8))
        return w.error = QString("RIFF size %1 for a file of %2 bytes").arg(u32(4)).arg(d.size()), w;
    if (d.mid(12, 4) != "fmt " || u32(16) != 16)
        return w.error = "no 16-byte fmt chunk at byte 12", w;
    if (u16(20) != 1)
        return w.error = QString("format tag %1, not PCM").arg(u16(20)), w;
    w.channels = u16(22);
    w.sampleRate = int(u32(24));
    const int bits = u16(34);
    if (bits != 16)
        return w.error = QString("%1 bits per sample").arg(bits), w;
    if (w.channels < 1)
        return w.error = "no channels", w;
    if (u16(32) != w.channels * 2)
        return w.error = "block align does not match the channel count", w;
    if (u32(28) != quint32(w.sampleRate * w.channels * 2))
        return w.error = "byte rate does not match", w;
    if (d.mid(36, 4) != "data")
        return w.error = "no data chunk at byte 36", w;
    const quint32 dataBytes = u32(40);
    if (dataBytes != quint32(d.size() - 44))
        return w.error =
                   QString("data size %1 for %2 bytes after the header").arg(dataBytes).arg(d.size() - 44),
               w;
    if (dataBytes % quint32(w.channels * 2) != 0)
        return w.error = "data is not whole sample frames", w;
    w.samples.resize(int(dataBytes / 2));
    for (int i = 0; i < w.samples.size(); ++i)
        w.samples[i] = qFromLittleEndian<qint16>(d.constData() + 44 + 2 * i);
    return w;
}

// Amplitude (in sample units) of the sine at `freq` in one channel, measured
// with a Hann-windowed Goertzel filter over the middle of the signal (the
// first and last tenth are left out: codec start-up and tail).
inline double ToneAmplitude(const WavFile& w, int channel, double freq) {
    const qint64 n = w.frames();
    const qint64 from = n / 10, to = n - n / 10;
    const double k = 2 * M_PI * freq / w.sampleRate;
    double s1 = 0, s2 = 0, wsum = 0;
    const double coeff = 2 * std::cos(k);
    for (qint64 i = from; i < to; ++i) {
        const double win = 0.5 - 0.5 * std::cos(2 * M_PI * double(i - from) / double(to - from - 1));
        const double x = win * w.samples[int(i * w.channels + channel)];
        wsum += win;
        const double s0 = x + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double re = s1 - s2 * std::cos(k), im = s2 * std::sin(k);
    return wsum > 0 ? 2 * std::sqrt(re * re + im * im) / wsum : 0;
}
