#include "system/safepath.h"

#include <QByteArrayList>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>

namespace {

// As many links as the kernel follows in one path before it gives up.
constexpr int kMostLinks = 40;

void PushParts(std::deque<QByteArray>& parts, const QByteArray& path) {
    const QList<QByteArray> split = path.split('/');
    for (auto it = split.crbegin(); it != split.crend(); ++it) {
        if (!it->isEmpty() && *it != ".")
            parts.push_front(*it);
    }
}

QByteArray Joined(const QByteArray& folder, const QByteArray& name) {
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

}  // namespace

bool MayFollowLink(const struct stat& link, const struct stat& folder) {
    if (link.st_uid == ::geteuid() || link.st_uid == 0)
        return true;
    const bool othersMayWrite = (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    return link.st_uid == folder.st_uid && (!othersMayWrite || (folder.st_mode & S_ISVTX) != 0);
}

int OpenFolderSafely(const QByteArray& path, bool make, QByteArray* problem, int* errnum) {
    const int root = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        if (errnum)
            *errnum = errno;
        *problem = "/: " + QByteArray(std::strerror(errno));
        return -1;
    }
    const int fd = OpenFolderSafelyAt(root, path, make, QByteArray(), problem, errnum);
    ::close(root);
    return fd;
}

int OpenFolderSafelyAt(int base, const QByteArray& relative, bool make, const QByteArray& shown,
                       QByteArray* problem, int* errnum, bool ownFoldersOnly) {
    int current = ::fcntl(base, F_DUPFD_CLOEXEC, 0);
    QByteArray where = shown;
    const auto fail = [&](const QByteArray& text, int err) {
        if (current >= 0)
            ::close(current);
        if (errnum)
            *errnum = err;
        *problem = text;
        return -1;
    };
    if (current < 0)
        return fail(where + ": " + std::strerror(errno), errno);
    std::deque<QByteArray> parts;
    PushParts(parts, relative);
    int links = 0;
    int madeTries = 0;
    while (!parts.empty()) {
        const QByteArray name = parts.front();
        parts.pop_front();
        const QByteArray here = Joined(where, name);
        const int next = ::openat(current, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat entered;
        if (next >= 0 && ownFoldersOnly &&
            (::fstat(next, &entered) != 0 || (entered.st_uid != ::geteuid() && entered.st_uid != 0))) {
            ::close(next);
            return fail("folder of another user: " + here, EACCES);
        }
        if (next >= 0) {
            ::close(current);
            current = next;
            where = here;
            madeTries = 0;
            continue;
        }
        const int err = errno;
        if (err == ENOENT && make && ++madeTries < 8) {
            // Made here, or by someone else at the same moment: either way
            // it is looked at again as any other entry.
            if (::mkdirat(current, name.constData(), 0777) != 0 && errno != EEXIST)
                return fail(here + ": " + std::strerror(errno), errno);
            parts.push_front(name);
            continue;
        }
        struct stat entry;
        if ((err != ELOOP && err != ENOTDIR) ||
            ::fstatat(current, name.constData(), &entry, AT_SYMLINK_NOFOLLOW) != 0)
            return fail(here + ": " + std::strerror(err), err);
        if (!S_ISLNK(entry.st_mode))
            return fail("not a folder: " + here, ENOTDIR);
        struct stat folder;
        if (::fstat(current, &folder) != 0)
            return fail(where + ": " + std::strerror(errno), errno);
        if (!MayFollowLink(entry, folder))
            return fail("link of another user: " + here, 0);
        if (++links > kMostLinks)
            return fail(here + ": " + std::strerror(ELOOP), ELOOP);
        QByteArray target(4096, Qt::Uninitialized);
        const ssize_t length = ::readlinkat(current, name.constData(), target.data(), target.size());
        struct stat again;
        // The link read must be the one judged: a swap in between is refused.
        if (length <= 0 || length >= target.size() ||
            ::fstatat(current, name.constData(), &again, AT_SYMLINK_NOFOLLOW) != 0 ||
            again.st_ino != entry.st_ino || again.st_dev != entry.st_dev || again.st_uid != entry.st_uid)
            return fail("link of another user: " + here, 0);
        target.truncate(length);
        PushParts(parts, target);
        where = here;
        if (target.startsWith('/')) {
            const int root = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (root < 0)
                return fail(here + ": " + std::strerror(errno), errno);
            ::close(current);
            current = root;
        }
    }
    return current;
}
