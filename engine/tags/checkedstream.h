#pragma once
// A TagLib stream over an open file descriptor that remembers the first
// failed read or write. TagLib's own file stream drops short writes without
// a word, so a full disk would leave a half-written file that TagLib reports
// as saved; this stream lets the caller see the failure and throw the file
// away.
#include "common/uniquefd.h"

#include <taglib/tiostream.h>

#include <string>

class CheckedFileStream : public TagLib::IOStream {
public:
    // Opens path for reading (never through a symbolic link, never blocking
    // on a FIFO); only a regular file is accepted. isOpen() tells whether it
    // worked.
    explicit CheckedFileStream(const std::string& path);
    // Takes over fd, a file open for reading and writing (or, without
    // writable, for reading), named path.
    CheckedFileStream(int fd, const std::string& path, bool writable = true);
    ~CheckedFileStream() override;

    CheckedFileStream(const CheckedFileStream&) = delete;
    CheckedFileStream& operator=(const CheckedFileStream&) = delete;

    // Some tools put an ID3v2 tag in front of an ASF file. When the file
    // starts with one, the stream from now on starts right after it: offset
    // 0 is the first byte behind the tag. False when the tag claims more
    // than the file holds. For a file opened for reading.
    bool startAfterId3Tag();

    // True once a read, write, seek or truncation has failed.
    bool failed() const { return failed_; }

    // Closes the file; false when closing failed or anything failed before.
    bool close();

    TagLib::FileName name() const override { return path_.c_str(); }
    TagLib::ByteVector readBlock(unsigned long length) override;
    void writeBlock(const TagLib::ByteVector& data) override;
    void insert(const TagLib::ByteVector& data, unsigned long start = 0, unsigned long replace = 0) override;
    void removeBlock(unsigned long start = 0, unsigned long length = 0) override;
    bool readOnly() const override { return !writable_; }
    bool isOpen() const override { return fd_.get() >= 0; }
    void seek(long offset, Position p = Beginning) override;
    long tell() const override { return position_; }
    long length() override;
    void truncate(long length) override;

private:
    // Reads or writes count bytes at offset, going on after partial
    // transfers; a failure (or, for reads, the end of the file) ends early.
    long readAt(char* buffer, long count, long offset);
    bool writeAt(const char* buffer, long count, long offset);
    // Moves the bytes from offset `from` to the end of the file so that they
    // start at `to`.
    bool moveTail(long from, long to);

    std::string path_;
    UniqueFd fd_;
    bool writable_ = false;
    bool failed_ = false;
    long position_ = 0;
    // The file's size, asked of the system once when the stream opens and
    // kept by the stream's own writes after that: TagLib asks for it on
    // every read, and nobody else writes the file meanwhile.
    long length_ = 0;
    long start_ = 0;  // where offset 0 of the stream lies in the file
};
