// The canonical 44-byte RIFF/WAVE header for 16-bit PCM.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kWavHeaderSize = 44;
// RIFF sizes are 32-bit: the data chunk may hold at most this many bytes so
// that the RIFF chunk size (36 + data) still fits.
constexpr uint64_t kWavMaxDataBytes = 0xFFFFFFFFull - 36;

// Fills out[0..44) for a 16-bit PCM file with `dataBytes` bytes of samples.
// dataBytes must not exceed kWavMaxDataBytes.
void BuildWavHeader(uint8_t* out, uint32_t sampleRate, uint16_t channels, uint32_t dataBytes);
