// Reading back the MP3 files that a conversion run writes: every byte must
// belong to a well-formed MPEG audio frame (after an optional ID3v2 tag and
// before an optional ID3v1 tag), and the frames give the duration.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

struct Mp3File {
    QString error;  // empty when the file is a clean run of MPEG Layer III frames
    int frames = 0;
    int sampleRate = 0;
    int channels = 0;
    double seconds = 0;
};

inline Mp3File ParseMp3(const QByteArray& d) {
    Mp3File m;
    const auto byte = [&](qsizetype at) { return static_cast<unsigned char>(d[at]); };
    qsizetype pos = 0;
    qsizetype end = d.size();
    if (end >= 10 && d.startsWith("ID3")) {
        const qsizetype tagSize =
            (byte(6) & 0x7f) << 21 | (byte(7) & 0x7f) << 14 | (byte(8) & 0x7f) << 7 | (byte(9) & 0x7f);
        pos = 10 + tagSize;
    }
    if (end >= 128 && d.mid(end - 128, 3) == "TAG")
        end -= 128;

    static const int kBitrates[2][16] = {
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},  // MPEG-1 Layer III
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},      // MPEG-2/2.5 Layer III
    };
    static const int kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    qint64 samples = 0;
    while (pos < end) {
        if (end - pos < 4 || byte(pos) != 0xff || (byte(pos + 1) & 0xe0) != 0xe0) {
            m.error = QString("no frame header at byte %1 of %2").arg(pos).arg(end);
            return m;
        }
        const int version = (byte(pos + 1) >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
        const int layer = (byte(pos + 1) >> 1) & 3;    // 1: Layer III
        const int bitrateIndex = byte(pos + 2) >> 4;
        const int rateIndex = (byte(pos + 2) >> 2) & 3;
        const int padding = (byte(pos + 2) >> 1) & 1;
        const int mode = byte(pos + 3) >> 6;  // 3: mono
        if (version == 1 || layer != 1 || rateIndex == 3 || bitrateIndex == 0 || bitrateIndex == 15) {
            m.error = QString("not an MPEG Layer III frame at byte %1").arg(pos);
            return m;
        }
        const bool mpeg1 = version == 3;
        const int rate = kRates[mpeg1 ? 0 : (version == 2 ? 1 : 2)][rateIndex];
        const int bitrate = kBitrates[mpeg1 ? 0 : 1][bitrateIndex] * 1000;
        const int samplesPerFrame = mpeg1 ? 1152 : 576;
        const qsizetype length = samplesPerFrame / 8 * bitrate / rate + padding;
        if (m.frames == 0) {
            m.sampleRate = rate;
            m.channels = mode == 3 ? 1 : 2;
        } else if (rate != m.sampleRate || (mode == 3 ? 1 : 2) != m.channels) {
            m.error = QString("frame %1 changes the stream's format").arg(m.frames);
            return m;
        }
        if (pos + length > end) {
            m.error = QString("frame %1 runs past the end").arg(m.frames);
            return m;
        }
        ++m.frames;
        samples += samplesPerFrame;
        pos += length;
    }
    if (m.frames == 0) {
        m.error = "no frames";
        return m;
    }
    m.seconds = double(samples) / m.sampleRate;
    return m;
}

inline Mp3File ReadMp3(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        Mp3File m;
        m.error = "cannot open " + path;
        return m;
    }
    return ParseMp3(f.readAll());
}
