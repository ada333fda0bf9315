#include "converting/target.h"

#include "common/uniquefd.h"
#include "convert/resultsave.h"
#include "system/fileio.h"
#include "system/safepath.h"

#include "runtime/filehelpers.h"
#include "runtime/pathhelpers.h"

#include <QFile>

#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>

#include <string>

QString ResolveTargetPath(const QString& source, ConversionFormat format, bool option3, bool option4,
                          const QString& folderText) {
    const QString name = QString::fromUtf8(ResultFileName(FileNameOfPath(source).toUtf8(), format));
    QString target;
    if (option3)
        target = folderText + QLatin1Char('/') + name;
    else if (option4)
        target = FolderOfPath(source) + QLatin1Char('/') + name;
    else
        target = FolderOfPath(source) + name;
    // The joins add a separator of their own; the doubled one after a folder
    // that already ends in "/" goes here.
    return NormalizePath(target);
}

namespace {

// True when candidate names one of taken: the same text, or the same
// existing file however its folders are written. The names themselves are
// looked at (lstat), never what a link at them leads to: a link that someone
// put in the output folder takes no name away, and is replaced, never
// written through, by the copy.
bool IsTaken(const QString& candidate, const QStringList& taken) {
    const QString normal = NormalizePath(candidate);
    // The candidate is looked at once; only when it exists can another path
    // name the same file.
    struct stat own;
    const bool exists = ::lstat(SystemPath(candidate).c_str(), &own) == 0;
    for (const QString& path : taken) {
        if (NormalizePath(path) == normal)
            return true;
        struct stat other;
        if (exists && !path.isEmpty() && ::lstat(SystemPath(path).c_str(), &other) == 0 &&
            other.st_dev == own.st_dev && other.st_ino == own.st_ino)
            return true;
    }
    return false;
}

}  // namespace

QString UntakenTarget(const QString& target, const QStringList& taken) {
    return UntakenTarget(target, [&taken](const QString& path) { return IsTaken(path, taken); });
}

QString UntakenTarget(const QString& target, const std::function<bool(const QString& path)>& isTaken) {
    if (!isTaken(target))
        return target;
    const QString folder = FolderOfPath(target);
    const QString name = FileNameOfPath(target);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    for (int k = 2;; ++k) {
        const QString candidate = folder + stem + QStringLiteral(" (%1)").arg(k) + extension;
        if (!isTaken(candidate))
            return candidate;
    }
}

FileStamp StampOf(const QString& path) {
    FileStamp stamp;
    struct stat st;
    if (path.isEmpty() || ::stat(SystemPath(path).c_str(), &st) != 0)
        return stamp;
    stamp.exists = true;
    stamp.regular = S_ISREG(st.st_mode);
    stamp.device = static_cast<quint64>(st.st_dev);
    stamp.inode = static_cast<quint64>(st.st_ino);
    stamp.size = static_cast<qint64>(st.st_size);
    stamp.changeSec = static_cast<qint64>(st.st_ctim.tv_sec);
    stamp.changeNsec = static_cast<qint64>(st.st_ctim.tv_nsec);
    return stamp;
}

namespace {

// Opens path for reading only when it is a regular file with data, so that
// a FIFO put in its place cannot make the comparison wait.
bool OpenForComparing(QFile& file, const QString& path) {
    const int fd = OpenRegularSource(path);
    if (fd < 0)
        return false;
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    return false;
}

bool SameBytes(const QString& a, const QString& b) {
    QFile fa;
    QFile fb;
    if (!OpenForComparing(fa, a) || !OpenForComparing(fb, b))
        return false;
    if (fa.size() != fb.size())
        return false;
    constexpr qint64 kChunk = 1 << 20;
    while (!fa.atEnd()) {
        const QByteArray ca = fa.read(kChunk);
        const QByteArray cb = fb.read(kChunk);
        if (ca.isEmpty() || ca != cb)
            return false;
    }
    return fb.atEnd();
}

}  // namespace

bool HoldsNewCopy(const QString& target, const FileStamp& before, const QString& result) {
    const FileStamp now = StampOf(target);
    if (!now.exists || !now.regular)
        return false;
    if (before.exists) {
        const bool untouched = now.device == before.device && now.inode == before.inode &&
                               now.size == before.size && now.changeSec == before.changeSec &&
                               now.changeNsec == before.changeNsec;
        if (untouched)
            return false;
    }
    return SameBytes(target, result);
}

void SaveWindowResult(const QString& result, const QString& target, const QString& source) {
    try {
        if (result.trimmed().isEmpty() || target.trimmed().isEmpty())
            return;
        // "?" and "*" are ordinary characters of a name here, never
        // wildcards.
        const QString to = NormalizePath(target);
        const QByteArray name = QFile::encodeName(FileNameOfPath(to));
        QByteArray problem;
        const UniqueFd folder(OpenFolderSafely(QFile::encodeName(FolderOfPath(to)), false, &problem));
        const UniqueFd in(OpenRegularSource(NormalizePath(result)));
        struct stat from;
        if (name.isEmpty() || folder.get() < 0 || in.get() < 0 || ::fstat(in.get(), &from) != 0)
            return;
        const QByteArray sourceBytes = QFile::encodeName(source);
        SavePolicy policy;
        policy.replaceUsersFiles = true;
        policy.replaceOthers = true;
        policy.ownerOf = [&](const QByteArray& at) {
            struct stat st;
            // A link counts by what it leads to (and is replaced itself); a
            // link that leads nowhere is simply replaced.
            if (::fstatat(folder.get(), at.constData(), &st, 0) != 0)
                return ResultOwner::ThisSource;
            const bool keep = !S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) == 0 ||
                              (st.st_dev == from.st_dev && st.st_ino == from.st_ino) ||
                              IsSameFile(FolderOfPath(to) + QFile::decodeName(at), source);
            return keep ? ResultOwner::Refused : ResultOwner::ThisSource;
        };
        SaveResultFile(folder.get(), ResultName{StemOf(name).toByteArray(), ExtensionOf(name).toByteArray(), 1, INT_MAX},
                       in.get(), sourceBytes, policy);
    } catch (...) {
        // Never passed on: the caller looks at the target.
    }
}
