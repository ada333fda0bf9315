// "Load Sample/Example Files": lists the sample files that stand in the
// "Samples" folder beside the program, and offers to open that folder.
#include "app/form1.h"

#include "app/dialogs.h"
#include "app/errorreport.h"
#include "filelist/filelist.h"
#include "folderscan/folderlisting.h"
#include "runtime/shell.h"

void Form1::PushButton9_Click() {
    ErrorTrap trap(dialogs_, FormLocation(QStringLiteral("PushButton9_Click")));
    // One step: after a failure the command ends, keeping what it added.
    trap.run(100, [this] {
        const FileNameArray names =
            ListFilesInFolder(programFolder_ + QStringLiteral("/Samples"), QStringLiteral("*.*"));
        {
            // The listing has just found each sample to be a file that opens,
            // so it exists. Nothing else changes the list while the samples
            // are added: its texts are read once, not once per sample, and
            // the samples join it in one go (those added before a failure
            // stay).
            QSet<QString> listed = FileListTexts(ListView1);
            FileListAppender appender(ListView1);
            for (int i = 1; i <= names.UBound(); ++i) {
                const QString path = programFolder_ + QStringLiteral("/Samples/") + names[i];
                if (!listed.contains(path)) {
                    appender.Add(path);
                    listed.insert(path);
                }
            }
        }
        const int answer = dialogs_.MsgBox(
            QStringLiteral("Would you like this software to open the folder where these sample files are "
                           "stored (so that you can view them before working with them)?"),
            vbYesNo);
        if (answer == vbYes) {
            // The desktop's file browser shows the folder; whether it managed
            // to is not reported.
            ShellExecuteA(&dialogs_, QString(),
                          QLatin1Char('"') + programFolder_ + QStringLiteral("/Samples/\""), QString(),
                          QStringLiteral("/"), SW_SHOW);
        }
    });
}
