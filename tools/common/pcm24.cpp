#include "common/pcm24.h"

#include <cmath>

namespace {

inline void Put24(uint8_t* p, int32_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    p[0] = uint8_t(u);
    p[1] = uint8_t(u >> 8);
    p[2] = uint8_t(u >> 16);
}

inline int32_t FromS32(int32_t s) {
    // Rounded to the nearest multiple of 256, kept within range.
    const int64_t v = (int64_t(s) + 128) >> 8;
    return v > 0x7FFFFF ? 0x7FFFFF : int32_t(v);
}

inline int32_t FromFloat(float f) {
    const float scaled = f * 8388608.0f;
    if (!(scaled > -8388608.0f))  // below range, or not a number
        return std::isnan(scaled) ? 0 : -8388608;
    if (scaled >= 8388607.0f)
        return 0x7FFFFF;
    return int32_t(std::lrint(scaled));
}

template <typename Sample, int32_t (*Convert)(Sample)>
void Pack(const uint8_t* const* data, bool planar, int channels, int frames, uint8_t* out) {
    if (!planar) {
        const Sample* in = reinterpret_cast<const Sample*>(data[0]);
        const size_t n = size_t(channels) * size_t(frames);
        for (size_t i = 0; i < n; ++i, out += 3)
            Put24(out, Convert(in[i]));
        return;
    }
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c, out += 3)
            Put24(out, Convert(reinterpret_cast<const Sample*>(data[c])[i]));
}

}  // namespace

bool PackTo24Bits(const uint8_t* const* data, AVSampleFormat format, int channels, int frames, uint8_t* out) {
    switch (format) {
        case AV_SAMPLE_FMT_S32:
        case AV_SAMPLE_FMT_S32P:
            Pack<int32_t, FromS32>(data, format == AV_SAMPLE_FMT_S32P, channels, frames, out);
            return true;
        case AV_SAMPLE_FMT_FLT:
        case AV_SAMPLE_FMT_FLTP:
            Pack<float, FromFloat>(data, format == AV_SAMPLE_FMT_FLTP, channels, frames, out);
            return true;
        default:
            return false;
    }
}

void UnpackFrom24Bits(const uint8_t* in, size_t samples, int32_t* out) {
    for (size_t i = 0; i < samples; ++i, in += 3)
        out[i] = int32_t(uint32_t(in[0]) << 8 | uint32_t(in[1]) << 16 | uint32_t(in[2]) << 24);
}
