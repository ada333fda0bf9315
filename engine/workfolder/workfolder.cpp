#include "workfolder/workfolder.h"

#include "system/fileio.h"

#include <QFile>
#include <QLockFile>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

QString HomeFolder() {
    const QString home = QFile::decodeName(qgetenv("HOME"));
    if (!home.isEmpty())
        return home;
    if (const struct passwd* pw = ::getpwuid(::getuid()))
        return QFile::decodeName(pw->pw_dir);
    return QString();
}

// Creates each missing folder of path with mode 0700.
void MakePrivateFolders(const QString& path) {
    QString sofar;
    const QStringList parts = path.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        sofar += parts.at(i);
        if (!parts.at(i).isEmpty())
            ::mkdir(SystemPath(sofar).c_str(), 0700);
        if (i + 1 < parts.size())
            sofar += QLatin1Char('/');
    }
}

// The real path of an existing folder (links, "." and ".." resolved), or ""
// when there is none.
std::string RealPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return std::string();
    std::string result(real);
    std::free(real);
    return result;
}

bool OwnedByUserOrRoot(const struct stat& st) {
    return st.st_uid == ::geteuid() || st.st_uid == 0;
}

// True when no other user can rename away or replace an entry of the real
// path folder: it is owned by the user or by root and is either closed to
// writes by group and others, or sticky (where only an entry's owner may
// rename or remove it).
bool HoldsEntriesSafely(const std::string& folder) {
    struct stat st;
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !OwnedByUserOrRoot(st))
        return false;
    return (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (st.st_mode & S_ISVTX) != 0;
}

// True when every folder above the real path folder holds its entries
// safely, so that nothing on the way to it can be swapped by another user.
bool SafeWayTo(const std::string& folder) {
    std::string above = folder;
    while (above.size() > 1) {
        const size_t slash = above.rfind('/');
        above = slash == 0 ? std::string("/") : above.substr(0, slash);
        if (!HoldsEntriesSafely(above))
            return false;
    }
    return true;
}

// True when the real path folder is a folder of the user's that neither
// group nor others may write, on a safe way (SafeWayTo). With tighten, a
// folder of the user's that others may write is closed to mode 0700 first.
bool IsPrivateFolder(const std::string& folder, bool tighten) {
    struct stat st;
    if (folder.empty() || ::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid())
        return false;
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        if (!tighten || ::chmod(folder.c_str(), 0700) != 0)
            return false;
    }
    return SafeWayTo(folder);
}

// The work folder, or "" with *lastTried set to the last folder tried.
QString ChooseWorkFolder(QString* lastTried) {
    const QString temp = QFile::decodeName(qgetenv("TEMP"));
    if (temp.startsWith(QLatin1Char('/'))) {
        const std::string real = RealPath(SystemPath(temp));
        if (IsPrivateFolder(real, false))
            return QFile::decodeName(QByteArray::fromStdString(real));
        if (!real.empty() && HoldsEntriesSafely(real) && SafeWayTo(real)) {
            // A shared folder, or another user's: a private one of the
            // user's own inside it.
            const std::string own =
                (real == "/" ? std::string() : real) + "/brenvale-" + std::to_string(::geteuid());
            ::mkdir(own.c_str(), 0700);
            if (IsPrivateFolder(own, true))
                return QFile::decodeName(QByteArray::fromStdString(own));
            *lastTried = QFile::decodeName(QByteArray::fromStdString(own));
        }
    }

    // XDG asks to ignore a relative XDG_CACHE_HOME.
    QString cache = QFile::decodeName(qgetenv("XDG_CACHE_HOME"));
    if (!cache.startsWith(QLatin1Char('/')))
        cache = HomeFolder() + QStringLiteral("/.cache");
    const QString folder = cache + QStringLiteral("/brenvale/work");
    *lastTried = folder;
    MakePrivateFolders(folder);
    const std::string real = RealPath(SystemPath(folder));
    if (IsPrivateFolder(real, true))
        return QFile::decodeName(QByteArray::fromStdString(real));
    return QString();
}

// Each job's private folder under the work folder: this prefix and a unique
// ending.
constexpr char kJobFolderPrefix[] = "batch-job-";

// Removes a job's private folder: only files are ever made in it.
void RemoveJobFolder(const std::string& folder) {
    if (DIR* dir = ::opendir(folder.c_str())) {
        std::vector<std::string> names;
        while (const struct dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
        for (const std::string& name : names)
            ::unlink((folder + "/" + name).c_str());
    }
    ::rmdir(folder.c_str());
}

// A job holds a lock on its folder (flock on the folder itself) for as long
// as it works there. Returns the locked folder's descriptor, or -1 when the
// lock is held elsewhere or the name no longer leads to that folder, our
// own: a folder that another batch removed while this one waited for it.
int LockJobFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat held, named;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 && held.st_nlink > 0 &&
        held.st_uid == ::geteuid() && ::lstat(folder.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino)
        return fd;
    ::close(fd);
    return -1;
}

}  // namespace

QString WorkFolder() {
    QString lastTried;
    return ChooseWorkFolder(&lastTried);
}

QString WorkFolderForMessages() {
    QString lastTried;
    const QString folder = ChooseWorkFolder(&lastTried);
    return folder.isEmpty() ? lastTried : folder;
}

QString WorkPath(const QString& name) {
    const QString folder = WorkFolder();
    if (folder.isEmpty())
        return QString();
    return folder + QLatin1Char('/') + name;
}

WorkFolderLock::WorkFolderLock() = default;

WorkFolderLock::~WorkFolderLock() {
    release();
}

WorkFolderLock::Outcome WorkFolderLock::acquire(const QString& workFolder) {
    release();
    // The lock lives in the work folder, which only this user can write, so
    // no other user can plant a lock that holds every run off.
    if (workFolder.isEmpty())
        return Unavailable;
    const QString path = workFolder + QLatin1Char('/') + QLatin1String(kWorkLockName);
    lock_ = std::make_unique<QLockFile>(path);
    // A run lasts as long as its files take; only a holder that is no longer
    // running makes a lock stale, never the lock's age.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0))
        return Acquired;
    const QLockFile::LockError error = lock_->error();
    lock_.reset();
    return error == QLockFile::LockFailedError ? HeldElsewhere : Unavailable;
}

void WorkFolderLock::release() {
    if (lock_) {
        lock_->unlock();
        lock_.reset();
    }
}

bool WorkFolderLock::held() const {
    return lock_ && lock_->isLocked();
}

JobFolder::JobFolder(const QString& workFolder) {
    for (int attempt = 0; attempt < 3 && lock_.get() < 0 && !workFolder.isEmpty(); ++attempt) {
        std::string folder = SystemPath(workFolder) + "/" + kJobFolderPrefix + "XXXXXX";
        if (!::mkdtemp(folder.data()))
            break;
        // A batch starting at this moment may have taken the new folder for
        // a stale one; it removes it, and the job makes another.
        lock_.reset(LockJobFolder(folder));
        if (lock_.get() < 0)
            ::rmdir(folder.c_str());
        else
            path_ = QFile::decodeName(QByteArray::fromStdString(folder));
    }
}

// Removed while still locked: a batch starting meanwhile leaves it alone.
JobFolder::~JobFolder() {
    if (lock_.get() >= 0)
        RemoveJobFolder(SystemPath(path_));
}

void RemoveStaleJobFolders(const QString& workFolder) {
    const std::string work = SystemPath(workFolder);
    std::vector<std::string> folders;
    if (DIR* dir = ::opendir(work.c_str())) {
        while (const struct dirent* entry = ::readdir(dir))
            if (std::strncmp(entry->d_name, kJobFolderPrefix, std::strlen(kJobFolderPrefix)) == 0)
                folders.push_back(work + "/" + entry->d_name);
        ::closedir(dir);
    }
    for (const std::string& folder : folders) {
        const UniqueFd lock(LockJobFolder(folder));
        if (lock.get() >= 0)
            RemoveJobFolder(folder);
    }
}

bool MakePrivateFolder(const QString& folder) {
    const std::string f = SystemPath(folder);
    ::mkdir(f.c_str(), 0700);
    struct stat st;
    return ::lstat(f.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

