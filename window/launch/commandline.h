#pragma once
// The program's command line: `brenvale [OPTION]... [FILE]...`.
//
// Each FILE is a path (relative ones are taken from the current folder) or a
// file:// URI; what exists is later added to the list as a drop of that path
// would be. --help and --version answer without a window; any other option
// of the program's own is refused with the usage. Qt's own options (such as
// -platform or -style) are kept apart and passed on to Qt, so that a file
// name never reaches Qt as an option.
#include <QByteArrayList>
#include <QString>
#include <QStringList>

#include <vector>

struct CommandLine {
    enum Action {
        OpenWindow,   // start (or hand the files to the running window)
        ShowHelp,     // print the help text, exit 0
        ShowVersion,  // print the version, exit 0
        BadOption,    // print the usage on stderr, exit 2
    };
    Action action = OpenWindow;
    // Absolute paths of the FILE arguments that exist, in the given order.
    QStringList paths;
    // One line for each FILE argument that is left out, naming it and why.
    QStringList problems;
    // True when any FILE argument was given, whether or not it exists.
    bool namedFiles = false;
    // Qt's own options with their values, in the given order.
    QByteArrayList qtArguments;
    // The refused option and why (BadOption only).
    QString badOption;
};

// Reads the arguments after the program's name. currentFolder is the
// absolute folder that relative paths are taken from.
CommandLine ParseCommandLine(const QByteArrayList& arguments, const QString& currentFolder);

// The arguments of main() after the program's name.
QByteArrayList ArgumentsOf(int argc, char* argv[]);

// The current folder as the shell shows it (CurrentFolderBytes, decoded).
QString CurrentFolder();

QString HelpText();
QString VersionText();
QString UsageText();

// Answers a command line that needs no window (help, version, a refused
// option) on stdout or stderr and returns the exit status.
int AnswerWithoutWindow(const CommandLine& command);

// Prints each left-out FILE argument on stderr.
void PrintProblems(const CommandLine& command);

// The argument vector that Qt gets: the program's name and Qt's own options,
// never a FILE argument. Lives as long as the application object.
class QtArgumentVector {
public:
    QtArgumentVector(const char* program, const QByteArrayList& qtArguments);
    int& argc() { return argc_; }
    char** argv() { return pointers_.data(); }

private:
    QByteArrayList storage_;
    std::vector<char*> pointers_;
    int argc_ = 0;
};
