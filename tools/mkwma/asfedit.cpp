#include "mkwma/asfedit.h"

#include <array>
#include <cstring>

namespace {

const std::array<uint8_t, 16> kHeaderGuid = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                             0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const std::array<uint8_t, 16> kDataGuid = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                           0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
// 8CABDCA1-A947-11CF-8EE4-00C00C205365
const std::array<uint8_t, 16> kFilePropertiesGuid = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                     0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const std::array<uint8_t, 16> kHeaderExtensionGuid = {0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9, 0xCF, 0x11,
                                                      0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const std::array<uint8_t, 16> kContentEncryptionGuid = {0xFB, 0xB3, 0x11, 0x22, 0x23, 0xBD, 0xD2, 0x11,
                                                        0xB4, 0xB7, 0x00, 0xA0, 0xC9, 0x55, 0xFC, 0x6E};
const std::array<uint8_t, 16> kExtendedContentEncryptionGuid = {
    0x14, 0xE6, 0x8A, 0x29, 0x22, 0x26, 0x17, 0x4C, 0xB9, 0x35, 0xDA, 0xE0, 0x7E, 0xE9, 0x28, 0x9C};
const std::array<uint8_t, 16> kAdvancedContentEncryptionGuid = {
    0x33, 0x85, 0x05, 0x43, 0x81, 0x69, 0xE6, 0x49, 0x9B, 0x74, 0xAD, 0x12, 0xCB, 0x86, 0xD5, 0x8C};

bool GuidAt(const std::vector<uint8_t>& f, uint64_t pos, const std::array<uint8_t, 16>& g) {
    return pos + 16 <= f.size() && std::memcmp(f.data() + pos, g.data(), 16) == 0;
}

uint64_t Get64(const std::vector<uint8_t>& f, uint64_t pos) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | f[pos + i];
    return v;
}

uint32_t Get32(const std::vector<uint8_t>& f, uint64_t pos) {
    return uint32_t(f[pos]) | uint32_t(f[pos + 1]) << 8 | uint32_t(f[pos + 2]) << 16 |
           uint32_t(f[pos + 3]) << 24;
}

void Put64(std::vector<uint8_t>& f, uint64_t pos, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        f[pos + i] = uint8_t(v >> (8 * i));
}

void Put32(std::vector<uint8_t>& f, uint64_t pos, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        f[pos + i] = uint8_t(v >> (8 * i));
}

void Append(std::vector<uint8_t>& out, const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    out.insert(out.end(), b, b + n);
}

void Append32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

// An object: GUID, 64-bit size of the whole, then the body.
std::vector<uint8_t> MakeObject(const std::array<uint8_t, 16>& guid, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> obj(guid.begin(), guid.end());
    const uint64_t size = 24 + body.size();
    for (int i = 0; i < 8; ++i)
        obj.push_back(uint8_t(size >> (8 * i)));
    obj.insert(obj.end(), body.begin(), body.end());
    return obj;
}

std::vector<uint8_t> EncryptionObject(EncryptionKind kind) {
    std::vector<uint8_t> body;
    switch (kind) {
        case EncryptionKind::Content: {
            // Secret data, protection type, key id and licence URL, each with a
            // 32-bit length in front; strings NUL-terminated.
            const uint8_t secret[8] = {0x5A, 0x17, 0x93, 0xC2, 0x08, 0x6E, 0xB1, 0x44};
            const char type[] = "DRM";
            const char keyId[] = "brenvale-test-key";
            const char url[] = "http://licence.invalid/acquire";
            Append32(body, sizeof secret);
            Append(body, secret, sizeof secret);
            Append32(body, sizeof type);
            Append(body, type, sizeof type);
            Append32(body, sizeof keyId);
            Append(body, keyId, sizeof keyId);
            Append32(body, sizeof url);
            Append(body, url, sizeof url);
            return MakeObject(kContentEncryptionGuid, body);
        }
        case EncryptionKind::ExtendedContent: {
            const char data[] = "<WRMHEADER version=\"2.0.0.0\"><DATA></DATA></WRMHEADER>";
            Append32(body, sizeof data);
            Append(body, data, sizeof data);
            return MakeObject(kExtendedContentEncryptionGuid, body);
        }
        case EncryptionKind::AdvancedContent:
            // Content encryption records count: none.
            body.push_back(0);
            body.push_back(0);
            return MakeObject(kAdvancedContentEncryptionGuid, body);
    }
    return {};
}

}  // namespace

namespace {

// The sizes that cover an object of added bytes about to go into the header:
// the Header Object's own and File Properties' file size at byte 40.
void GrowHeader(std::vector<uint8_t>& file, const AsfLayout& layout, uint64_t added) {
    Put64(file, 16, layout.headerSize + added);
    if (layout.fileProperties != 0)
        Put64(file, layout.fileProperties + 40, Get64(file, layout.fileProperties + 40) + added);
}

}  // namespace

std::optional<AsfLayout> ReadAsfLayout(const std::vector<uint8_t>& file) {
    if (file.size() < 30 || !GuidAt(file, 0, kHeaderGuid))
        return std::nullopt;
    AsfLayout layout;
    layout.headerSize = Get64(file, 16);
    layout.objectCount = Get32(file, 24);
    if (layout.headerSize < 30 || layout.headerSize > file.size())
        return std::nullopt;
    uint64_t pos = 30;
    while (pos < layout.headerSize) {
        if (layout.headerSize - pos < 24)
            return std::nullopt;
        const uint64_t size = Get64(file, pos + 16);
        if (size < 24 || size > layout.headerSize - pos)
            return std::nullopt;
        layout.children.push_back(pos);
        if (GuidAt(file, pos, kHeaderExtensionGuid) && size >= 46)
            layout.headerExtension = pos;
        if (GuidAt(file, pos, kFilePropertiesGuid) && size >= 48)
            layout.fileProperties = pos;
        pos += size;
    }
    if (file.size() >= layout.headerSize + 24 && GuidAt(file, layout.headerSize, kDataGuid))
        layout.dataObjectSize = Get64(file, layout.headerSize + 16);
    return layout;
}

namespace {

// Puts obj into the Header Extension's data, first or last.
bool InsertIntoExtension(std::vector<uint8_t>& file, const std::vector<uint8_t>& obj, bool first) {
    const std::optional<AsfLayout> layout = ReadAsfLayout(file);
    if (!layout || layout->headerExtension == 0)
        return false;
    const uint64_t ext = layout->headerExtension;
    const uint64_t at = first ? ext + 46 : ext + Get64(file, ext + 16);
    Put64(file, ext + 16, Get64(file, ext + 16) + obj.size());
    Put32(file, ext + 42, Get32(file, ext + 42) + uint32_t(obj.size()));
    GrowHeader(file, *layout, obj.size());
    file.insert(file.begin() + static_cast<std::ptrdiff_t>(at), obj.begin(), obj.end());
    return true;
}

}  // namespace

bool InsertEncryptionObject(std::vector<uint8_t>& file, EncryptionKind kind) {
    const std::vector<uint8_t> obj = EncryptionObject(kind);
    if (kind != EncryptionKind::AdvancedContent)
        return InsertHeaderObject(file, obj);
    return InsertIntoExtension(file, obj, true);
}

bool InsertExtensionObject(std::vector<uint8_t>& file, const std::vector<uint8_t>& object) {
    return InsertIntoExtension(file, object, false);
}

std::vector<uint8_t> TagObject(TagObjectKind kind, const std::vector<TagEntryBytes>& entries) {
    // 75B22633-668E-11CF-A6D9-00AA0062CE6C, D2D0A440-E307-11D2-97F0-00A0C95EA850,
    // C5F8CBEA-5BAF-4877-8467-AA8C44FA4CCA, 44231C94-9498-49D1-A141-1D134E457054
    static const std::array<uint8_t, 16> kGuids[] = {
        {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C},
        {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11, 0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50},
        {0xEA, 0xCB, 0xF8, 0xC5, 0xAF, 0x5B, 0x77, 0x48, 0x84, 0x67, 0xAA, 0x8C, 0x44, 0xFA, 0x4C, 0xCA},
        {0x94, 0x1C, 0x23, 0x44, 0x98, 0x94, 0xD1, 0x49, 0xA1, 0x41, 0x1D, 0x13, 0x4E, 0x45, 0x70, 0x54},
    };
    const auto put16 = [](std::vector<uint8_t>& out, size_t v) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    };
    std::vector<uint8_t> body;
    if (kind == TagObjectKind::ContentDescription) {
        for (size_t i = 0; i < 5; ++i)
            put16(body, i < entries.size() ? entries[i].value.size() : 0);
        for (const TagEntryBytes& e : entries)
            body.insert(body.end(), e.value.begin(), e.value.end());
        return MakeObject(kGuids[0], body);
    }
    put16(body, entries.size());
    for (const TagEntryBytes& e : entries) {
        if (kind == TagObjectKind::ExtendedContentDescription) {
            put16(body, e.name.size());
            body.insert(body.end(), e.name.begin(), e.name.end());
            put16(body, e.type);
            put16(body, e.value.size());
        } else {
            put16(body, 0);  // language
            put16(body, kind == TagObjectKind::Metadata ? 1 : 0);
            put16(body, e.name.size());
            put16(body, e.type);
            Append32(body, uint32_t(e.value.size()));
            body.insert(body.end(), e.name.begin(), e.name.end());
        }
        body.insert(body.end(), e.value.begin(), e.value.end());
    }
    return MakeObject(kGuids[static_cast<int>(kind)], body);
}

bool InsertHeaderObject(std::vector<uint8_t>& file, const std::vector<uint8_t>& object) {
    const std::optional<AsfLayout> layout = ReadAsfLayout(file);
    if (!layout)
        return false;
    // Appended as the header's last child, where writers put it.
    Put32(file, 24, layout->objectCount + 1);
    GrowHeader(file, *layout, object.size());
    file.insert(file.begin() + static_cast<std::ptrdiff_t>(layout->headerSize), object.begin(), object.end());
    return true;
}

namespace {

// D2D0A440-E307-11D2-97F0-00A0C95EA850
constexpr std::array<uint8_t, 16> kExtendedContentDescriptionGuid = {
    0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11, 0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
// 1806D474-CADF-4509-A4BA-9AABCB96AAE8
constexpr std::array<uint8_t, 16> kPaddingGuid = {0x74, 0xD4, 0x06, 0x18, 0xDF, 0xCA, 0x09, 0x45,
                                                  0xA4, 0xBA, 0x9A, 0xAB, 0xCB, 0x96, 0xAA, 0xE8};

// A tag block of a 16-bit count and zeros up to bodySize bytes.
std::vector<uint8_t> TagBlock(uint16_t count, size_t bodySize) {
    std::vector<uint8_t> body(bodySize, 0);
    body[0] = uint8_t(count);
    body[1] = uint8_t(count >> 8);
    return MakeObject(kExtendedContentDescriptionGuid, body);
}

}  // namespace

bool AddEmptyTagBlocks(std::vector<uint8_t>& file, int blocks, int entries) {
    // An empty descriptor: name length 0, value type 0, value length 0.
    const std::vector<uint8_t> block = TagBlock(uint16_t(entries), 2 + 6 * size_t(entries));
    for (int i = 0; i < blocks; ++i)
        if (!InsertHeaderObject(file, block))
            return false;
    return true;
}

bool AddPadding(std::vector<uint8_t>& file, uint64_t bytes) {
    return InsertHeaderObject(file, MakeObject(kPaddingGuid, std::vector<uint8_t>(bytes, 0)));
}

std::vector<uint8_t> CutShortTagHeader() {
    std::vector<uint8_t> file(kHeaderGuid.begin(), kHeaderGuid.end());
    file.resize(30, 0);  // size, no children yet, reserved
    Put64(file, 16, 30);
    file[28] = 1;
    file[29] = 2;
    InsertHeaderObject(file, TagBlock(0xFFFE, 658));
    return file;
}

bool CutFile(std::vector<uint8_t>& file, CutPoint where) {
    const std::optional<AsfLayout> layout = ReadAsfLayout(file);
    if (!layout)
        return false;
    uint64_t keep = 0;
    switch (where) {
        case CutPoint::InsideHeader:
            keep = layout->headerSize / 2;
            break;
        case CutPoint::AfterHeader:
            keep = layout->headerSize;
            break;
        case CutPoint::MidData:
            if (layout->dataObjectSize < 50)
                return false;
            keep = layout->headerSize + layout->dataObjectSize / 2;
            break;
    }
    if (keep >= file.size())
        return false;
    file.resize(keep);
    return true;
}

bool FlipHeaderBytes(std::vector<uint8_t>& file, FlipTarget what) {
    const std::optional<AsfLayout> layout = ReadAsfLayout(file);
    if (!layout)
        return false;
    uint64_t from = 0;
    switch (what) {
        case FlipTarget::HeaderGuid:
            from = 0;
            break;
        case FlipTarget::ObjectSize:
            if (layout->children.empty())
                return false;
            from = layout->children.front() + 16;
            break;
        case FlipTarget::DataSize:
            if (layout->dataObjectSize == 0)
                return false;
            from = layout->headerSize + 16;
            break;
    }
    for (uint64_t i = from; i < from + 8; ++i)
        file[i] = uint8_t(~file[i]);
    return true;
}
