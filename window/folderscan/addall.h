#pragma once
// The work of "Add All WMA File(s) In Folder" once the extension and the
// folder are chosen: walk the folder's tree and offer every file of that
// extension, folder by folder, breadth first.
#include <QString>

#include <functional>

class Dialogs;
class ErrorTrap;
class FolderSystem;

// Walks folder (as the folder picker returns it: no trailing "/", "/" for
// the root) and every folder beneath it, and calls add with the tidied path
// of each file whose name matches "*." + extension, in folder order and
// within a folder in listing order. Names beginning with "~", files that
// cannot be opened and plain hidden files (attribute value 34) are left out.
// The steps run through the command's trap, which reports a failure at the
// step's line and carries on; the walk reports its own failures through
// dialogs.
void AddAllFilesInTree(ErrorTrap& trap, Dialogs& dialogs, const QString& folder, const QString& extension,
                       const std::function<void(const QString& path)>& add);
void AddAllFilesInTree(ErrorTrap& trap, Dialogs& dialogs, const QString& folder, const QString& extension,
                       const std::function<void(const QString& path)>& add, const FolderSystem& fs);
