#include "asfheader.h"

#include <cstring>

namespace {

using Guid = uint8_t[16];

// GUIDs as they are stored in the file: the first three fields little-endian,
// the last eight bytes as written.
constexpr Guid kHeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kDataObject = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                              0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
// 2211B3FB-BD23-11D2-B4B7-00A0C955FC6E
constexpr Guid kContentEncryption = {0xFB, 0xB3, 0x11, 0x22, 0x23, 0xBD, 0xD2, 0x11,
                                     0xB4, 0xB7, 0x00, 0xA0, 0xC9, 0x55, 0xFC, 0x6E};
// 298AE614-2622-4C17-B935-DAE07EE9289C
constexpr Guid kExtendedContentEncryption = {0x14, 0xE6, 0x8A, 0x29, 0x22, 0x26, 0x17, 0x4C,
                                             0xB9, 0x35, 0xDA, 0xE0, 0x7E, 0xE9, 0x28, 0x9C};
// 5FBF03B5-A92E-11CF-8EE3-00C00C205365
constexpr Guid kHeaderExtension = {0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9, 0xCF, 0x11,
                                   0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
// 43058533-6981-49E6-9B74-AD12CB86D58C
constexpr Guid kAdvancedContentEncryption = {0x33, 0x85, 0x05, 0x43, 0x81, 0x69, 0xE6, 0x49,
                                             0x9B, 0x74, 0xAD, 0x12, 0xCB, 0x86, 0xD5, 0x8C};

// Every object starts with a GUID and a 64-bit size that counts the whole
// object, these 24 bytes included.
constexpr size_t kObjectPrefix = 24;
// The Header Extension Object: GUID, size, a reserved GUID, a reserved 16-bit
// field and the 32-bit size of the extension data that follows at byte 46.
constexpr size_t kHeaderExtensionFixed = 46;

bool IsGuid(const uint8_t* p, const Guid& guid) {
    return std::memcmp(p, guid, sizeof(Guid)) == 0;
}

uint64_t ReadLe64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

uint32_t ReadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

enum class Level { Top, Extension };

// Walks the objects that fill data[0, size) exactly. Each object is at least
// 24 bytes long, so the loop ends after at most size / 24 steps.
AsfScan WalkObjects(const uint8_t* data, size_t size, Level level) {
    size_t pos = 0;
    while (pos < size) {
        const size_t left = size - pos;
        if (left < kObjectPrefix)
            return AsfScan::Damaged;
        const uint8_t* obj = data + pos;
        const uint64_t objSize = ReadLe64(obj + 16);
        if (objSize < kObjectPrefix || objSize > left)
            return AsfScan::Damaged;
        const size_t len = static_cast<size_t>(objSize);

        if (level == Level::Top) {
            if (IsGuid(obj, kContentEncryption) || IsGuid(obj, kExtendedContentEncryption))
                return AsfScan::Drm;
            if (IsGuid(obj, kHeaderExtension)) {
                if (len < kHeaderExtensionFixed)
                    return AsfScan::Damaged;
                const uint32_t extSize = ReadLe32(obj + 42);
                if (extSize > len - kHeaderExtensionFixed)
                    return AsfScan::Damaged;
                const AsfScan inner = WalkObjects(obj + kHeaderExtensionFixed, extSize, Level::Extension);
                if (inner != AsfScan::Ok)
                    return inner;
            }
        } else if (IsGuid(obj, kAdvancedContentEncryption)) {
            return AsfScan::Drm;
        }
        pos += len;
    }
    return AsfScan::Ok;
}

}  // namespace

uint64_t AsfHeaderObjectSize(const uint8_t* data, size_t size) {
    if (data == nullptr || size < kAsfHeaderObjectFixedSize || !IsGuid(data, kHeaderObject))
        return 0;
    return ReadLe64(data + 16);
}

AsfScan ScanAsfHeader(const uint8_t* data, size_t size) {
    if (data == nullptr || size == 0)
        return AsfScan::NotAsf;
    if (size < sizeof(Guid)) {
        // A file that ends inside the first GUID is a cut-short ASF file only
        // when what is there matches the GUID's beginning.
        return std::memcmp(data, kHeaderObject, size) == 0 ? AsfScan::Damaged : AsfScan::NotAsf;
    }
    if (!IsGuid(data, kHeaderObject))
        return AsfScan::NotAsf;
    if (size < kAsfHeaderObjectFixedSize)
        return AsfScan::Damaged;
    const uint64_t headerSize = ReadLe64(data + 16);
    if (headerSize < kAsfHeaderObjectFixedSize || headerSize > size)
        return AsfScan::Damaged;
    return WalkObjects(data + kAsfHeaderObjectFixedSize,
                       static_cast<size_t>(headerSize) - kAsfHeaderObjectFixedSize, Level::Top);
}

AsfScan ScanAsfDataObject(const uint8_t* data, size_t size, uint64_t bytesToEnd) {
    if (data == nullptr || size < kObjectPrefix || bytesToEnd < kObjectPrefix)
        return AsfScan::Damaged;
    if (!IsGuid(data, kDataObject))
        return AsfScan::Damaged;
    const uint64_t declared = ReadLe64(data + 16);
    if (declared == 0)
        return AsfScan::Ok;
    if (declared < kAsfDataObjectFixedSize || declared > bytesToEnd)
        return AsfScan::Damaged;
    return AsfScan::Ok;
}

const char* AsfScanText(AsfScan scan) {
    switch (scan) {
        case AsfScan::Ok:
            return "valid ASF header";
        case AsfScan::NotAsf:
            return "not an ASF (Windows Media) file";
        case AsfScan::Drm:
            return "the file is DRM-protected";
        case AsfScan::Damaged:
            return "the file is damaged or incomplete";
    }
    return "unknown";
}
