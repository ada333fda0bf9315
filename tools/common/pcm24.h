// 24-bit PCM as WAV files store it: three bytes a sample, little-endian,
// channels interleaved.
#pragma once

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <cstddef>
#include <cstdint>

// Converts `frames` frames of `channels` channels of decoded audio to 24-bit
// PCM at `out` (3 * channels * frames bytes). `format` is one of
//   AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32P: the sample in the upper 24 bits
//     (as FFmpeg's decoders give 24-bit audio), rounded to the nearest 24-bit
//     value, so 24 significant bits pass unchanged;
//   AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP: full scale at 1.0, scaled by 2^23,
//     rounded and clipped to the 24-bit range.
// `data` holds one pointer for the interleaved formats, one per channel for
// the planar ones. Returns false, writing nothing, for any other format.
bool PackTo24Bits(const uint8_t* const* data, AVSampleFormat format, int channels, int frames, uint8_t* out);

// The reverse for 24-bit PCM read from a WAV file: `samples` samples at `in`
// to 32-bit integers with the sample in the upper 24 bits (the low byte
// zero), as FFmpeg's encoders take 24-bit audio.
void UnpackFrom24Bits(const uint8_t* in, size_t samples, int32_t* out);
