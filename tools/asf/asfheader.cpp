#include "asf/asfheader.h"

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

// Called for every object that a walk passes, at either level; a result other
// than Ok ends the walk with it.
using ObjectVisitor = AsfScan (*)(const uint8_t* obj, size_t len, Level level, void* context);

// Walks the objects that fill data[0, size) exactly. Each object is at least
// 24 bytes long, so the loop ends after at most size / 24 steps.
AsfScan WalkObjects(const uint8_t* data, size_t size, Level level, ObjectVisitor visit = nullptr,
                    void* context = nullptr) {
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
        if (visit) {
            const AsfScan seen = visit(obj, len, level, context);
            if (seen != AsfScan::Ok)
                return seen;
        }

        if (level == Level::Top) {
            if (IsGuid(obj, kContentEncryption) || IsGuid(obj, kExtendedContentEncryption))
                return AsfScan::Drm;
            if (IsGuid(obj, kHeaderExtension)) {
                if (len < kHeaderExtensionFixed)
                    return AsfScan::Damaged;
                const uint32_t extSize = ReadLe32(obj + 42);
                if (extSize > len - kHeaderExtensionFixed)
                    return AsfScan::Damaged;
                const AsfScan inner =
                    WalkObjects(obj + kHeaderExtensionFixed, extSize, Level::Extension, visit, context);
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
    if (declared < kAsfDataObjectFixedSize)
        return AsfScan::Damaged;
    if (declared > bytesToEnd)
        return size >= kAsfDataObjectFixedSize && bytesToEnd >= kAsfDataObjectFixedSize ? AsfScan::CutShort
                                                                                        : AsfScan::Damaged;
    return AsfScan::Ok;
}

bool ReadAsfFileProperties(const uint8_t* data, size_t size, AsfFileProperties& out) {
    // 8CABDCA1-A947-11CF-8EE4-00C00C205365
    static constexpr Guid kFileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                             0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    // After the object's GUID and size: the file ID (16 bytes); the file
    // size, creation date, packet count, play and send duration and preroll
    // (8 bytes each); the flags, the smallest and largest packet size and the
    // largest bit rate (4 bytes each).
    constexpr size_t kFixed = 104;
    const uint64_t headerSize = AsfHeaderObjectSize(data, size);
    if (headerSize < kAsfHeaderObjectFixedSize || headerSize > size)
        return false;
    size_t pos = kAsfHeaderObjectFixedSize;
    while (headerSize - pos >= kObjectPrefix) {
        const uint8_t* obj = data + pos;
        const uint64_t objSize = ReadLe64(obj + 16);
        if (objSize < kObjectPrefix || objSize > headerSize - pos)
            return false;
        if (IsGuid(obj, kFileProperties)) {
            if (objSize < kFixed)
                return false;
            out.fileSize = ReadLe64(obj + 40);
            out.playDuration = ReadLe64(obj + 64);
            out.preroll = ReadLe64(obj + 80);
            out.broadcast = (ReadLe32(obj + 88) & 1) != 0;
            return true;
        }
        pos += static_cast<size_t>(objSize);
    }
    return false;
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
        case AsfScan::CutShort:
            return "the file is damaged or incomplete";
    }
    return "unknown";
}

uint64_t Id3v2PrefixLength(const uint8_t* data, size_t size) {
    constexpr size_t kId3HeaderSize = 10;
    if (data == nullptr || size < kId3HeaderSize || std::memcmp(data, "ID3", 3) != 0 || data[3] == 0xFF ||
        data[4] == 0xFF)
        return 0;
    uint64_t body = 0;
    for (int i = 6; i < 10; ++i) {
        if (data[i] & 0x80)
            return 0;  // not a synchsafe size: not an ID3v2 header
        body = (body << 7) | data[i];
    }
    const bool footer = (data[5] & 0x10) != 0;
    return kId3HeaderSize + body + (footer ? kId3HeaderSize : 0);
}

namespace {

// 75B22633-668E-11CF-A6D9-00AA0062CE6C
constexpr Guid kContentDescription = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
// D2D0A440-E307-11D2-97F0-00A0C95EA850
constexpr Guid kExtendedContentDescription = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                              0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
// C5F8CBEA-5BAF-4877-8467-AA8C44FA4CCA
constexpr Guid kMetadata = {0xEA, 0xCB, 0xF8, 0xC5, 0xAF, 0x5B, 0x77, 0x48,
                            0x84, 0x67, 0xAA, 0x8C, 0x44, 0xFA, 0x4C, 0xCA};
// 44231C94-9498-49D1-A141-1D134E457054
constexpr Guid kMetadataLibrary = {0x94, 0x1C, 0x23, 0x44, 0x98, 0x94, 0xD1, 0x49,
                                   0xA1, 0x41, 0x1D, 0x13, 0x4E, 0x45, 0x70, 0x54};

uint16_t ReadLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

struct TagTally {
    uint64_t entries = 0;
    uint64_t topObjects = 0;
    bool excessive = false;
    AsfTagEntryVisitor visit = nullptr;
    void* context = nullptr;
};

// The entries of a tag object, each of which must lie wholly inside it: the
// descriptors of an Extended Content Description Object (name length, name,
// value type, value length, value) or the records of a Metadata (Library)
// Object (two 16-bit fields, name length, value type, 32-bit value length,
// name, value).
AsfScan CheckTagEntries(const uint8_t* obj, size_t len, AsfTagObject kind, TagTally& tally) {
    const bool records = kind != AsfTagObject::ExtendedContentDescription;
    if (len < kObjectPrefix + 2)
        return AsfScan::Damaged;
    const uint32_t count = ReadLe16(obj + kObjectPrefix);
    tally.entries += count;
    if (tally.entries > kMaxAsfTagEntries) {
        tally.excessive = true;
        return AsfScan::Damaged;
    }
    const size_t fixed = records ? 12 : 6;
    size_t pos = kObjectPrefix + 2;
    if (uint64_t(count) * fixed > len - pos)
        return AsfScan::Damaged;  // the count alone does not fit the object
    for (uint32_t i = 0; i < count; ++i) {
        if (len - pos < fixed)
            return AsfScan::Damaged;
        const uint8_t* e = obj + pos;
        uint64_t variable;
        uint64_t valueLength;
        uint16_t valueType;
        const size_t nameLength = records ? ReadLe16(e + 4) : ReadLe16(e);
        if (records) {
            valueType = ReadLe16(e + 6);
            valueLength = ReadLe32(e + 8);
            variable = uint64_t(nameLength) + valueLength;
        } else {
            if (len - pos < fixed + nameLength)
                return AsfScan::Damaged;
            valueType = ReadLe16(e + 2 + nameLength);
            valueLength = ReadLe16(e + 2 + nameLength + 2);
            variable = nameLength + valueLength;
        }
        if (variable > len - pos - fixed)
            return AsfScan::Damaged;
        if (tally.visit) {
            AsfTagEntry entry{kind, records ? e + fixed : e + 2, nameLength};
            entry.valueType = valueType;
            entry.value = records ? e + fixed + nameLength : e + 2 + nameLength + 4;
            entry.valueBytes = static_cast<size_t>(valueLength);
            tally.visit(entry, tally.context);
        }
        pos += fixed + static_cast<size_t>(variable);
    }
    return AsfScan::Ok;
}

AsfScan VisitTagObject(const uint8_t* obj, size_t len, Level level, void* context) {
    TagTally& tally = *static_cast<TagTally*>(context);
    if (level == Level::Top)
        ++tally.topObjects;
    if (IsGuid(obj, kContentDescription)) {
        // Five 16-bit lengths, then the five texts.
        if (len < kObjectPrefix + 10)
            return AsfScan::Damaged;
        uint64_t texts = 0;
        for (int i = 0; i < 5; ++i)
            texts += ReadLe16(obj + kObjectPrefix + 2 * i);
        if (texts > len - kObjectPrefix - 10)
            return AsfScan::Damaged;
        const uint8_t* text = obj + kObjectPrefix + 10;
        for (int i = 0; i < 5 && tally.visit; ++i) {
            const size_t bytes = ReadLe16(obj + kObjectPrefix + 2 * i);
            if (bytes > 0) {
                AsfTagEntry entry{AsfTagObject::ContentDescription, nullptr, 0};
                entry.value = text;
                entry.valueBytes = bytes;
                entry.described = i;
                tally.visit(entry, tally.context);
            }
            text += bytes;
        }
        return AsfScan::Ok;
    }
    if (IsGuid(obj, kExtendedContentDescription))
        return CheckTagEntries(obj, len, AsfTagObject::ExtendedContentDescription, tally);
    if (IsGuid(obj, kMetadata))
        return CheckTagEntries(obj, len, AsfTagObject::Metadata, tally);
    if (IsGuid(obj, kMetadataLibrary))
        return CheckTagEntries(obj, len, AsfTagObject::MetadataLibrary, tally);
    return AsfScan::Ok;
}

}  // namespace

AsfTags ScanAsfTagObjects(const uint8_t* data, size_t size, AsfTagEntryVisitor visit, void* context) {
    const uint64_t headerSize = AsfHeaderObjectSize(data, size);
    if (headerSize < kAsfHeaderObjectFixedSize || headerSize > size)
        return AsfTags::Damaged;
    TagTally tally;
    tally.visit = visit;
    tally.context = context;
    const AsfScan walk = WalkObjects(data + kAsfHeaderObjectFixedSize,
                                     static_cast<size_t>(headerSize) - kAsfHeaderObjectFixedSize, Level::Top,
                                     VisitTagObject, &tally);
    if (tally.excessive)
        return AsfTags::Excessive;
    // A header that claims more objects than it holds sends a reader on
    // into the audio data.
    if (walk == AsfScan::Damaged || ReadLe32(data + 24) > tally.topObjects)
        return AsfTags::Damaged;
    return AsfTags::Ok;
}
