#include "convert/resultsave.h"

#include "system/fileio.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

constexpr size_t kSuffixLength = 6;
// A temporary name younger than this is never taken for a leftover: its
// writer may not have locked it yet (it does so right after making it). FAT
// keeps times to 2 seconds.
constexpr time_t kStaleAfterSeconds = 3;

QByteArray RandomPartName() {
    return kResultPartPrefix +
           RandomLetters(static_cast<int>(kSuffixLength),
                         "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
}

int NewPart(int folder, ResultPart::Part& part) {
    part.fd.reset(::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
    if (part.fd.get() >= 0)
        return 0;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return errno;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = RandomPartName();
        part.fd.reset(
            ::openat(folder, name.constData(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (part.fd.get() >= 0) {
            part.temp = name;
            // Held until the file is closed: the name is nobody's leftover.
            ::flock(part.fd.get(), LOCK_EX);
            return 0;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

int CopyInto(int from, int to) {
    std::vector<char> buffer(1 << 20);
    off_t at = 0;
    for (;;) {
        const ssize_t got = ::pread(from, buffer.data(), buffer.size(), at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            break;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(to, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return put < 0 ? errno : ENOSPC;
            done += put;
        }
        at += got;
    }
    return 0;
}

// Gives the part the name, which must be free. Returns 0 or the errno.
int LinkPart(int folder, ResultPart::Part& part, const QByteArray& name) {
    if (part.temp.isEmpty()) {
        char self[64];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", part.fd.get());
        if (::linkat(AT_FDCWD, self, folder, name.constData(), AT_SYMLINK_FOLLOW) == 0)
            return 0;
        if (errno != ENOENT)
            return errno;
        // No /proc: the descriptor itself (needs the right to do so).
        return ::linkat(part.fd.get(), "", folder, name.constData(), AT_EMPTY_PATH) == 0 ? 0 : errno;
    }
    if (::renameat2(folder, part.temp.constData(), folder, name.constData(), RENAME_NOREPLACE) == 0) {
        part.temp.clear();
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    if (::linkat(folder, part.temp.constData(), folder, name.constData(), 0) == 0) {
        ::unlinkat(folder, part.temp.constData(), 0);
        part.temp.clear();
        return 0;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP)
        return errno;
    // A file system with neither (FAT on a memory stick): looked at, then
    // renamed; only a writer at that very moment could come in between.
    struct stat st;
    if (::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    if (::renameat(folder, part.temp.constData(), folder, name.constData()) != 0)
        return errno;
    part.temp.clear();
    return 0;
}

// Puts the part in the place of what stands at name.
int ReplaceWithPart(int folder, ResultPart::Part& part, const QByteArray& name) {
    if (part.temp.isEmpty()) {
        for (int attempt = 0; attempt < 100 && part.temp.isEmpty(); ++attempt) {
            const QByteArray temp = RandomPartName();
            // Locked before it has a name, so no clean-up takes it.
            ::flock(part.fd.get(), LOCK_EX);
            const int err = LinkPart(folder, part, temp);
            if (err == 0)
                part.temp = temp;
            else if (err != EEXIST)
                return err;
        }
        if (part.temp.isEmpty())
            return EEXIST;
    }
    if (::renameat(folder, part.temp.constData(), folder, name.constData()) != 0) {
        const int err = errno;
        ::unlinkat(folder, part.temp.constData(), 0);
        part.temp.clear();
        return err;
    }
    part.temp.clear();
    return 0;
}

SaveOutcome Failure(SaveStatus status, const QByteArray& problem) {
    SaveOutcome outcome;
    outcome.status = status;
    outcome.problem = problem;
    return outcome;
}

SaveOutcome SystemFailure(int err) {
    SaveOutcome outcome = Failure(err == ENOSPC || err == EDQUOT ? SaveStatus::NoSpace : SaveStatus::Failed,
                                  std::strerror(err));
    outcome.error = err;
    return outcome;
}

}  // namespace

QByteArray ResultSourceOf(int folder, const QByteArray& name) {
    const int fd = ::openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return QByteArray();
    QByteArray value(4096, Qt::Uninitialized);
    struct stat st;
    ssize_t length = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
        length = ::fgetxattr(fd, kResultSourceAttribute, value.data(), static_cast<size_t>(value.size()));
    ::close(fd);
    if (length <= 0)
        return QByteArray();
    value.truncate(length);
    return value;
}

ResultPart::~ResultPart() {
    if (!part_.temp.isEmpty())
        ::unlinkat(folder_, part_.temp.constData(), 0);
}

int ResultPart::Make(int folder) {
    folder_ = folder;
    return NewPart(folder, part_);
}

SaveOutcome ResultPart::Link(const ResultName& name, const QByteArray& source, const SavePolicy& policy) {
    const int folder = folder_;
    Part& part = part_;
    // Whole on the disk before it has a name.
    if (::fdatasync(part.fd.get()) != 0 && errno != EINVAL)
        return SystemFailure(errno);
    // A file system without extended attributes keeps the result without
    // its source here: the output folder's ledger records it all the same.
    ::fsetxattr(part.fd.get(), kResultSourceAttribute, source.constData(), static_cast<size_t>(source.size()),
                0);
    const auto owner = [&](const QByteArray& candidate) {
        if (policy.ownerOf)
            return policy.ownerOf(candidate);
        const QByteArray recorded = ResultSourceOf(folder, candidate);
        return recorded.isEmpty() ? ResultOwner::Nobody
                                  : recorded == source ? ResultOwner::ThisSource : ResultOwner::OtherSource;
    };
    const auto dropPart = [&]() {
        if (!part.temp.isEmpty())
            ::unlinkat(folder, part.temp.constData(), 0);
        part.temp.clear();
    };
    int k = name.k;
    QByteArray candidate = name.At(k);
    ResultOwner heldBy = ResultOwner::ThisSource;
    for (int looks = 0; looks < 10000; ++looks) {
        const bool planned = k == name.k;
        int err = LinkPart(folder, part, candidate);
        if (err == EEXIST) {
            struct stat st;
            if (::fstatat(folder, candidate.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;  // gone meanwhile: the name is tried again
            const bool mine = st.st_uid == ::geteuid();
            if (S_ISDIR(st.st_mode) && planned) {
                err = EISDIR;
            } else if (!mine && planned && !policy.replaceOthers) {
                dropPart();
                return Failure(SaveStatus::ForeignEntry, S_ISLNK(st.st_mode) ? "another user's link stands at"
                                                                             : "another user's file stands at");
            } else {
                // Who made what stands there, for any entry that may be
                // replaced at all.
                const bool asked = !S_ISDIR(st.st_mode) && (mine || policy.replaceOthers);
                const ResultOwner who = asked ? owner(candidate) : ResultOwner::Nobody;
                if (who == ResultOwner::Refused && planned) {
                    dropPart();
                    return Failure(SaveStatus::Failed, "a file that is not to be replaced stands at the name");
                }
                const bool replace =
                    !S_ISDIR(st.st_mode) &&
                    ((mine && (who == ResultOwner::ThisSource ||
                               (who == ResultOwner::Nobody && planned && policy.replaceUsersFiles))) ||
                     (!mine && planned && policy.replaceOthers && who != ResultOwner::Refused));
                if (replace) {
                    err = ReplaceWithPart(folder, part, candidate);
                } else {
                    if (planned)
                        heldBy = who;
                    do
                        candidate = name.At(++k);
                    while (policy.reserved && policy.reserved(candidate));
                    continue;
                }
            }
        }
        if (err == EISDIR) {
            dropPart();
            return Failure(SaveStatus::ForeignEntry, "a folder stands at");
        }
        if (err != 0) {
            dropPart();
            return SystemFailure(err);
        }
        SaveOutcome saved;
        saved.status = SaveStatus::Saved;
        saved.name = candidate;
        saved.heldBy = heldBy;
        // The time is set once the file is closed: some file systems (FUSE
        // drivers) set it anew when the last writer lets go.
        part.fd.reset();
        if (policy.modified >= 0) {
            const struct timespec times[2] = {{0, UTIME_NOW},
                                              {static_cast<time_t>(policy.modified / 1000000000),
                                               static_cast<long>(policy.modified % 1000000000)}};
            ::utimensat(folder, candidate.constData(), times, AT_SYMLINK_NOFOLLOW);
        }
        struct stat made;
        if (::fstatat(folder, candidate.constData(), &made, AT_SYMLINK_NOFOLLOW) == 0) {
            saved.size = static_cast<qint64>(made.st_size);
            saved.time = static_cast<qint64>(made.st_mtim.tv_sec) * 1000000000 + made.st_mtim.tv_nsec;
        }
        return saved;
    }
    dropPart();
    return Failure(SaveStatus::Failed, "no free name");
}

SaveOutcome SaveResultFile(int folder, const ResultName& name, int result, const QByteArray& source,
                           const SavePolicy& policy) {
    ResultPart part;
    if (const int err = part.Make(folder))
        return SystemFailure(err);
    if (const int err = CopyInto(result, part.fd()))
        return SystemFailure(err);
    return part.Link(name, source, policy);
}

void RemoveStaleParts(int folder) {
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    const size_t prefix = std::strlen(kResultPartPrefix);
    std::vector<QByteArray> names;
    while (const struct dirent* entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, kResultPartPrefix, prefix) == 0 &&
            std::strlen(entry->d_name) == prefix + kSuffixLength)
            names.emplace_back(entry->d_name);
    }
    const time_t now = std::time(nullptr);
    for (const QByteArray& name : names) {
        const int part = ::openat(fd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (part < 0)
            continue;
        struct stat st, named;
        if (::fstat(part, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            now - st.st_mtime >= kStaleAfterSeconds && ::flock(part, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(fd, name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_ino == st.st_ino &&
            named.st_dev == st.st_dev)
            ::unlinkat(fd, name.constData(), 0);
        ::close(part);
    }
    ::closedir(dir);
}
