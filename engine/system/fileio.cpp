#include "system/fileio.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

bool IsTmpfsMountOfType(dev_t device, const char* wantedType) {
    FILE* mountinfo = std::fopen("/proc/self/mountinfo", "re");
    if (!mountinfo)
        return false;
    bool found = false;
    char line[4096];
    while (!found && std::fgets(line, sizeof line, mountinfo)) {
        unsigned major = 0, minor = 0;
        if (std::sscanf(line, "%*s %*s %u:%u", &major, &minor) != 2)
            continue;
        if (makedev(major, minor) != device)
            continue;
        const char* separator = std::strstr(line, " - ");
        if (!separator)
            continue;
        char type[64] = {0};
        if (std::sscanf(separator + 3, "%63s", type) == 1 && std::strcmp(type, wantedType) == 0)
            found = true;
    }
    std::fclose(mountinfo);
    return found;
}

// The kernel's pseudo file systems: their folders are no place for the walk
// to enter, and their files are no audio (reading some, such as /proc/kmsg,
// waits for ever). devtmpfs shares tmpfs's type; the mount table tells it.
bool IsPseudoFileSystemType(unsigned long type) {
    switch (type) {
        case 0x9fa0:      // proc
        case 0x62656572:  // sysfs
        case 0x1cd1:      // devpts
        case 0x27e0eb:    // cgroup
        case 0x63677270:  // cgroup2
        case 0x64626720:  // debugfs
        case 0x74726163:  // tracefs
        case 0x73636673:  // securityfs
        case 0x62656570:  // configfs
        case 0x6165676c:  // pstore
        case 0xcafe4a11:  // bpf
        case 0xde5e81e4:  // efivarfs
        case 0x19800202:  // mqueue
        case 0x958458f6:  // hugetlbfs
        case 0x65735543:  // fusectl
            return true;
        default:
            return false;
    }
}

constexpr unsigned long kTmpfsMagic = 0x01021994;

}  // namespace

std::string SystemPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QByteArray RandomLetters(int count, const char* alphabet) {
    const size_t letters = std::strlen(alphabet);
    QByteArray name(count, Qt::Uninitialized);
    unsigned char random[64];
    const size_t wanted = std::min(sizeof random, static_cast<size_t>(count));
    if (::getrandom(random, wanted, 0) != static_cast<ssize_t>(wanted)) {
        // No random source: the time, the process and a count of the calls,
        // so that the names of one process still differ.
        static std::atomic<unsigned> calls{0};
        unsigned seed = static_cast<unsigned>(std::time(nullptr)) ^
                        static_cast<unsigned>(::getpid()) * 2654435761u ^ calls++ * 40503u;
        for (size_t i = 0; i < wanted; ++i) {
            seed = seed * 1103515245u + 12345u;
            random[i] = static_cast<unsigned char>(seed >> 16);
        }
    }
    for (int i = 0; i < count; ++i)
        name[i] = alphabet[random[static_cast<size_t>(i) % wanted] % letters];
    return name;
}

bool FileSystemKinds::KnownKind(dev_t device, const char* path, int fd, Kind& kind) {
    const auto known = kinds_.find(device);
    if (known != kinds_.end()) {
        kind = known->second;
        return true;
    }
    struct statfs fs;
    if ((path ? statfs(path, &fs) : fstatfs(fd, &fs)) != 0)
        return false;
    const auto type = static_cast<unsigned long>(fs.f_type);
    kind = kReal;
    if (IsPseudoFileSystemType(type))
        kind = kPseudo;
    else if (type == kTmpfsMagic)
        kind = IsTmpfsMountOfType(device, "devtmpfs") ? kDevtmpfs : kTmpfs;
    kinds_.emplace(device, kind);
    return true;
}

bool FileSystemKinds::IsSystemFolder(const std::string& path, const struct stat& st) {
    Kind kind;
    if (!KnownKind(st.st_dev, path.c_str(), -1, kind))
        return false;
    if (kind != kDevtmpfs)
        return kind == kPseudo;
    // Only the top of a devtmpfs mount counts: the walk never enters a system
    // folder, so it never meets the folders below one.
    struct stat parent;
    return !(lstat((path + "/..").c_str(), &parent) == 0 && parent.st_dev == st.st_dev);
}

bool FileSystemKinds::IsOnPseudoFileSystem(int folderFd) {
    struct statfs fs;
    if (fstatfs(folderFd, &fs) != 0)
        return false;
    const auto type = static_cast<unsigned long>(fs.f_type);
    if (IsPseudoFileSystemType(type))
        return true;
    if (type != kTmpfsMagic)
        return false;
    struct stat st;
    return fstat(folderFd, &st) == 0 && IsOnPseudoFileSystem(folderFd, st.st_dev);
}

bool FileSystemKinds::IsOnPseudoFileSystem(int folderFd, dev_t device) {
    Kind kind;
    return KnownKind(device, nullptr, folderFd, kind) && (kind == kPseudo || kind == kDevtmpfs);
}

int OpenRegularSource(const QString& path) {
    return OpenRegularSource(SystemPath(path).c_str());
}

int OpenRegularSource(const char* p) {
    if (*p == '\0') {
        errno = ENOENT;
        return -1;
    }
    // Looked at before it is opened: opening a FIFO waits for a writer, and
    // opening a device can act on it.
    struct stat st;
    if (::stat(p, &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return -1;
    }
    struct statfs fs;
    if (::statfs(p, &fs) != 0)
        return -1;
    if (IsPseudoFileSystemType(static_cast<unsigned long>(fs.f_type))) {
        errno = EINVAL;
        return -1;
    }
    const int fd = ::open(p, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    // The file opened must be the one looked at, and it must hold data
    // rather than stand for the kernel's state.
    struct stat opened;
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_dev != st.st_dev ||
        opened.st_ino != st.st_ino || ::fstatfs(fd, &fs) != 0 ||
        IsPseudoFileSystemType(static_cast<unsigned long>(fs.f_type))) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    // Reads of a regular file never wait for a writer; the descriptor goes
    // back to blocking so that short reads are not taken for the end.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

namespace {

bool IsNoRoomError(int err) {
    return err == ENOSPC || err == EDQUOT || err == EFBIG || err == EROFS;
}

}  // namespace

// Copies everything from in to out, both at their start. Returns the errno
// of a failure, 0 on success; readFailed tells which side failed. between,
// when given, is called after each chunk.
int CopyContents(int in, int out, bool& readFailed, const std::function<void()>& between) {
    readFailed = false;
    // The kernel copies without a trip through user space where it can; in
    // small steps when the caller wants to hear between them.
    const size_t step = between ? size_t(8) << 20 : size_t(1) << 30;
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, step, 0);
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (IsNoRoomError(errno))
                return errno;  // copying the other way would fail alike
            break;
        }
        if (between)
            between();
    }
    if (::lseek(in, 0, SEEK_SET) != 0 || ::ftruncate(out, 0) != 0 || ::lseek(out, 0, SEEK_SET) != 0)
        return errno;
    static constexpr size_t kChunk = 1 << 20;
    std::string buffer(kChunk, '\0');
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), kChunk);
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            readFailed = true;
            return errno;
        }
        if (const int err = WriteFully(out, buffer.data(), static_cast<size_t>(n)))
            return err;
        if (between)
            between();
    }
}

NewCopy CopyDescriptorIntoNewFile(int in, const QString& destination, const std::function<void()>& between) {
    const std::string d = SystemPath(destination);
    if (in < 0 || ::lseek(in, 0, SEEK_SET) != 0)
        return NewCopy::SourceUnusable;
    const int out =
        destination.isEmpty()
            ? -1
            : ::open(d.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
    if (out < 0)
        return NewCopy::DestinationFailed;
    bool readFailed = false;
    const int err = CopyContents(in, out, readFailed, between);
    const bool closed = ::close(out) == 0;
    if (err == 0 && closed)
        return NewCopy::Made;
    ::unlink(d.c_str());
    return readFailed ? NewCopy::SourceUnusable : NewCopy::DestinationFailed;
}

NewCopy CopyIntoNewFile(const QString& source, const QString& destination,
                        const std::function<void()>& between) {
    const int in = OpenRegularSource(source);
    if (in < 0)
        return NewCopy::SourceUnusable;
    const NewCopy copy = CopyDescriptorIntoNewFile(in, destination, between);
    ::close(in);
    return copy;
}

ssize_t ReadAt(int fd, void* buffer, size_t size, off_t offset) {
    char* at = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, at + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

int WriteFully(int fd, const void* data, size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t w = ::write(fd, at, size);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return w < 0 ? errno : EIO;
        at += w;
        size -= static_cast<size_t>(w);
    }
    return 0;
}

int WriteFully(int fd, const QByteArray& bytes) {
    return WriteFully(fd, bytes.constData(), static_cast<size_t>(bytes.size()));
}

QByteArray CurrentFolderBytes() {
    const QByteArray pwd = qgetenv("PWD");
    struct stat a, b;
    // Latin-1 maps each byte to one character, so the tidying keeps any
    // bytes as they are.
    if (pwd.startsWith('/') && QDir::cleanPath(QString::fromLatin1(pwd)).toLatin1() == pwd &&
        ::stat(pwd.constData(), &a) == 0 && ::stat(".", &b) == 0 && a.st_dev == b.st_dev &&
        a.st_ino == b.st_ino)
        return pwd;
    char* real = ::getcwd(nullptr, 0);
    const QByteArray folder = real ? QByteArray(real) : QFile::encodeName(QDir::currentPath());
    std::free(real);
    return folder;
}

