#include "folderscan/addall.h"

#include "app/errorreport.h"
#include "folderscan/folderwalk.h"
#include "util/files.h"
#include "util/paths.h"

void AddAllFilesInTree(ErrorTrap& trap, Dialogs& dialogs, const QString& folder, const QString& extension,
                       const std::function<void(const QString& path)>& add) {
    const FolderSystem fs;
    AddAllFilesInTree(trap, dialogs, folder, extension, add, fs);
}

void AddAllFilesInTree(ErrorTrap& trap, Dialogs& dialogs, const QString& folder, const QString& extension,
                       const std::function<void(const QString& path)>& add, const FolderSystem& fs) {
    // The root already ends in "/", so its entry ends in two; the paths are
    // tidied before they are offered.
    QStringList folders;
    trap.run(116, [&] { folders.append(folder + QLatin1Char('/')); });
    trap.run(118, [&] { GetSubDirectories2016(dialogs, folders, true, fs); });

    QStringList entries;
    trap.run(120, [&] { entries = folders; });
    for (const QString& entry : entries) {
        QString f;
        trap.run(122, [&] { f = entry.left(entry.size() - 1); });
        // A folder that cannot be listed contributes nothing (never the
        // names of the folder before it).
        FileNameArray names;
        trap.run(124, [&] { names = ListFilesInFolder(f, QStringLiteral("*.") + extension); });
        for (int i = 1; i <= names.UBound(); ++i) {
            QString name;
            trap.run(126, [&] { name = names[i]; });
            if (trap.test(128, [&] { return name.startsWith(QLatin1Char('~')); }))
                continue;
            QString path;
            trap.run(130, [&] { path = f + QLatin1Char('/') + name; });
            if (trap.test(134, [&] {
                    return IsExistingFile(path) && FileAttributes(path) != (kAttrHidden | kAttrArchive);
                }))
                trap.run(134, [&] { add(NormalizePath(path)); });
        }
    }
}
