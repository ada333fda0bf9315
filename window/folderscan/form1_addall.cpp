// "Add All WMA File(s) In Folder": asks for an extension and a folder, and
// lists every file of that extension in the folder's whole tree.
#include "app/form1.h"

#include "app/dialogs.h"
#include "app/errorreport.h"
#include "app/settings.h"
#include "filelist/filelist.h"
#include "folderscan/addall.h"
#include "folderscan/browse.h"

void Form1::PushButton3_Click() {
    ErrorTrap trap(dialogs_, FormLocation(QStringLiteral("PushButton3_Click")));

    QString extension;
    trap.run(100, [&] {
        extension = dialogs_.InputBox(
            QStringLiteral("Enter file extension to load:\r\r"
                           "(* for all files, txt for all txt files, doc for all doc files, etc.)"),
            QString(), GetBrenvaleSetting(QStringLiteral("Extension"), QStringLiteral("wma")));
    });
    if (trap.test(100, [&] { return !extension.isEmpty(); }))
        trap.run(100, [&] { SaveBrenvaleSetting(QStringLiteral("Extension"), extension); });
    if (trap.test(102, [&] { return extension.isEmpty(); }))
        return;
    trap.run(104, [&] { SaveBrenvaleSetting(QStringLiteral("Extension"), extension); });

    QString folder;
    trap.run(106, [&] {
        folder = BrowseForFolder(dialogs_, QStringLiteral("Please select folder:"),
                                 GetBrenvaleSetting(QStringLiteral("LastFolder"), QString()));
    });
    if (trap.test(108, [&] { return folder.isEmpty(); }))
        return;
    QString lastFolder;
    trap.run(333, [&] { lastFolder = folder; });
    trap.run(334, [&] { SaveBrenvaleSetting(QStringLiteral("LastFolder"), lastFolder); });

    trap.run(114, [&] { SetMousePointer(kPointerHourglass); });
    // The files join the list in one go once they are all listed: nothing
    // can look at the list in between, since the listing does not yield,
    // unless a failure is reported; what was added stands in the list then.
    FileListAppender appender(ListView1);
    trap.setFilter([&](const VbError&) {
        appender.Flush();
        return false;
    });
    AddAllFilesInTree(trap, dialogs_, folder, extension, [&](const QString& path) { appender.Add(path); });
    appender.Flush();
    trap.run(138, [&] { SetMousePointer(kPointerDefault); });
}
