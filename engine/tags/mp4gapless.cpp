#include "tags/mp4gapless.h"

#include <taglib/mp4file.h>

#include <cmath>
#include <initializer_list>
#include <optional>

namespace {

// A box of the file: where it starts, its whole size and its header's.
struct Box {
    long offset = 0;
    long long size = 0;
    long header = 8;
};

// The box at the end of path ("moov", "trak", "mdia", "mdhd"), each name the
// first box of that name within the one before. TagLib keeps its own walk
// of the boxes to itself.
std::optional<Box> FindBox(TagLib::File& file, std::initializer_list<const char*> path) {
    Box within{0, file.length(), 0};
    for (const char* name : path) {
        bool found = false;
        for (long at = within.offset + within.header; !found && at + 8 <= within.offset + within.size;) {
            file.seek(at);
            const TagLib::ByteVector head = file.readBlock(16);
            if (head.size() < 8)
                return std::nullopt;
            Box box{at, head.toUInt(0U), 8};
            if (box.size == 1 && head.size() == 16) {
                box.size = head.toLongLong(8U);
                box.header = 16;
            } else if (box.size == 0) {  // up to the end
                box.size = within.offset + within.size - at;
            }
            if (box.size < box.header || box.size > within.offset + within.size - at)
                return std::nullopt;
            found = head.mid(4, 4) == name;
            if (found)
                within = box;
            at += static_cast<long>(box.size);
        }
        if (!found)
            return std::nullopt;
    }
    return within;
}

// The boxes read here hold a few dozen bytes; a larger one is damaged.
constexpr long long kMaxBoxBytes = 1 << 16;

// What a box holds behind its header.
TagLib::ByteVector BodyOf(TagLib::File& file, std::initializer_list<const char*> path) {
    const std::optional<Box> box = FindBox(file, path);
    if (!box || box->size > kMaxBoxBytes)
        return TagLib::ByteVector();
    file.seek(box->offset + box->header);
    return file.readBlock(static_cast<unsigned long>(box->size - box->header));
}

// The timescale (units a second) and duration of a movie (mvhd) or a track's
// media (mdhd) header: after the version and flags, the creation and
// modification times, 32 bits each in version 0 and 64 in version 1.
bool TimesOf(const TagLib::ByteVector& body, unsigned long long& timescale, unsigned long long& duration) {
    const bool wide = body.size() >= 1 && body[0] == 1;
    if (body.size() < (wide ? 32U : 20U))
        return false;
    timescale = body.toUInt(wide ? 20U : 12U);
    duration = wide ? static_cast<unsigned long long>(body.toLongLong(24U)) : body.toUInt(16U);
    return timescale > 0;
}

// The first edit of an edit list (elst) that shows media: its duration in
// the movie's timescale and the media time it starts at.
bool FirstEditOf(const TagLib::ByteVector& elst, unsigned long long& duration, long long& mediaTime) {
    const bool wide = elst.size() >= 1 && elst[0] == 1;
    const unsigned int entry = wide ? 20 : 12;
    const unsigned int count = elst.size() >= 8 ? elst.toUInt(4U) : 0;
    for (unsigned int i = 0; i < count && 8 + (i + 1) * entry <= elst.size(); ++i) {
        const unsigned int e = 8 + i * entry;
        duration = wide ? static_cast<unsigned long long>(elst.toLongLong(e)) : elst.toUInt(e);
        mediaTime = wide ? elst.toLongLong(e + 8) : static_cast<int>(elst.toUInt(e + 4));
        if (mediaTime >= 0)  // -1: an empty edit, a pause before the media
            return true;
    }
    return false;
}

// The number of the track's frames (each a sample of the MP4 file) and
// the samples a frame holds, from its time-to-sample table (stts): runs of
// frames of one duration. The last frame's duration may be cut short to end
// the track where the audio ends; its decoder still gives a whole frame.
bool FramesOf(const TagLib::ByteVector& stts, unsigned long long& frames, unsigned long long& frameSamples) {
    const unsigned int runs = stts.size() >= 8 ? stts.toUInt(4U) : 0;
    frames = 0;
    for (unsigned int i = 0; i < runs && 8 + (i + 1) * 8 <= stts.size(); ++i)
        frames += stts.toUInt(8 + i * 8);
    frameSamples = stts.size() >= 16 ? stts.toUInt(12U) : 0;
    return frames > 0 && frameSamples > 0;
}

}  // namespace

QString ITunSmpbOf(TagLib::MP4::File& file) {
    unsigned long long movieScale = 0, movieLength = 0, trackScale = 0, trackLength = 0, editLength = 0;
    unsigned long long frames = 0, frameSamples = 0;
    long long delay = 0;
    if (!TimesOf(BodyOf(file, {"moov", "mvhd"}), movieScale, movieLength) ||
        !TimesOf(BodyOf(file, {"moov", "trak", "mdia", "mdhd"}), trackScale, trackLength) ||
        !FirstEditOf(BodyOf(file, {"moov", "trak", "edts", "elst"}), editLength, delay) ||
        !FramesOf(BodyOf(file, {"moov", "trak", "mdia", "minf", "stbl", "stts"}), frames, frameSamples))
        return QString();
    const unsigned long long length =
        movieScale == trackScale ? editLength
                                 : static_cast<unsigned long long>(std::llround(
                                       double(editLength) * double(trackScale) / double(movieScale)));
    const auto delayed = static_cast<unsigned long long>(delay);
    const unsigned long long decoded = frames * frameSamples;
    if (delayed > 0xFFFFFFFFULL || decoded < delayed + length || decoded - delayed - length > 0xFFFFFFFFULL)
        return QString();
    return QString::asprintf(
        " 00000000 %08llX %08llX %016llX 00000000 00000000 00000000 00000000 00000000 00000000 "
        "00000000 00000000",
        delayed, decoded - delayed - length, length);
}
