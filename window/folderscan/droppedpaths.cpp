#include "folderscan/droppedpaths.h"

#include <QFile>
#include <QMimeData>
#include <QUrl>

namespace {

const QString kUriList = QStringLiteral("text/uri-list");

// The local path that one line of the list names, "" when it names a file
// whose name cannot be represented; none when it is no local file's address.
std::optional<QString> LocalPath(const QByteArray& line) {
    const QUrl url = QUrl::fromEncoded(line);
    if (!url.isValid() || url.scheme() != QLatin1String("file"))
        return std::nullopt;
    // An empty host and "localhost" both mean this machine.
    if (!url.host().isEmpty() && url.host() != QLatin1String("localhost"))
        return std::nullopt;
    // The path's bytes as the system names the file; a name that is not
    // valid UTF-8 would read back as another name.
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (!bytes.startsWith('/'))
        return std::nullopt;
    QString path = QFile::decodeName(bytes);
    if (QFile::encodeName(path) != bytes)
        return QString();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

}  // namespace

std::optional<QStringList> DroppedPaths(const QMimeData* data) {
    if (!data || !data->hasFormat(kUriList))
        return std::nullopt;
    QStringList paths;
    bool namesAFile = false;
    for (const QByteArray& raw : data->data(kUriList).split('\n')) {
        const QByteArray line = raw.trimmed();  // lines end in CR LF
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const std::optional<QString> path = LocalPath(line);
        if (!path)
            return std::nullopt;
        namesAFile = true;
        if (!path->isEmpty())
            paths << *path;
    }
    if (!namesAFile)
        return std::nullopt;
    return paths;
}
