#include "audioenc/wavreader.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Chunks before the samples (lists of tags, "fact", padding) are skipped;
// more than this is not taken for a WAV header.
constexpr uint64_t kMaxSkippedBytes = 64ull << 20;
constexpr uint32_t kUnknownSize = 0xFFFFFFFF;

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

[[noreturn]] void Fail(std::string message) {
    throw WavStreamError{std::move(message)};
}

// KSDATAFORMAT_SUBTYPE_PCM as stored, less its first two bytes (the format
// tag, which is 1).
constexpr uint8_t kPcmGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                      0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

WavStreamFormat ParseFmt(const uint8_t* body, uint32_t size) {
    if (size < 16)
        Fail("the WAV format chunk is too short");
    uint16_t tag = Le16(body);
    const int channels = Le16(body + 2);
    const uint32_t rate = Le32(body + 4);
    const int blockAlign = Le16(body + 12);
    const int bits = Le16(body + 14);
    if (tag == 0xFFFE) {
        if (size < 40 || Le16(body + 16) < 22)
            Fail("the WAV format chunk is too short for its extension");
        if (std::memcmp(body + 26, kPcmGuidTail, sizeof kPcmGuidTail) != 0)
            Fail("the WAV stream does not hold PCM samples");
        tag = Le16(body + 24);
        const int valid = Le16(body + 18);
        if (valid > bits)
            Fail("the WAV stream has more valid bits than bits per sample");
    }
    if (tag != 1)
        Fail("the WAV stream does not hold PCM samples (format " + std::to_string(tag) + ")");
    if (bits != 16 && bits != 24)
        Fail("the WAV stream has " + std::to_string(bits) + " bits per sample, not 16 or 24");
    if (channels != 1 && channels != 2)
        Fail("the WAV stream has " + std::to_string(channels) + " channels, not 1 or 2");
    if (rate < 8000 || rate > 384000)
        Fail("the WAV stream's sample rate of " + std::to_string(rate) + " Hz is not supported");
    WavStreamFormat f;
    f.sampleRate = rate;
    f.channels = channels;
    f.bitsPerSample = bits;
    if (size_t(blockAlign) != f.frameBytes())
        Fail("the WAV stream's block size does not match its channels and bits");
    return f;
}

}  // namespace

WavStreamReader::WavStreamReader(int fd) : fd_(fd) {
    uint8_t riff[12];
    ReadExactly(riff, sizeof riff, "a WAV header");
    if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
        Fail("not a WAV stream");
    bool haveFormat = false;
    uint64_t skipped = 0;
    for (;;) {
        uint8_t chunk[8];
        ReadExactly(chunk, sizeof chunk, "its samples");
        const uint32_t size = Le32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat)
                Fail("the WAV stream has no format chunk before its samples");
            sized_ = size != kUnknownSize && size != 0;
            dataLeft_ = size;
            return;
        }
        const uint64_t padded = uint64_t(size) + (size & 1);
        skipped += 8 + padded;
        if (skipped > kMaxSkippedBytes)
            Fail("the WAV stream's header is too large");
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (haveFormat)
                Fail("the WAV stream has two format chunks");
            std::string body(padded, '\0');
            ReadExactly(reinterpret_cast<uint8_t*>(&body[0]), padded, "its format chunk");
            format_ = ParseFmt(reinterpret_cast<const uint8_t*>(body.data()), size);
            haveFormat = true;
        } else {
            Skip(padded);
        }
    }
}

size_t WavStreamReader::Read(uint8_t* buffer, size_t maxFrames) {
    const size_t frameBytes = format_.frameBytes();
    size_t want = maxFrames * frameBytes;
    if (sized_)
        want = size_t(std::min<uint64_t>(want, dataLeft_));
    const size_t got = ReadSome(buffer, want);
    if (sized_) {
        dataLeft_ -= got;
        if (got < want)
            Fail("the WAV stream ends before the size its header gives");
    }
    if (got % frameBytes != 0)
        Fail("the WAV stream ends inside a sample frame");
    return got / frameBytes;
}

// Reads until `bytes` are there or the stream ends; returns the bytes read.
size_t WavStreamReader::ReadSome(uint8_t* buffer, size_t bytes) {
    size_t got = 0;
    while (got < bytes) {
        const ssize_t n = ::read(fd_, buffer + got, bytes - got);
        if (n > 0) {
            got += size_t(n);
        } else if (n == 0) {
            break;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // A stream handed over in non-blocking mode is waited on.
            pollfd p{fd_, POLLIN, 0};
            ::poll(&p, 1, -1);
        } else if (errno != EINTR) {
            Fail(std::string("cannot read the WAV stream: ") + std::strerror(errno));
        }
    }
    return got;
}

void WavStreamReader::ReadExactly(uint8_t* buffer, size_t bytes, const char* what) {
    if (ReadSome(buffer, bytes) != bytes)
        Fail(std::string("the WAV stream ends before ") + what);
}

void WavStreamReader::Skip(uint64_t bytes) {
    uint8_t scratch[16384];
    while (bytes > 0) {
        const size_t n = size_t(std::min<uint64_t>(bytes, sizeof scratch));
        ReadExactly(scratch, n, "its samples");
        bytes -= n;
    }
}
