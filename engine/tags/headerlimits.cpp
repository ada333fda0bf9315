#include "tags/headerlimits.h"

#include "system/fileio.h"

#include <sys/stat.h>

#include <cstdint>

namespace {

// The largest header that the decoder takes; the tags of a larger one are
// never needed.
constexpr uint64_t kMaxHeaderBytes = 64ull << 20;

const uint8_t* Bytes(const QByteArray& v) {
    return reinterpret_cast<const uint8_t*>(v.constData());
}

}  // namespace

QByteArray ReadAsfHeader(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_size <= 0)
        return QByteArray();
    const auto length = static_cast<uint64_t>(st.st_size);
    // The first bytes tell an ID3v2 tag in front, and the header's size;
    // they hold the whole header of most files, pictures aside.
    QByteArray start(16384, Qt::Uninitialized);
    const ssize_t got = ReadAt(fd, reinterpret_cast<uint8_t*>(start.data()), static_cast<size_t>(start.size()), 0);
    if (got <= 0)
        return QByteArray();
    start.truncate(got);
    const uint64_t prefix = Id3v2PrefixLength(Bytes(start), static_cast<size_t>(got));
    if (prefix >= length)
        return QByteArray();
    QByteArray fixed;
    if (prefix + kAsfHeaderObjectFixedSize <= static_cast<uint64_t>(got)) {
        fixed = start.mid(static_cast<qsizetype>(prefix), kAsfHeaderObjectFixedSize);
    } else {
        fixed.resize(kAsfHeaderObjectFixedSize);
        if (ReadAt(fd, reinterpret_cast<uint8_t*>(fixed.data()), kAsfHeaderObjectFixedSize,
                   static_cast<off_t>(prefix)) != static_cast<ssize_t>(kAsfHeaderObjectFixedSize))
            return QByteArray();
    }
    const uint64_t headerSize = AsfHeaderObjectSize(Bytes(fixed), kAsfHeaderObjectFixedSize);
    if (headerSize < kAsfHeaderObjectFixedSize || headerSize > kMaxHeaderBytes || headerSize > length - prefix)
        return QByteArray();
    QByteArray header;
    if (prefix + headerSize <= static_cast<uint64_t>(got)) {
        header = start.mid(static_cast<qsizetype>(prefix), static_cast<qsizetype>(headerSize));
    } else {
        header.resize(static_cast<qsizetype>(headerSize));
        if (ReadAt(fd, reinterpret_cast<uint8_t*>(header.data()), headerSize, static_cast<off_t>(prefix)) !=
            static_cast<ssize_t>(headerSize))
            return QByteArray();
    }
    return header;
}

bool ScanCheckedAsfTags(const QByteArray& header, AsfTagEntryVisitor visit, void* context) {
    return ScanAsfTagObjects(Bytes(header), static_cast<size_t>(header.size()), visit, context) == AsfTags::Ok;
}
