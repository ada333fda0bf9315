#include "convert/audiokind.h"

#include "system/fileio.h"
#include "asf/asfheader.h"

#include <cstdint>
#include <cstring>

namespace {

bool StartsWith(const uint8_t* head, size_t size, size_t at, const char* magic) {
    const size_t length = std::strlen(magic);
    return size >= at + length && std::memcmp(head + at, magic, length) == 0;
}

// The format whose signature head begins with, or "".
QString KindAt(const uint8_t* head, size_t size) {
    if (StartsWith(head, size, 0, "fLaC"))
        return QStringLiteral("FLAC");
    if (StartsWith(head, size, 0, "OggS"))
        return QStringLiteral("Ogg");
    if (StartsWith(head, size, 0, "RIFF") && StartsWith(head, size, 8, "WAVE"))
        return QStringLiteral("WAV");
    if (StartsWith(head, size, 4, "ftyp"))
        return StartsWith(head, size, 8, "M4A ") ? QStringLiteral("M4A") : QStringLiteral("MP4");
    // An MPEG audio frame header: 11 bits of sync, then a version and a
    // layer that exist (AAC's ADTS has layer 0), a bit rate other than the
    // "bad" one and a sample rate that exists.
    if (size >= 4 && head[0] == 0xFF && (head[1] & 0xE0) == 0xE0 && (head[1] & 0x18) != 0x08 &&
        (head[1] & 0x06) != 0 && (head[2] & 0xF0) != 0xF0 && (head[2] & 0x0C) != 0x0C)
        return (head[1] & 0x06) == 0x02 ? QStringLiteral("MP3") : QStringLiteral("MPEG");
    return QString();
}

}  // namespace

QString AudioKindOf(int fd) {
    uint8_t head[16];
    const ssize_t got = ReadAt(fd, head, sizeof head, 0);
    if (got <= 0)
        return QString();
    const uint64_t tag = Id3v2PrefixLength(head, static_cast<size_t>(got));
    if (tag == 0)
        return KindAt(head, static_cast<size_t>(got));
    // An ID3v2 tag is MP3's own; what stands behind it tells the rare other
    // file that carries one (a FLAC file tagged by an MP3 tagger).
    const ssize_t behind = ReadAt(fd, head, sizeof head, static_cast<off_t>(tag));
    const QString kind = behind > 0 ? KindAt(head, static_cast<size_t>(behind)) : QString();
    return kind.isEmpty() ? QStringLiteral("MP3") : kind;
}
