#include "folderscan/addall.h"

#include "app/errorreport.h"
#include "folderscan/folderlisting.h"
#include "runtime/pathhelpers.h"

void AddAllFilesInTree(ErrorTrap& trap, Dialogs& dialogs, const QString& folder, const QString& extension,
                       const std::function<void(const QString& path)>& add) {
    // The walk notes the files of every folder it reads, so that the listing
    // reads no folder a second time.
    const FolderSystem fs(QStringLiteral("*.") + extension);
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
        // names of the folder before it). The listing has found out whether
        // each file opens and whether it is a plain hidden file.
        FileListing files;
        trap.run(124, [&] { files = fs.ListFiles(f, QStringLiteral("*.") + extension); });
        for (size_t i = 0; i < files.size(); ++i) {
            if (trap.test(128, [&] { return files.NameStartsWith(i, '~'); }))
                continue;
            QString path;
            trap.run(130, [&] { path = files.PathIn(f, i); });
            if (trap.test(134, [&] { return !files.PlainHidden(i); }))
                trap.run(134, [&] { add(NormalizePath(path)); });
        }
    }
}
