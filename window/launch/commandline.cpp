#include "launch/commandline.h"

#include "runtime/filehelpers.h"
#include "system/fileio.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#ifndef BRENVALE_VERSION
#define BRENVALE_VERSION "unknown"
#endif

namespace {

// Qt's own command-line options: those that take the next argument as their
// value, and those that stand alone. Each may be written with one dash or two.
const char* const kQtOptionsWithValue[] = {
    "platform",        "platformpluginpath", "platformtheme", "plugin",
    "qwindowgeometry", "qwindowicon",        "qwindowtitle",  "session",
    "style",           "stylesheet",         "display",       "geometry",
};
const char* const kQtFlags[] = {"reverse", "widgetcount"};
// Options that Qt also takes in the form -name=value.
const char* const kQtOptionsWithEquals[] = {"style", "stylesheet", "qmljsdebugger"};

QByteArray OptionName(const QByteArray& argument) {
    return argument.mid(argument.startsWith("--") ? 2 : 1);
}

bool IsQtOptionWithValue(const QByteArray& name) {
    for (const char* o : kQtOptionsWithValue)
        if (name == o)
            return true;
    return false;
}

bool IsQtFlag(const QByteArray& name) {
    for (const char* o : kQtFlags)
        if (name == o)
            return true;
    return false;
}

bool IsQtOptionWithEquals(const QByteArray& name) {
    const qsizetype eq = name.indexOf('=');
    if (eq <= 0)
        return false;
    const QByteArray key = name.left(eq);
    for (const char* o : kQtOptionsWithEquals)
        if (key == o)
            return true;
    return false;
}

// The absolute form of a path argument. "." and ".." are taken out only when
// the shorter path still names the same file: through a symbolic link to a
// folder, "link/.." is not the folder that holds the link.
QString AbsolutePath(const QString& path, const QString& currentFolder) {
    const QString joined = path.startsWith(QLatin1Char('/')) ? path : currentFolder + QLatin1Char('/') + path;
    const QString cleaned = QDir::cleanPath(joined);
    if (cleaned == joined || IsSameFile(cleaned, joined))
        return cleaned;
    return joined;
}

QString Quoted(const QString& argument) {
    return QLatin1Char('\'') + argument + QLatin1Char('\'');
}

QString Problem(const QString& argument, const QString& why) {
    return QStringLiteral("brenvale: cannot open ") + Quoted(argument) + QStringLiteral(": ") + why;
}

// Turns one FILE argument into the absolute path of an existing file or
// folder. Returns an empty string and sets *problem when it cannot.
QString ResolveFile(const QByteArray& raw, const QString& currentFolder, QString* problem) {
    const QString argument = QFile::decodeName(raw);
    if (QFile::encodeName(argument) != raw) {
        *problem = Problem(argument, QStringLiteral("its name is not valid UTF-8"));
        return QString();
    }

    QString path = argument;
    static const QRegularExpression otherUri(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    const bool fileUri = argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive);
    if (fileUri) {
        // file:///path and file://localhost/path name a local file; a URI
        // with any other host names a file on another machine.
        const QUrl url(argument);
        const QString host = url.host();
        if (!url.isValid() || !url.path().startsWith(QLatin1Char('/'))) {
            *problem = Problem(argument, QStringLiteral("not a valid file URI"));
            return QString();
        }
        if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0) {
            *problem = Problem(argument, QStringLiteral("not a file of this computer"));
            return QString();
        }
        path = url.path(QUrl::FullyDecoded);
    } else if (argument.contains(otherUri) && !QFile::exists(AbsolutePath(argument, currentFolder))) {
        // A web or network address; a relative path that merely looks like
        // one is still a path.
        *problem = Problem(argument, QStringLiteral("not a file of this computer"));
        return QString();
    }

    path = AbsolutePath(path, currentFolder);
    struct stat st;
    if (::stat(SystemPath(path).c_str(), &st) != 0) {
        *problem = Problem(argument, QString::fromLocal8Bit(std::strerror(errno)));
        return QString();
    }
    return path;
}

void Print(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

}  // namespace

CommandLine ParseCommandLine(const QByteArrayList& arguments, const QString& currentFolder) {
    CommandLine command;
    bool options = true;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QByteArray& a = arguments.at(i);
        if (options && a == "--") {
            options = false;
            continue;
        }
        // A lone "-" is a file of that name, as for most programs that take
        // no input on stdin.
        if (options && a.startsWith('-') && a.size() > 1) {
            const QByteArray name = OptionName(a);
            if (a == "-h" || a == "--help") {
                command.action = CommandLine::ShowHelp;
                return command;
            }
            if (a == "-v" || a == "--version") {
                command.action = CommandLine::ShowVersion;
                return command;
            }
            if (IsQtFlag(name) || IsQtOptionWithEquals(name)) {
                command.qtArguments << a;
                continue;
            }
            if (IsQtOptionWithValue(name)) {
                if (i + 1 >= arguments.size()) {
                    command.action = CommandLine::BadOption;
                    command.badOption = QStringLiteral("option ") + Quoted(QFile::decodeName(a)) +
                                        QStringLiteral(" needs a value");
                    return command;
                }
                command.qtArguments << a << arguments.at(i + 1);
                ++i;
                continue;
            }
            command.action = CommandLine::BadOption;
            command.badOption = QStringLiteral("unknown option ") + Quoted(QFile::decodeName(a));
            return command;
        }

        command.namedFiles = true;
        QString problem;
        const QString path = ResolveFile(a, currentFolder, &problem);
        if (path.isEmpty())
            command.problems << problem;
        else
            command.paths << path;
    }
    return command;
}

QByteArrayList ArgumentsOf(int argc, char* argv[]) {
    QByteArrayList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QByteArray(argv[i]);
    return arguments;
}

QString CurrentFolder() {
    return QFile::decodeName(CurrentFolderBytes());
}

QString UsageText() {
    return QStringLiteral(
        "Usage: brenvale [OPTION]... [FILE]...\n"
        "Try 'brenvale --help' for more information.\n");
}

QString HelpText() {
    return QStringLiteral(
        "Usage: brenvale [OPTION]... [FILE]...\n"
        "Convert Windows Media Audio (WMA) files to MP3 or WAV.\n"
        "\n"
        "Opens the Brenvale window and adds each FILE to its list as a drop would:\n"
        "a file is listed, a folder adds the files of its whole tree. A FILE is a\n"
        "path (relative to the current folder) or a file:// URI. When Brenvale\n"
        "already runs, the files go to the list of its window.\n"
        "\n"
        "Options:\n"
        "  -h, --help     show this help and exit\n"
        "  -v, --version  show the version and exit\n"
        "  --convert      convert without a window, several files at once\n"
        "                 (brenvale --convert --help tells more)\n"
        "  --             end of options: every later argument is a FILE\n"
        "\n"
        "Qt's own options, such as -platform or -style, are passed on to Qt.\n");
}

QString VersionText() {
    return QStringLiteral("Brenvale " BRENVALE_VERSION "\n");
}

int AnswerWithoutWindow(const CommandLine& command) {
    switch (command.action) {
        case CommandLine::ShowHelp:
            Print(stdout, HelpText());
            return 0;
        case CommandLine::ShowVersion:
            Print(stdout, VersionText());
            return 0;
        case CommandLine::BadOption:
            Print(stderr, QStringLiteral("brenvale: ") + command.badOption + QLatin1Char('\n') + UsageText());
            return 2;
        case CommandLine::OpenWindow:
            break;
    }
    return 0;
}

QtArgumentVector::QtArgumentVector(const char* program, const QByteArrayList& qtArguments)
    : storage_(QByteArrayList{QByteArray(program)} + qtArguments) {
    for (QByteArray& a : storage_)
        pointers_.push_back(a.data());
    argc_ = static_cast<int>(storage_.size());
    pointers_.push_back(nullptr);
}

void PrintProblems(const CommandLine& command) {
    for (const QString& problem : command.problems)
        Print(stderr, problem + QLatin1Char('\n'));
}
