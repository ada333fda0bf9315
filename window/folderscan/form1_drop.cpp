// Files and folders dropped on the list: files join the list as they are,
// folders with every file of their whole tree.
#include "app/form1.h"

#include "app/errorreport.h"
#include "folderscan/droppedpaths.h"
#include "filelist/filelist.h"
#include "folderscan/folderlisting.h"
#include "runtime/filehelpers.h"
#include "runtime/pathhelpers.h"

#include <QMimeData>
#include <QStringList>

namespace {

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
        const FileListing files = fs.ListFiles(f, pattern);
        for (size_t i = 0; i < files.size(); ++i)
            if (!files.NameStartsWith(i, '~') && !files.PlainHidden(i))
                appender.Add(NormalizePath(files.PathIn(f, i)));
    }
}

}  // namespace

// Only a drag that carries a list of local files and folders, and nothing
// else, can be dropped: text, images and web addresses cannot.
int Form1::ListView1_OLEDragOver(const QMimeData* data, int effect) {
    if (!DroppedPaths(data))
        return 0;
    return effect;
}

void Form1::ListView1_OLEDragDrop(const QMimeData* data, int /*effect*/) {
    const std::optional<QStringList> dropped = DroppedPaths(data);
    if (!dropped)
        return;
    for (const QString& p : *dropped) {
        // One path that fails is reported on its own; the rest of the drop
        // still arrives.
        RunUntrapped(dialogs_, QStringLiteral("ListView1_OLEDragDrop"), [&] {
            if (!IsDroppedFolder(p)) {
                AddToFileList(ListView1, p);
                return;
            }
            AddDroppedFolder(dialogs_, ListView1, p);
        });
    }
}
