#pragma once
// Starting a file through the desktop's shell, and waiting for a started
// program to end.
#include <QString>
#include <QStringList>

#include <sys/types.h>

class QUrl;

// Where a document, folder or address is handed: the desktop, through the
// window that asks (so that tests can answer in its place).
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    // True when something took the address.
    virtual bool OpenUrl(const QUrl& url) = 0;
};

// Show commands of a started program's window.
enum ShowCommand : int {
    SW_HIDE = 0,
    SW_SHOWNORMAL = 1,
    SW_SHOWMINIMIZED = 2,
    SW_SHOWMAXIMIZED = 3,
    SW_SHOWNOACTIVATE = 4,
    SW_SHOW = 5,
    SW_MINIMIZE = 6,
};

// Starts a file the way the desktop would:
// - a file argument wrapped in double quotes names the path inside them;
// - a regular file that is a program (an execute bit set, or beginning with
//   "#!") is started as a process, its parameters split like a shell's, in
//   the given directory (show command 0: its output is discarded; any other:
//   it inherits the program's terminal); it is never handed to the desktop,
//   and when the system refuses to run it (a noexec file system, no
//   permission) the result is 5;
// - a folder, a document or a URL is handed to the desktop through owner's
//   OpenUrl (through QDesktopServices when owner is null).
// Returns above 32 on success; 2 file missing, 3 directory missing, 5
// permission denied, 8 no process could be started, 31 nothing can open it.
// When a process was started and startedProcess is given, its id is stored
// there (the caller then owns it and must reap it); otherwise -1.
int ShellExecuteA(UrlOpener* owner, const QString& operation, const QString& file, const QString& parameters,
                  const QString& directory, int showCommand, pid_t* startedProcess = nullptr);

// Hands file to ShellExecuteA and turns a failure code (0 to 32) into an
// error with the failure table's number and message, raised after the call
// (source: the executable's name + ".GShell"). A file whose upper-cased text
// contains ".EXE" runs hidden; with empty parameters and directory the show
// command is always 1.
int GShell(const QString& file, int showCommand, const QString& parameters, const QString& directory,
           const QString& operation, UrlOpener* ownerWindow, pid_t* startedProcess = nullptr);

// The failure table of GShell: error number and message for a shell result.
struct ShellFailure {
    int number;
    QString message;
};
ShellFailure ShellFailureFor(int shellResult);

// The show command RunAndWait uses for a window style: outside 0..6 it is 6.
int ClampWindowStyle(int windowStyle);

// Splits a parameters string into arguments the way a POSIX shell splits a
// command line, without any expansion: blanks separate words; '...' is
// literal; in "..." a backslash escapes only \ " $ ` and a line end; outside
// quotes a backslash escapes the next character.
QStringList SplitShellParameters(const QString& parameters);

// Starts command through GShell (operation "open", no owner) and waits until
// the started process has ended, yielding to the event loop between pauses of
// at most 100 ms; a pause ends early when the process ends. A window style
// outside 0..6 is used as 6. Returns the process's exit code (128 + N for a
// process ended by signal N), or at once when the start failed -2147221504
// plus the error number (an error number that is itself negative, from the
// failure table's rows without a number of their own, is returned as it is).
// A document, folder or address handed to the desktop gives 0.
int RunAndWait(const QString& command, int windowStyle, const QString& directory);
