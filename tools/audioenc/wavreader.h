// Reading a WAV stream once, in order, from a file or a pipe: the header up
// to the samples, then the samples in large blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Thrown when the stream is not a WAV stream this reader takes, is damaged,
// or cannot be read.
struct WavStreamError {
    std::string message;
};

struct WavStreamFormat {
    uint32_t sampleRate = 0;  // 8000 to 384000 Hz
    int channels = 0;         // 1 or 2
    int bitsPerSample = 0;    // 16 or 24, little-endian signed integers
    size_t frameBytes() const { return size_t(channels) * size_t(bitsPerSample / 8); }
};

// Takes a PCM WAV stream: WAVE_FORMAT_PCM or WAVE_FORMAT_EXTENSIBLE with PCM
// samples, 16 or 24 bits, mono or stereo; chunks other than "fmt " and
// "data" are skipped. A data size of 0xFFFFFFFF or 0 means "unknown", as a
// writer of a stream (or of audio beyond 4 GiB) puts it: the samples then
// run to the end of the stream. A known size must be there in full.
class WavStreamReader {
public:
    // Reads the header from `fd`, which stays the caller's. Throws
    // WavStreamError.
    explicit WavStreamReader(int fd);

    const WavStreamFormat& format() const { return format_; }

    // Reads up to `maxFrames` whole sample frames into `buffer`, filling it
    // unless the samples end first; returns the frames read, 0 at the end of
    // the samples. Throws WavStreamError when the stream ends inside a frame
    // or before the size its header gives, or cannot be read.
    size_t Read(uint8_t* buffer, size_t maxFrames);

private:
    size_t ReadSome(uint8_t* buffer, size_t bytes);
    void ReadExactly(uint8_t* buffer, size_t bytes, const char* what);
    void Skip(uint64_t bytes);

    int fd_;
    WavStreamFormat format_;
    bool sized_ = false;         // the header gives the data's size
    uint64_t dataLeft_ = 0;      // bytes of samples still to come, when sized_
};
