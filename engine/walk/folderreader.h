#pragma once
// A folder opened for reading its entries.
#include "common/uniquefd.h"

#include <QByteArray>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <type_traits>

// A folder opened for reading its entries in large batches: one system call
// per batch of entries, none per entry.
class FolderReader {
public:
    explicit FolderReader(const QByteArray& path)
        : fd_(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
          error_(fd_.get() < 0 ? errno : 0) {}
    // The folder name in the folder open at parent; a link there is
    // followed only with followLink.
    FolderReader(int parent, const char* name, bool followLink)
        : fd_(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW))),
          error_(fd_.get() < 0 ? errno : 0) {}

    int fd() const { return fd_.get(); }
    int openError() const { return error_; }

    // Calls onEntry(name, length, type) for every entry but "." and "..",
    // type being the entry's d_type (and, for a caller that takes a fourth
    // argument, the entry's inode number as the listing gives it). Returns 0
    // once every entry has been read, or the errno of a failed read.
    template <typename OnEntry>
    int ForEach(OnEntry&& onEntry) {
        const std::unique_ptr<char[]> buffer(new char[kBufferSize]);
        for (;;) {
            const ssize_t n = ::getdents64(fd_.get(), buffer.get(), kBufferSize);
            if (n == 0)
                return 0;
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            for (ssize_t at = 0; at < n;) {
                const auto* entry = reinterpret_cast<const struct dirent64*>(buffer.get() + at);
                at += entry->d_reclen;
                const char* name = entry->d_name;
                if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                    continue;
                if constexpr (std::is_invocable_v<OnEntry, const char*, size_t, unsigned char, ino_t>)
                    onEntry(name, std::strlen(name), entry->d_type, static_cast<ino_t>(entry->d_ino));
                else
                    onEntry(name, std::strlen(name), entry->d_type);
            }
        }
    }

private:
    static constexpr size_t kBufferSize = 64 * 1024;
    UniqueFd fd_;
    int error_;
};

