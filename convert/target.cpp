#include "convert/target.h"

#include "util/files.h"
#include "util/paths.h"

#include <QFile>

#include <sys/stat.h>

#include <string>

QString ResolveTargetPath(const QString& source, ConversionFormat format, bool option3, bool option4,
                          const QString& folderText) {
    const QString extension =
        format == ConversionFormat::MP3 ? QStringLiteral(".mp3") : QStringLiteral(".wav");
    const QString base = StripExtension(source) + extension;
    QString target;
    if (option3)
        target = folderText + QLatin1Char('/') + FileNameOfPath(base);
    else if (option4)
        target = FolderOfPath(source) + QLatin1Char('/') + FileNameOfPath(base);
    else
        target = base;
    // Both joins add a separator of their own; the doubled one after a
    // folder that already ends in "/" goes here.
    return NormalizePath(target);
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

bool SameBytes(const QString& a, const QString& b) {
    QFile fa(a);
    QFile fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly))
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
