#include "common/wavheader.h"

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

// KSDATAFORMAT_SUBTYPE_PCM, as stored: 00000001-0000-0010-8000-00AA00389B71.
constexpr uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

}  // namespace

void BuildWavHeader(uint8_t* out, uint32_t sampleRate, uint16_t channels, uint32_t dataBytes,
                    int bitsPerSample) {
    const bool extensible = bitsPerSample > 16;
    const uint16_t bytesPerSample = extensible ? 3 : 2;
    const uint16_t blockAlign = uint16_t(channels * bytesPerSample);
    const uint32_t fmtSize = extensible ? 40 : 16;
    std::memcpy(out, "RIFF", 4);
    PutLe32(out + 4, uint32_t(WavHeaderSize(bitsPerSample) - 8) + dataBytes);
    std::memcpy(out + 8, "WAVE", 4);
    std::memcpy(out + 12, "fmt ", 4);
    PutLe32(out + 16, fmtSize);  // size of the fmt chunk's body
    PutLe16(out + 20, extensible ? 0xFFFE : 1);  // WAVE_FORMAT_EXTENSIBLE or WAVE_FORMAT_PCM
    PutLe16(out + 22, channels);
    PutLe32(out + 24, sampleRate);
    PutLe32(out + 28, sampleRate * blockAlign);  // bytes per second
    PutLe16(out + 32, blockAlign);
    PutLe16(out + 34, uint16_t(bytesPerSample * 8));  // bits per sample, as stored
    uint8_t* p = out + 36;
    if (extensible) {
        PutLe16(p, 22);  // size of the extension
        PutLe16(p + 2, 24);  // valid bits per sample
        // The speakers: front centre for mono, front left and right for stereo.
        PutLe32(p + 4, channels == 1 ? 0x4 : channels == 2 ? 0x3 : 0);
        std::memcpy(p + 8, kPcmSubFormat, sizeof kPcmSubFormat);
        p += 24;
    }
    std::memcpy(p, "data", 4);
    PutLe32(p + 4, dataBytes);
}
