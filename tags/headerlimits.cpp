#include "tags/headerlimits.h"

#include "wmawav/asfheader.h"

#include <cstdint>

namespace {

// The largest header that the decoder takes; the tags of a larger one are
// never needed.
constexpr uint64_t kMaxHeaderBytes = 64ull << 20;

const uint8_t* Bytes(const TagLib::ByteVector& v) {
    return reinterpret_cast<const uint8_t*>(v.data());
}

bool Check(TagLib::IOStream& stream) {
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
    return header.size() == headerSize && ScanAsfTagObjects(Bytes(header), header.size()) == AsfTags::Ok;
}

}  // namespace

bool AsfTagObjectsReadable(TagLib::IOStream& stream) {
    stream.seek(0);
    const bool readable = Check(stream);
    stream.seek(0);
    return readable;
}
