// The RIFF/WAVE header: the canonical 44 bytes for 16-bit PCM, and for
// 24-bit PCM the 68 bytes of WAVE_FORMAT_EXTENSIBLE, which the format's
// definition asks for above 16 bits and which libsndfile and FFmpeg read
// (FFmpeg writes it itself for 24 bits).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kWavHeaderSize = 44;
constexpr size_t kWavExtensibleHeaderSize = 68;
// RIFF sizes are 32-bit: the data chunk may hold at most this many bytes so
// that the RIFF chunk size (36 + data) still fits.
constexpr uint64_t kWavMaxDataBytes = 0xFFFFFFFFull - 36;

// The header's size for 16 or 24 bits per sample.
constexpr size_t WavHeaderSize(int bitsPerSample) {
    return bitsPerSample > 16 ? kWavExtensibleHeaderSize : kWavHeaderSize;
}
// The most data bytes whose RIFF chunk size still fits in 32 bits.
constexpr uint64_t WavMaxDataBytes(int bitsPerSample) {
    return 0xFFFFFFFFull - (WavHeaderSize(bitsPerSample) - 8);
}

// Fills out[0..WavHeaderSize(bitsPerSample)) for a PCM file of 16 or 24 bits
// with `dataBytes` bytes of samples. dataBytes must not exceed
// WavMaxDataBytes(bitsPerSample). The data size is the header's last four
// bytes.
void BuildWavHeader(uint8_t* out, uint32_t sampleRate, uint16_t channels, uint32_t dataBytes,
                    int bitsPerSample = 16);
