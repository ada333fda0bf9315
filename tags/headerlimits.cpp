#include "tags/headerlimits.h"

#include <cstdint>

namespace {

// The largest header that the decoder takes; the tags of a larger one are
// never needed.
constexpr uint64_t kMaxHeaderBytes = 64ull << 20;

const uint8_t* Bytes(const TagLib::ByteVector& v) {
    return reinterpret_cast<const uint8_t*>(v.data());
}

// An entry's name as TagLib reads it (a UTF-16LE text, which TagLib's
// String ends at the first zero character), and whether a zero character
// stands before those that end it.
void NoteEntry(const AsfTagEntry& entry, void* context) {
    size_t bytes = entry.nameBytes & ~size_t(1);
    while (bytes >= 2 && entry.name[bytes - 1] == 0 && entry.name[bytes - 2] == 0)
        bytes -= 2;
    bool damaged = false;
    for (size_t i = 0; i < bytes && !damaged; i += 2)
        damaged = entry.name[i] == 0 && entry.name[i + 1] == 0;
    const TagLib::ByteVector name(reinterpret_cast<const char*>(entry.name),
                                  static_cast<unsigned int>(entry.nameBytes));
    static_cast<std::vector<AsfEntryPlace>*>(context)->push_back(
        AsfEntryPlace{entry.object, TagLib::String(name, TagLib::String::UTF16LE), damaged});
}

bool Check(TagLib::IOStream& stream, std::vector<AsfEntryPlace>* places) {
    const TagLib::ByteVector start = stream.readBlock(10);
    const uint64_t prefix = Id3v2PrefixLength(Bytes(start), start.size());
    const long length = stream.length();
    if (length <= 0 || prefix >= static_cast<uint64_t>(length))
        return false;
    stream.seek(static_cast<long>(prefix));
    const TagLib::ByteVector fixed = stream.readBlock(kAsfHeaderObjectFixedSize);
    const uint64_t headerSize = AsfHeaderObjectSize(Bytes(fixed), fixed.size());
    if (headerSize < kAsfHeaderObjectFixedSize || headerSize > kMaxHeaderBytes ||
        headerSize > static_cast<uint64_t>(length) - prefix)
        return false;
    stream.seek(static_cast<long>(prefix));
    const TagLib::ByteVector header = stream.readBlock(static_cast<unsigned long>(headerSize));
    return header.size() == headerSize &&
           ScanAsfTagObjects(Bytes(header), header.size(), places ? NoteEntry : nullptr, places) ==
               AsfTags::Ok;
}

}  // namespace

bool AsfTagObjectsReadable(TagLib::IOStream& stream, std::vector<AsfEntryPlace>* places) {
    stream.seek(0);
    const bool readable = Check(stream, places);
    stream.seek(0);
    return readable;
}
