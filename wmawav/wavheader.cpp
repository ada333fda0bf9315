#include "wavheader.h"

#include <cstring>

namespace {

void PutLe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

void PutLe16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

}  // namespace

void BuildWavHeader(uint8_t* out, uint32_t sampleRate, uint16_t channels, uint32_t dataBytes) {
    const uint16_t blockAlign = uint16_t(channels * 2);
    std::memcpy(out, "RIFF", 4);
    PutLe32(out + 4, 36 + dataBytes);
    std::memcpy(out + 8, "WAVE", 4);
    std::memcpy(out + 12, "fmt ", 4);
    PutLe32(out + 16, 16);  // size of the fmt chunk's body
    PutLe16(out + 20, 1);   // WAVE_FORMAT_PCM
    PutLe16(out + 22, channels);
    PutLe32(out + 24, sampleRate);
    PutLe32(out + 28, sampleRate * blockAlign);  // bytes per second
    PutLe16(out + 32, blockAlign);
    PutLe16(out + 34, 16);  // bits per sample
    std::memcpy(out + 36, "data", 4);
    PutLe32(out + 40, dataBytes);
}
