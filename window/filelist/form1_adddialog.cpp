// "Add WMA File(s)": adding files through the open-file dialog.
#include "app/dialogs.h"
#include "app/errorreport.h"
#include "app/form1.h"
#include "filelist/filelist.h"
#include "runtime/pathhelpers.h"

#include <QStringList>

namespace {

// The dialog's error for a selection too large for its result buffer.
constexpr int kSelectionTooLarge = 20476;
constexpr int kOpenFileFlags = 2621953;  // read-only box, multi-select, explorer, long names

}  // namespace

void Form1::PushButton1_Click() {
    ErrorTrap trap(dialogs_, FormLocation(QStringLiteral("PushButton1_Click")));
    // A selection too large for the result buffer sends the user to "Add
    // All" and ends the command; every other failure gets the report.
    trap.setFilter([this](const VbError& error) {
        if (error.number != kSelectionTooLarge)
            return false;
        dialogs_.MsgBox(QStringLiteral("You've selected too many files to add.\r\rPlease try adding via "
                                       "the \"Add All\" button."),
                        vbOKOnly);
        return true;
    });

    OpenFileRequest dialog;  // CommonDialog1, set up anew at every press
    QStringList parts;
    int first = 0;
    int last = -1;
    int i = 0;
    QString path;

    trap.run(104, [&] { dialog.fileName = QString(); });
    trap.run(106, [&] { dialog.flags = kOpenFileFlags; });
    trap.run(108, [&] {
        dialog.title = QStringLiteral("Add File(s) - Hold Ctrl or Shift to select multiple files");
    });
    trap.run(110, [&] { dialog.filter = QStringLiteral("Wma Files (*.wma)|*.wma|"); });
    trap.run(112, [&] { dialog.fileName = dialogs_.ShowOpen(dialog); });
    if (trap.ended())
        return;
    if (trap.test(114, [&] { return dialog.fileName.isEmpty(); }))
        return;
    trap.run(116, [&] { parts = dialog.fileName.split(QChar(u'\0')); });
    if (trap.test(118, [&] { return parts.size() - 1 == 0; })) {
        trap.run(120, [&] { path = parts.at(0); });
        trap.run(122, [&] { AddToFileList(ListView1, path); });
        return;
    }
    if (trap.test(124, [&] { return parts.size() - 1 > 0; })) {
        trap.run(126, [&] { first = 1; });
        trap.run(128, [&] { last = static_cast<int>(parts.size()) - 1; });
        trap.run(134, [&] { i = first; });
        while (!trap.ended() && i <= last) {
            trap.run(136, [&] { path = parts.at(0) + QLatin1Char('/') + parts.at(i); });
            trap.run(138, [&] { path = NormalizePath(path); });
            trap.run(140, [&] { AddToFileList(ListView1, path); });
            trap.run(142, [&] { ++i; });
        }
    }
}
