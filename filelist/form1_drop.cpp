// Files and folders dropped on the list: files join the list as they are,
// folders with every file of their whole tree.
#include "app/form1.h"

#include "app/errorreport.h"
#include "filelist/droppedpaths.h"
#include "filelist/filelist.h"
#include "folderscan/folderwalk.h"
#include "util/files.h"
#include "util/paths.h"

#include <QMimeData>

namespace {

bool IsDroppedFolder(const QString& path) {
    return FileExists(path) && (TryFileAttributes(path, 0) & kAttrDirectory) != 0;
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
