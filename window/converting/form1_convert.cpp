// "Start Converting" and the output folder button.
#include "app/dialogs.h"
#include "app/errorreport.h"
#include "app/form1.h"
#include "app/settings.h"
#include "convert/conversion.h"
#include "converting/target.h"
#include "workfolder/workfolder.h"
#include "filelist/filelist.h"
#include "folderscan/browse.h"
#include "runtime/filehelpers.h"
#include "runtime/pathhelpers.h"
#include "runtime/shell.h"

#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QThread>
#include <QUrl>

#include <optional>

namespace {

// The result path of source for the options and the folder box as they are
// at this moment.
QString TargetOf(const Form1& form, const QString& source, ConversionFormat format) {
    return ResolveTargetPath(source, format, form.Option3->isChecked(), form.Option4->isChecked(),
                             form.Text1->text());
}

void Yield() {
    QCoreApplication::processEvents();
}

// The user's work folder as the run's, its scripts started through the
// shell and waited for while the window answers.
WorkContext RunWorkContext() {
    WorkContext work = UserWorkContext();
    work.runScript = [](const QString& script, const QStringList&, const QString& folder) {
        return RunAndWait(QLatin1Char('"') + script + QLatin1Char('"'), SW_HIDE, folder);
    };
    return work;
}

}  // namespace

// The "..." button: lets the user choose the output folder.
//
// Numbered steps:
//   100 load the last browsed folder ("LastFolderDot")
//   102 ask for a folder
//   104 a cancelled dialog ends the command
//   106 remember the answer as the last browsed folder
//   108 save it under "LastFolderDot"
//   110 test for the trailing "/"
//   112 set the box to the answer and "/"   (then-branch)
//   114 set the box to the answer           (else-branch)
void Form1::PushButton4_Click() {
    ErrorTrap trap(dialogs_, FormLocation(QStringLiteral("PushButton4_Click")));
    QString answer;

    trap.run(100,
             [&] { lastBrowsedFolder_ = GetBrenvaleSetting(QStringLiteral("LastFolderDot"), QString()); });
    trap.run(102, [&] {
        answer = BrowseForFolder(dialogs_, QStringLiteral("Please select folder:"), lastBrowsedFolder_);
    });
    if (trap.test(104, [&] { return answer.isEmpty(); }))
        return;
    trap.run(106, [&] { lastBrowsedFolder_ = answer; });
    trap.run(108, [&] { SaveBrenvaleSetting(QStringLiteral("LastFolderDot"), lastBrowsedFolder_); });
    // Setting the box runs its change handler, which stores "Text1".
    if (trap.test(110, [&] { return !answer.endsWith(QLatin1Char('/')); }))
        trap.run(112, [&] { SetText1(answer + QLatin1Char('/')); });
    else
        trap.run(114, [&] { SetText1(answer); });
}

// "Start Converting": converts every listed file, top to bottom, on the
// window's thread.
//
// The steps are numbered 100, 102, 104, ... in the order in which they stand
// below; the error report names the step that failed, and the run carries on
// with the next one.
//   100 a run is under way: return at once
//   102 set the busy flag
//   104 yield to the event loop
//   106 is the list empty?             108 "No files added.", end
//   110 folder box no folder and results not beside their sources?
//                                      112 "Folder does not exist. ...", end
//   114 take the work folder's lock
//   116 held by another program?       118 "Another conversion ...", end
//   120 hourglass
//   122 stage the tools and scripts
//   124 build the two script commands
//   126 n = the list's item count
//   128 for i = 1 to n:
//   130   yield to the event loop
//   132   hourglass again
//   134   item i no longer there: next file
//   136   bar value: i of the current item count, in percent
//   138   source = the text of item i
//   140   bar text: "Processing: " and the source's file name
//   142   yield to the event loop
//   144   pause (no events are processed)
//   146   prepare the working files, read the tags of the work folder's copy
//   148   MP3 selected?  150 format MP3
//   152   WAV selected?  154 format WAV
//   156   neither: next file
//   158   working files ready: run the format's script and wait for it;
//         a whole result takes on the source's tags
//   160   target = the result's path, numbered where it would replace a
//         result of this run, a listed file or the source
//   162   is the result whole in the work folder?
//   164     note what stands at target
//   166     copy the result to target
//   168     does target hold the new copy?  170 "Can not save ... Please check ..."
//   172     remember target as written by this run
//   173   too long for a WAV file: "Can not convert ... too long for a WAV file ..."
//   174   the work folder failed: "Can not convert ... Please check that the work folder ..."
//   175   the source is gone or unreadable: "Can not convert ... The file is no longer there ..."
//   176   otherwise: "Can not convert ... File may be DRM protected."
//   178   "Would you like to learn more ...?"  180 Yes: open the DRM information page
//   182 next i
//   184 remove the staged tools and what the last file left
//   186 give up the lock
//   188 default pointer
//   190 bar value 0
//   192 bar text "Progress Bar"
//   194 "Done."
//   196 clear the busy flag
void Form1::PushButton2_Click() {
    ErrorTrap trap(dialogs_, FormLocation(QStringLiteral("PushButton2_Click")));

    if (trap.test(100, [&] { return busy_; }))
        return;
    trap.run(102, [&] { busy_ = true; });
    trap.run(104, [&] { Yield(); });

    // A failed check shows its message and ends the run before the work
    // folder, the pointer or the bar are touched.
    const auto finish = [&] { trap.run(196, [&] { busy_ = false; }); };

    if (trap.test(106, [&] { return FileListCount(ListView1) <= 0; })) {
        trap.run(108, [&] { dialogs_.MsgBox(QStringLiteral("No files added."), vbOKOnly); });
        return finish();
    }
    if (trap.test(110, [&] { return !IsFolder(Text1->text()) && !Option4->isChecked(); })) {
        trap.run(112, [&] {
            dialogs_.MsgBox(QStringLiteral("Folder does not exist. Please select another folder."), vbOKOnly);
        });
        return finish();
    }

    // The working files have fixed names: a second program converting in the
    // same work folder would overwrite them. A lock that cannot be made at
    // all (no usable work folder) does not stop the run; each file then
    // reports the work folder.
    // The work folder is decided once for the run: its tools, its lock and
    // every file's working files are in the same folder.
    const WorkContext work = RunWorkContext();
    WorkFolderLock lock;
    WorkFolderLock::Outcome lockOutcome = WorkFolderLock::Unavailable;
    trap.run(114, [&] { lockOutcome = lock.acquire(work.folder); });
    if (trap.test(116, [&] { return lockOutcome == WorkFolderLock::HeldElsewhere; })) {
        trap.run(118, [&] {
            dialogs_.MsgBox(
                QStringLiteral(
                    "Another conversion is using the work folder. Please wait until it has finished."),
                vbOKOnly);
        });
        return finish();
    }

    trap.run(120, [&] { SetMousePointer(kPointerHourglass); });
    trap.run(122, [&] { StageTools(work); });
    ScriptCommands commands;
    trap.run(124, [&] { commands = BuildScriptCommands(work); });

    // The results this run has saved: a later file's result never replaces
    // one of them.
    QStringList written;
    int attempted = 0;  // the files taken up; those not in written failed
    int n = 0;
    trap.run(126, [&] { n = FileListCount(ListView1); });
    for (int i = 1; i <= n; ++i) {  // 128
        trap.run(130, [&] { Yield(); });
        trap.run(132, [&] { SetMousePointer(kPointerHourglass); });
        // Items removed while the run yielded can leave the list shorter
        // than i: such an item is passed over without a word.
        if (trap.test(134, [&] { return i > FileListCount(ListView1); }))
            continue;
        trap.run(136, [&] { SetProgressValue(static_cast<double>(i) / FileListCount(ListView1) * 100.0); });
        QString source;
        trap.run(138, [&] { source = FileListText(ListView1, i); });
        trap.run(140, [&] { SetProgressText(QStringLiteral("Processing: ") + FileNameOfPath(source)); });
        trap.run(142, [&] { Yield(); });
        trap.run(144, [&] {
            if (pauseMs_ > 0)
                QThread::msleep(static_cast<unsigned long>(pauseMs_));
        });
        // Until a step finds otherwise, the file counts as one that could not
        // be decoded, the cause unknown.
        StageResult prepared{StageOutcome::SourceUnusable, QString(), 0, QString()};
        ConversionFormat format = ConversionFormat::MP3;
        std::optional<FileConversion> file;
        ++attempted;
        trap.run(146, [&] {
            file.emplace(work, QFile::encodeName(source));
            prepared = file->PrepareWorkingCopy();
        });

        if (trap.test(148, [&] { return Option1->isChecked(); })) {
            trap.run(150, [&] { format = ConversionFormat::MP3; });
        } else if (trap.test(152, [&] { return Option2->isChecked(); })) {
            trap.run(154, [&] { format = ConversionFormat::WAV; });
        } else {
            continue;  // 156
        }

        StageResult converted{prepared.outcome == StageOutcome::WorkFolderFailed ? StageOutcome::WorkFolderFailed
                                                                                 : StageOutcome::DecodingFailed,
                              QString(), 0, QString()};
        trap.run(158, [&] {
            if (file && prepared.ok())
                converted = file->RunScript(format, commands);
            // Tags go into the whole result before it leaves the work folder,
            // so a saved result never lacks them.
            if (file && converted.ok())
                file->Tag();
        });
        QString target;
        trap.run(160, [&] {
            QStringList taken = written;
            taken << source;
            for (int item = 1; item <= FileListCount(ListView1); ++item)
                taken << FileListText(ListView1, item);
            target = UntakenTarget(TargetOf(*this, source, format), taken);
        });
        // The result is whole in the work folder here: every tool of the
        // script succeeded and the file is the user's own. What is saved to
        // target is exactly this file.
        QString result;
        if (trap.test(162, [&] {
                result = file ? file->ResultPath() : QString();
                return converted.ok() && file && file->ResultPresent();
            })) {
            FileStamp before;
            trap.run(164, [&] { before = StampOf(target); });
            trap.run(166, [&] { SaveWindowResult(result, target, source); });
            // The copy says nothing when it fails; a result that did not
            // arrive must not be lost in silence.
            if (trap.test(168, [&] { return !HoldsNewCopy(target, before, result); })) {
                trap.run(170, [&] {
                    dialogs_.MsgBox(QStringLiteral("Can not save ") + target +
                                        QStringLiteral(". Please check that the folder exists and can be "
                                                       "written to."),
                                    vbOKOnly);
                });
            } else {
                trap.run(172, [&] { written << target; });
            }
        } else if (converted.outcome == StageOutcome::TooLong) {
            trap.run(173, [&] {
                dialogs_.MsgBox(
                    QStringLiteral("Can not convert ") + source +
                        QStringLiteral(". It is too long for a WAV file, which holds at most 4 GB "
                                       "(6 hours 45 minutes of CD-quality stereo). Please convert "
                                       "it to MP3."),
                    vbOKOnly);
            });
        } else if (converted.outcome == StageOutcome::WorkFolderFailed) {
            // Nothing wrong with the file itself: the work folder is full,
            // cannot be written or cannot run the tools. No question about
            // DRM follows.
            trap.run(174, [&] {
                dialogs_.MsgBox(QStringLiteral("Can not convert ") + source +
                                    QStringLiteral(". Please check that the work folder ") +
                                    (work.folder.isEmpty() ? WorkFolderForMessages() : work.folder) +
                                    QStringLiteral(" has free space, can be written to and allows programs "
                                                   "to run."),
                                vbOKOnly);
            });
        } else if (prepared.outcome == StageOutcome::SourceGone) {
            // Deleted, moved or made unreadable since it was listed: nothing
            // to do with DRM, so no question follows.
            trap.run(175, [&] {
                dialogs_.MsgBox(QStringLiteral("Can not convert ") + source +
                                    QStringLiteral(". The file is no longer there or can not be read."),
                                vbOKOnly);
            });
        } else {
            // The message names the file that failed, even when the list has
            // been reordered meanwhile.
            trap.run(176, [&] {
                dialogs_.MsgBox(QStringLiteral("Can not convert ") + source +
                                    QStringLiteral(". File may be DRM protected."),
                                vbOKOnly);
            });
            if (trap.test(178, [&] {
                    return dialogs_.MsgBox(
                               QStringLiteral(
                                   "Would you like to learn more about how you can unprotect WMA files?"),
                               vbYesNo) == vbYes;
                })) {
                trap.run(180, [&] {
                    const QString page =
                        QUrl::fromLocalFile(programFolder_ + QStringLiteral("/drm-protection.html"))
                            .toString();
                    // The shell's result is not looked at: a page that cannot
                    // be shown leaves nothing more to do.
                    ShellExecuteA(&dialogs_, QString(), QLatin1Char('"') + page + QLatin1Char('"'), QString(),
                                  QStringLiteral("/"), SW_SHOW);
                });
            }
        }
    }  // 182

    trap.run(184, [&] {
        RemoveStagedTools(work);
        RemoveWorkingFiles(work);
    });
    trap.run(186, [&] { lock.release(); });
    trap.run(188, [&] { SetMousePointer(kPointerDefault); });
    trap.run(190, [&] { SetProgressValue(0.0); });
    trap.run(192, [&] { SetProgressText(QStringLiteral("Progress Bar")); });
    TellRunEnded(static_cast<int>(written.size()), attempted - static_cast<int>(written.size()));
    trap.run(194, [&] { dialogs_.MsgBox(QStringLiteral("Done."), vbOKOnly); });
    finish();
}
