#include "tags/checkedstream.h"

#include "asf/asfheader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr long kChunk = 1 << 20;

}  // namespace

CheckedFileStream::CheckedFileStream(const std::string& path) : path_(path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat st;
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    fd_ = std::move(fd);
    length_ = static_cast<long>(st.st_size);
}

CheckedFileStream::CheckedFileStream(int fd, const std::string& path, bool writable)
    : path_(path), fd_(fd), writable_(writable) {
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) == 0)
        length_ = static_cast<long>(st.st_size);
    else
        failed_ = true;
}

CheckedFileStream::~CheckedFileStream() = default;

bool CheckedFileStream::close() {
    if (fd_.get() < 0)
        return false;
    // Closed here to learn whether the last writes reached the disk.
    const bool closed = ::close(fd_.release()) == 0;
    return closed && !failed_;
}

long CheckedFileStream::readAt(char* buffer, long count, long offset) {
    long done = 0;
    while (done < count) {
        const ssize_t n =
            ::pread(fd_.get(), buffer + done, static_cast<size_t>(count - done), start_ + offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            failed_ = true;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

bool CheckedFileStream::writeAt(const char* buffer, long count, long offset) {
    if (!writable_) {
        failed_ = true;
        return false;
    }
    long done = 0;
    while (done < count) {
        const ssize_t n =
            ::pwrite(fd_.get(), buffer + done, static_cast<size_t>(count - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            failed_ = true;
            return false;
        }
        done += n;
    }
    length_ = std::max(length_, offset + count);
    return true;
}

TagLib::ByteVector CheckedFileStream::readBlock(unsigned long length) {
    if (fd_.get() < 0 || length == 0)
        return TagLib::ByteVector();
    // A size field of a damaged file may ask for far more than the file
    // holds: never allocate beyond its end.
    const long available = std::max(0L, this->length() - position_);
    const long wanted =
        static_cast<long>(std::min<unsigned long>(length, static_cast<unsigned long>(available)));
    TagLib::ByteVector block(static_cast<unsigned int>(wanted));
    const long got = readAt(block.data(), wanted, position_);
    block.resize(static_cast<unsigned int>(got));
    position_ += got;
    return block;
}

void CheckedFileStream::writeBlock(const TagLib::ByteVector& data) {
    if (fd_.get() < 0)
        return;
    if (writeAt(data.data(), static_cast<long>(data.size()), position_))
        position_ += static_cast<long>(data.size());
}

bool CheckedFileStream::moveTail(long from, long to) {
    const long end = length();
    if (failed_ || from >= end || from == to)
        return !failed_;
    std::vector<char> buffer(static_cast<size_t>(std::min(kChunk, end - from)));
    const long size = static_cast<long>(buffer.size());
    if (to > from) {
        // Growing: copy from the end backwards, so nothing is overwritten
        // before it has been read.
        for (long at = end; at > from;) {
            const long n = std::min(size, at - from);
            at -= n;
            if (readAt(buffer.data(), n, at) != n || !writeAt(buffer.data(), n, at + (to - from)))
                return failed_ = true, false;
        }
    } else {
        for (long at = from; at < end;) {
            const long n = std::min(size, end - at);
            if (readAt(buffer.data(), n, at) != n || !writeAt(buffer.data(), n, at - (from - to)))
                return failed_ = true, false;
            at += n;
        }
    }
    return true;
}

void CheckedFileStream::insert(const TagLib::ByteVector& data, unsigned long start, unsigned long replace) {
    if (fd_.get() < 0)
        return;
    const long s = static_cast<long>(start);
    const long r = static_cast<long>(replace);
    const long n = static_cast<long>(data.size());
    if (n > r && !moveTail(s + r, s + n))
        return;
    if (!writeAt(data.data(), n, s))
        return;
    if (n < r)
        removeBlock(static_cast<unsigned long>(s + n), static_cast<unsigned long>(r - n));
    position_ = s + n;
}

void CheckedFileStream::removeBlock(unsigned long start, unsigned long length) {
    if (fd_.get() < 0 || length == 0)
        return;
    const long s = static_cast<long>(start);
    const long end = this->length();
    if (s >= end)
        return;
    const long cut = std::min(static_cast<long>(length), end - s);
    if (moveTail(s + cut, s))
        truncate(end - cut);
    position_ = s;
}

void CheckedFileStream::seek(long offset, Position p) {
    long base = 0;
    if (p == Current)
        base = position_;
    else if (p == End)
        base = length();
    // A position before the start is refused and leaves the position as it
    // was, as a seek on a C stream does.
    if (base + offset >= 0)
        position_ = base + offset;
}

long CheckedFileStream::length() {
    return fd_.get() < 0 ? 0 : std::max(0L, length_ - start_);
}

bool CheckedFileStream::startAfterId3Tag() {
    if (fd_.get() < 0 || writable_)
        return false;
    uint8_t header[10];
    if (readAt(reinterpret_cast<char*>(header), sizeof header, 0) != sizeof header)
        return true;
    const uint64_t size = Id3v2PrefixLength(header, sizeof header);
    if (size > static_cast<uint64_t>(length()))
        return false;
    start_ = static_cast<long>(size);
    position_ = 0;
    return true;
}

void CheckedFileStream::truncate(long length) {
    if (fd_.get() < 0)
        return;
    if (!writable_ || ::ftruncate(fd_.get(), length) != 0)
        failed_ = true;
    else
        length_ = length;
}
