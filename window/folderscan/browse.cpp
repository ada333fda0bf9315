// The folder picker.
#include "folderscan/browse.h"

#include "app/dialogs.h"
#include "folderscan/folderlisting.h"

namespace {

// The start folder of the last call, followed by a NUL character; it keeps
// its value until the next call.
QString g_startFolder;

// The text before the first NUL character.
QString UpToNul(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}

}  // namespace

QString BrowseForFolder(Dialogs& owner, const QString& prompt, const QString& startFolder) {
    g_startFolder = startFolder + QChar(u'\0');

    // The dialog opens on the start folder when it exists and on its own
    // default otherwise; it returns "" on cancel.
    QString folder = UpToNul(owner.PickFolder(prompt, UpToNul(g_startFolder)));
    if (folder.isEmpty())
        return QString();

    // The root stays "/"; any other folder loses its trailing separators.
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);

    // A path that the system would refuse cannot be returned; cutting it
    // would name another folder, so it counts as a cancel.
    if (!FitsPathLimit(folder))
        return QString();
    return folder;
}
