#include "runtime/filehelpers.h"

#include "runtime/errors.h"
#include "runtime/pathhelpers.h"

#include <QCoreApplication>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <cstdio>
#include <string>

namespace {

// The path as lstat wants it: without its trailing "/" (the root stays "/").
std::string StatPath(const QString& path) {
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return SystemPath(p);
}

bool OwnerMayNotWrite(const struct stat& st) {
    return (st.st_mode & S_IWUSR) == 0;
}

// FileAttributes, leaving what lstat read in st.
int ReadAttributes(const QString& path, FileSystemKinds& kinds, struct stat& st);

}  // namespace

int FileAttributes(const QString& path) {
    FileSystemKinds kinds;
    return FileAttributes(path, kinds);
}

int FileAttributes(const QString& path, FileSystemKinds& kinds) {
    struct stat st;
    return ReadAttributes(path, kinds, st);
}

int TryFileAttributes(const QString& path, FileSystemKinds& kinds, struct stat& st) {
    try {
        return ReadAttributes(path, kinds, st);
    } catch (...) {
        return -1;
    }
}

namespace {

int ReadAttributes(const QString& path, FileSystemKinds& kinds, struct stat& st) {
    if (path.isEmpty())
        RaiseError(53);
    const std::string p = StatPath(path);
    if (lstat(p.c_str(), &st) != 0) {
        const int err = errno;
        // A missing parent folder is "Path not found", a missing last part
        // "File not found".
        const QString parent = FolderOfPath(QString::fromStdString(p));
        bool parentMissing = false;
        if (err == ENOENT && !parent.isEmpty()) {
            struct stat pst;
            parentMissing = stat(SystemPath(parent).c_str(), &pst) != 0;
        }
        RaiseError(ErrorNumberForErrno(err, parentMissing || err == ENOTDIR));
    }

    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        if (stat(p.c_str(), &target) == 0 && S_ISDIR(target.st_mode))
            return kAttrHiddenSystemLink;
        int attributes = kAttrReparsePoint | kAttrArchive;
        if (FileNameOfPath(QString::fromStdString(p)).startsWith(QLatin1Char('.')))
            attributes |= kAttrHidden;
        return attributes;
    }

    if (S_ISDIR(st.st_mode) && kinds.IsSystemFolder(p, st))
        return kAttrHiddenSystemFolder;

    int attributes = 0;
    if (S_ISDIR(st.st_mode))
        attributes |= kAttrDirectory;
    else
        attributes |= kAttrArchive;
    const QString name = FileNameOfPath(QFile::decodeName(QByteArray::fromStdString(p)));
    if (name.startsWith(QLatin1Char('.')) && name != QLatin1String(".") && name != QLatin1String(".."))
        attributes |= kAttrHidden;
    if (OwnerMayNotWrite(st))
        attributes |= kAttrReadOnly;
    return attributes;
}

}  // namespace

int TryFileAttributes(const QString& path, int fallback) {
    try {
        return FileAttributes(path);
    } catch (...) {
        return fallback;
    }
}

bool FileExists(const QString& path) {
    if (path.isEmpty())
        return false;
    struct stat st;
    return stat(SystemPath(path).c_str(), &st) == 0;
}

bool IsFolder(const QString& path) {
    const int attributes = TryFileAttributes(path, -1);
    return attributes >= 0 && (attributes & kAttrDirectory) != 0;
}

bool IsSameFile(const QString& a, const QString& b) {
    if (a.isEmpty() || b.isEmpty())
        return false;
    struct stat sa;
    struct stat sb;
    if (::stat(SystemPath(a).c_str(), &sa) != 0 || ::stat(SystemPath(b).c_str(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool IsExistingFile(const QString& path) {
    if (path.isEmpty())
        return false;
    const std::string p = SystemPath(path);
    struct stat st;
    if (stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    const int fd = ::open(p.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

void DeleteFileQuiet(const QString& path) {
    QCoreApplication::processEvents();
    if (!path.isEmpty() && ::unlink(SystemPath(path).c_str()) == 0)
        return;
    try {
        DeleteFileForced(path);
    } catch (...) {
        // The caller tests for the file afterwards.
    }
}

void DeleteFileForced(const QString& path) {
    if (path.isEmpty())
        RaiseError(53);
    const std::string p = SystemPath(path);
    struct stat st;
    if (lstat(p.c_str(), &st) != 0)
        RaiseErrno(errno);
    if (S_ISDIR(st.st_mode))
        RaiseError(53);
    if (::unlink(p.c_str()) != 0)
        RaiseErrno(errno);
}

void CopyFileChecked(const QString& source, const QString& destination) {
    try {
        if (source.trimmed().isEmpty() || destination.trimmed().isEmpty())
            return;
        // "?" and "*" are ordinary characters of a name here, never
        // wildcards: a copy only ever goes from the one file named.
        const QString s = NormalizePath(source);
        const QString d = NormalizePath(destination);
        if (IsExistingFile(s) && IsFolder(FolderOfPath(d)))
            CopyFileQuiet(s, d);
    } catch (...) {
        // Never passed on: the caller tests for the copy.
    }
}

void CopyFileQuiet(const QString& source, const QString& destination) {
    try {
        if (source.isEmpty() || destination.isEmpty())
            return;
        QString target = destination;
        if (target.endsWith(QLatin1Char('/')))
            target += FileNameOfPath(source);
        const std::string d = SystemPath(target);

        const int in = OpenRegularSource(source);
        if (in < 0)
            return;
        struct stat sst;
        struct stat dst;
        if (::fstat(in, &sst) != 0 || (stat(d.c_str(), &dst) == 0 &&
                                       // a folder or a read-only file is not replaced, and copying a
                                       // file onto itself would only risk it
                                       (!S_ISREG(dst.st_mode) || OwnerMayNotWrite(dst) ||
                                        (dst.st_dev == sst.st_dev && dst.st_ino == sst.st_ino)))) {
            ::close(in);
            return;
        }

        std::string temp = SystemPath(FolderOfPath(target)) + ".brenvale-copy-XXXXXX";
        if (FolderOfPath(target).isEmpty())
            temp = ".brenvale-copy-XXXXXX";
        const int out = ::mkstemp(temp.data());
        if (out < 0) {
            ::close(in);
            return;
        }
        const mode_t mask = ::umask(0);
        ::umask(mask);
        bool readFailed = false;
        bool ok = ::fchmod(out, 0666 & ~mask) == 0 && CopyContents(in, out, readFailed) == 0;
        ok = (::close(out) == 0) && ok;
        ::close(in);
        if (!ok || ::rename(temp.c_str(), d.c_str()) != 0)
            ::unlink(temp.c_str());
    } catch (...) {
    }
}

void WriteBytesToFile(const QByteArray& bytes, const QString& path) {
    if (path.isEmpty())
        RaiseError(75);
    const std::string p = SystemPath(path);
    const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0)
        RaiseErrno(errno, errno == ENOENT);
    if (const int err = WriteFully(fd, bytes)) {
        ::close(fd);
        RaiseErrno(err);
    }
    if (::close(fd) != 0)
        RaiseErrno(errno);
}
