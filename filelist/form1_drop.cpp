// Files and folders dropped on the list: files join the list as they are,
// folders with every file of their whole tree.
#include "app/form1.h"

#include "app/errorreport.h"
#include "filelist/filelist.h"
#include "folderscan/folderwalk.h"
#include "util/files.h"
#include "util/paths.h"

#include <QMimeData>
#include <QUrl>

namespace {

// True when the drag carries a list of local files and folders, and nothing
// else: text, images and web addresses cannot be dropped here.
bool OffersFileList(const QMimeData* data) {
    if (!data || !data->hasUrls())
        return false;
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty())
        return false;
    for (const QUrl& url : urls)
        if (!url.isLocalFile() || url.toLocalFile().isEmpty())
            return false;
    return true;
}

// The dropped path as a file manager names it: a folder without a trailing
// "/", the root as "/".
QString DroppedPath(const QUrl& url) {
    QString path = url.toLocalFile();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

bool IsDroppedFolder(const QString& path) {
    return FileExists(path) && (TryFileAttributes(path, 0) & kAttrDirectory) != 0;
}

}  // namespace

int Form1::ListView1_OLEDragOver(const QMimeData* data, int effect) {
    if (!OffersFileList(data))
        return 0;
    return effect;
}

void Form1::ListView1_OLEDragDrop(const QMimeData* data, int /*effect*/) {
    if (!OffersFileList(data))
        return;
    const QList<QUrl> urls = data->urls();
    for (const QUrl& url : urls) {
        // One path that fails is reported on its own; the rest of the drop
        // still arrives.
        RunUntrapped(dialogs_, QStringLiteral("ListView1_OLEDragDrop"), [&] {
            const QString p = DroppedPath(url);
            if (!IsDroppedFolder(p)) {
                AddToFileList(ListView1, p);
                return;
            }
            QStringList folders{p + QLatin1Char('/')};
            GetSubDirectories2016(dialogs_, folders, true);
            for (QString f : folders) {
                f.chop(1);
                const FileNameArray names = ListFilesInFolder(f, QStringLiteral("*.*"));
                for (int i = 1; i <= names.UBound(); ++i) {
                    const QString& name = names[i];
                    if (name.startsWith(QLatin1Char('~')))
                        continue;
                    const QString s = f + QLatin1Char('/') + name;
                    // A file whose attributes can no longer be read has gone
                    // since it was listed.
                    if (!IsExistingFile(s))
                        continue;
                    const int attributes = TryFileAttributes(s, -1);
                    if (attributes < 0 || attributes == (kAttrHidden | kAttrArchive))
                        continue;
                    AddToFileList(ListView1, NormalizePath(s));
                }
            }
        });
    }
}
