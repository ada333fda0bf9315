// Reading back WAV files in the engine's tests: the header fields, the
// length, and the strength of a tone in one channel.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QVector>
#include <QtEndian>

#include <algorithm>
#include <cmath>

struct WavInfo {
    QString error;  // empty when the file is a 16-bit PCM RIFF/WAVE file
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    QVector<qint16> samples;  // interleaved

    qint64 frames() const { return channels ? samples.size() / channels : 0; }
    double seconds() const { return sampleRate ? double(frames()) / sampleRate : 0; }
};

// Walks the RIFF chunks of path: "fmt " must describe 16-bit PCM and "data"
// must hold whole sample frames within the file.
inline WavInfo ReadWav(const QString& path) {
    WavInfo w;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        w.error = QStringLiteral("cannot open ") + path;
        return w;
    }
    const QByteArray d = f.readAll();
    auto u32 = [&](qsizetype at) { return qFromLittleEndian<quint32>(d.constData() + at); };
    auto u16 = [&](qsizetype at) { return qFromLittleEndian<quint16>(d.constData() + at); };
    if (d.size() < 12 || d.mid(0, 4) != "RIFF" || d.mid(8, 4) != "WAVE") {
        w.error = QStringLiteral("no RIFF/WAVE signature");
        return w;
    }
    if (u32(4) != quint32(d.size() - 8)) {
        w.error = QStringLiteral("RIFF size %1 for a file of %2 bytes").arg(u32(4)).arg(d.size());
        return w;
    }
    bool haveFormat = false;
    qsizetype at = 12;
    while (at + 8 <= d.size()) {
        const QByteArray id = d.mid(at, 4);
        const quint32 size = u32(at + 4);
        const qsizetype body = at + 8;
        if (body + qsizetype(size) > d.size()) {
            w.error =
                QStringLiteral("chunk ") + QString::fromLatin1(id) + QStringLiteral(" runs past the end");
            return w;
        }
        if (id == "fmt ") {
            if (size < 16 || u16(body) != 1) {
                w.error = QStringLiteral("not PCM");
                return w;
            }
            w.channels = u16(body + 2);
            w.sampleRate = int(u32(body + 4));
            w.bitsPerSample = u16(body + 14);
            if (w.bitsPerSample != 16 || w.channels < 1 || u16(body + 12) != w.channels * 2 ||
                u32(body + 8) != quint32(w.sampleRate * w.channels * 2)) {
                w.error = QStringLiteral("inconsistent fmt chunk");
                return w;
            }
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat || size % quint32(w.channels * 2) != 0) {
                w.error = QStringLiteral("data before fmt, or not whole frames");
                return w;
            }
            w.samples.resize(qsizetype(size / 2));
            for (qsizetype i = 0; i < w.samples.size(); ++i)
                w.samples[i] = qFromLittleEndian<qint16>(d.constData() + body + 2 * i);
            return w;
        }
        at = body + qsizetype(size) + (size & 1);
    }
    w.error = QStringLiteral("no data chunk");
    return w;
}

// Amplitude of the sine at freq in one channel, by a Hann-windowed Goertzel
// filter over the middle of the signal (codec start-up and tail left out).
inline double ToneAmplitude(const WavInfo& w, int channel, double freq) {
    const qint64 n = w.frames();
    const qint64 from = n / 10, to = n - n / 10;
    const qint64 len = to - from;
    if (len <= 0)
        return 0;
    const double k = 2 * M_PI * freq / w.sampleRate;
    const double coeff = 2 * std::cos(k);
    double s1 = 0, s2 = 0, windowSum = 0;
    for (qint64 i = 0; i < len; ++i) {
        const double window = 0.5 - 0.5 * std::cos(2 * M_PI * double(i) / double(len - 1));
        windowSum += window;
        const double x = window * w.samples[(from + i) * w.channels + channel];
        const double s0 = x + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return 2 * std::sqrt(std::max(power, 0.0)) / windowSum;
}
