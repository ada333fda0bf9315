// Files and folders dropped on the list: files join the list as they are,
// folders with every file of their whole tree.
#include "app/form1.h"

#include "app/errorreport.h"
#include "filelist/filelist.h"
#include "folderscan/folderwalk.h"
#include "util/files.h"
#include "util/paths.h"

#include <QMimeData>
#include <QStringBuilder>
#include <QStringList>
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

// Lists every file of a dropped folder's whole tree.
void AddDroppedFolder(Dialogs& dialogs, QTreeWidget* list, const QString& folder) {
    // The walk notes the files of every folder it reads, so that the listing
    // reads no folder a second time; the listing tells whether each file
    // opens and whether it is a plain hidden file.
    const QString pattern = QStringLiteral("*.*");
    const FolderSystem fs(pattern);
    QStringList folders{folder + QLatin1Char('/')};
    GetSubDirectories2016(dialogs, folders, true, fs);
    // The folder's files join the list in one go once they are all listed
    // (the listing does not yield, so nothing sees the list in between), and
    // also when a failure ends the drop of this folder.
    FileListAppender appender(list);
    for (QString f : folders) {
        f.chop(1);
        for (const ListedFile& file : fs.ListFiles(f, pattern))
            if (!file.name.startsWith(QLatin1Char('~')) && !file.plainHidden)
                appender.Add(NormalizePath(f % QLatin1Char('/') % file.name));
    }
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
            AddDroppedFolder(dialogs_, ListView1, p);
        });
    }
}
