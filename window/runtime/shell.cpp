#include "runtime/shell.h"

#include "runtime/errors.h"
#include "runtime/filehelpers.h"
#include "system/supervisor.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

// Shell results.
constexpr int kHandedOver = 42;  // any value above 32 means success
constexpr int kFileNotFound = 2;
constexpr int kPathNotFound = 3;
constexpr int kAccessDenied = 5;
constexpr int kOutOfMemory = 8;
constexpr int kBadFormat = 11;
constexpr int kNoAssociation = 31;

// Base of the failure numbers that have no row of their own: the base of
// application-defined errors plus 1048.
constexpr int kShellErrorBase = -2147220456;
constexpr int kObjectErrorBase = -2147221504;

QString ExecutableName() {
    if (QCoreApplication::instance())
        return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return QString::fromLocal8Bit(program_invocation_short_name);
}

// A file argument wrapped in double quotes names the path inside them.
QString UnquotedFile(const QString& file) {
    const QString t = file.trimmed();
    if (t.size() >= 2 && t.startsWith(QLatin1Char('"')) && t.endsWith(QLatin1Char('"')))
        return t.mid(1, t.size() - 2);
    return t;
}

// "scheme:..." with a scheme of at least two characters (so that nothing
// resembling a drive letter counts).
bool LooksLikeUrl(const QString& file) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    return scheme.match(file).hasMatch();
}

QString FindOnPath(const QString& name) {
    const QStringList dirs = QString::fromLocal8Bit(qgetenv("PATH")).split(QLatin1Char(':'));
    for (const QString& dir : dirs) {
        const QString candidate = (dir.isEmpty() ? QStringLiteral(".") : dir) + QLatin1Char('/') + name;
        struct stat st;
        const std::string p = SystemPath(candidate);
        if (::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0)
            return candidate;
    }
    return QString();
}

// A relative file is looked up in the directory the program will run in (the
// current one when none is given); a bare name found nowhere there is looked
// up on the PATH, as a shell would.
QString ResolveFile(const QString& file, const QString& directory) {
    if (file.startsWith(QLatin1Char('/')))
        return file;
    const QString base = directory.isEmpty() ? QDir::currentPath() : directory;
    const QString candidate = base + QLatin1Char('/') + file;
    struct stat st;
    if (::stat(SystemPath(candidate).c_str(), &st) == 0 || file.contains(QLatin1Char('/')))
        return candidate;
    const QString found = FindOnPath(file);
    return found.isEmpty() ? candidate : found;
}

// A missing last part is "file not found", a missing folder on the way "path
// not found".
int MissingPathResult(const QString& path, int err) {
    if (err == EACCES || err == EPERM)
        return kAccessDenied;
    if (err == ENOTDIR)
        return kPathNotFound;
    const QString parent = QFileInfo(path).path();
    struct stat st;
    if (::stat(SystemPath(parent).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return kPathNotFound;
    return kFileNotFound;
}

int HandToDesktop(UrlOpener* owner, const QUrl& url) {
    bool opened = false;
    if (owner)
        opened = owner->OpenUrl(url);
    else if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        opened = QDesktopServices::openUrl(url);
    return opened ? kHandedOver : kNoAssociation;
}

int ResultForStartFailure(const StartFailure& failure) {
    const int err = failure.error;
    if (failure.stage == StartFailure::ChangingFolder)
        return (err == EACCES || err == EPERM) ? kAccessDenied : kPathNotFound;
    if (failure.stage == StartFailure::Forking)
        return kOutOfMemory;
    switch (err) {
        case ENOENT:
        case ENOTDIR:
            return kFileNotFound;
        case EACCES:
        case EPERM:
            return kAccessDenied;
        case ENOEXEC:
            return kBadFormat;
        default:
            return kOutOfMemory;
    }
}

// Starts program with args. Without a pipeline nobody will wait for the
// process, so it is started through an intermediate child that ends at once:
// the process then belongs to init, which reaps it. Otherwise it is started
// as the pipeline's only program, under a watchdog: the program and its own
// children end when this program ends, and when the program ends whatever it
// left behind ends too.
int StartProcess(const QString& program, const QStringList& args, const QString& directory, bool hidden,
                 SupervisedPipeline* pipeline) {
    const ProgramCommand command{program, args};
    if (!pipeline) {
        StartFailure failure;
        return StartDetached(command, directory, hidden, &failure) ? kHandedOver
                                                                   : ResultForStartFailure(failure);
    }
    PipelineCommand started;
    started.programs = {command};
    started.folder = directory;
    started.hidden = hidden;
    return pipeline->Start(started) ? kHandedOver : ResultForStartFailure(pipeline->failure());
}

// A regular file is a program when an execute bit is set or it begins with
// "#!" (a script).
bool IsProgram(const QString& path, const struct stat& st) {
    if ((st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0)
        return true;
    const int fd = OpenRegularSource(path);
    if (fd < 0)
        return false;
    char start[2] = {0, 0};
    ssize_t got;
    do {
        got = ::pread(fd, start, sizeof start, 0);
    } while (got < 0 && errno == EINTR);
    ::close(fd);
    return got == 2 && start[0] == '#' && start[1] == '!';
}

bool IsOpenVerb(const QString& verb) {
    return verb.isEmpty() || verb == QLatin1String("open");
}

// ShellExecuteA, with the started program under pipeline's supervision, or
// nobody's when pipeline is null.
int ShellExecute(UrlOpener* owner, const QString& operation, const QString& file, const QString& parameters,
                 const QString& directory, int showCommand, SupervisedPipeline* pipeline) {
    const QString verb = operation.trimmed().toLower();
    const QString target = UnquotedFile(file);
    if (target.isEmpty())
        return kFileNotFound;

    if (!directory.isEmpty()) {
        struct stat st;
        if (::stat(SystemPath(directory).c_str(), &st) != 0)
            return (errno == EACCES || errno == EPERM) ? kAccessDenied : kPathNotFound;
        if (!S_ISDIR(st.st_mode))
            return kPathNotFound;
    }

    const QString path = ResolveFile(target, directory);
    struct stat st;
    if (::stat(SystemPath(path).c_str(), &st) != 0) {
        const int err = errno;
        if (!target.startsWith(QLatin1Char('/')) && LooksLikeUrl(target)) {
            if (!IsOpenVerb(verb))
                return kNoAssociation;
            return HandToDesktop(owner, QUrl::fromUserInput(target));
        }
        return MissingPathResult(path, err);
    }

    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (S_ISDIR(st.st_mode)) {
        if (!IsOpenVerb(verb) && verb != QLatin1String("explore"))
            return kNoAssociation;
        return HandToDesktop(owner, QUrl::fromLocalFile(absolute));
    }
    if (!IsOpenVerb(verb))
        return kNoAssociation;
    // A program is started, never handed to the desktop, also where the
    // system will not run it (a noexec file system, no permission): the start
    // then fails with "permission denied".
    if (S_ISREG(st.st_mode) && IsProgram(path, st))
        return StartProcess(absolute, SplitShellParameters(parameters), directory, showCommand == SW_HIDE,
                            pipeline);
    return HandToDesktop(owner, QUrl::fromLocalFile(absolute));
}

// GShell, with the started program under pipeline's supervision, or nobody's
// when pipeline is null.
int GShellStart(const QString& file, int showCommand, const QString& parameters, const QString& directory,
                const QString& operation, UrlOpener* ownerWindow, SupervisedPipeline* pipeline) {
    if (file.toUpper().contains(QLatin1String(".EXE")))
        showCommand = SW_HIDE;
    int result;
    if (parameters.isEmpty() && directory.isEmpty())
        result = ShellExecute(ownerWindow, operation, file, QString(), QString(), SW_SHOWNORMAL, pipeline);
    else
        result = ShellExecute(ownerWindow, operation, file, parameters, directory, showCommand, pipeline);
    if (result >= 0 && result <= 32) {
        const ShellFailure failure = ShellFailureFor(result);
        RaiseError(failure.number, failure.message, ExecutableName() + QStringLiteral(".GShell"));
    }
    return result;
}

// Calls start with a pipeline when the caller wants the started process's
// id, and hands the pipeline's watchdog over: the caller reaps it, and its
// status is the program's. Without, nobody waits for what is started.
template <typename Start>
int HandingOver(pid_t* startedProcess, const Start& start) {
    if (!startedProcess)
        return start(nullptr);
    *startedProcess = -1;
    SupervisedPipeline pipeline;
    const int result = start(&pipeline);
    if (pipeline.started())
        *startedProcess = pipeline.Release();
    return result;
}

}  // namespace

int ShellExecuteA(UrlOpener* owner, const QString& operation, const QString& file, const QString& parameters,
                  const QString& directory, int showCommand, pid_t* startedProcess) {
    return HandingOver(startedProcess, [&](SupervisedPipeline* pipeline) {
        return ShellExecute(owner, operation, file, parameters, directory, showCommand, pipeline);
    });
}

ShellFailure ShellFailureFor(int shellResult) {
    switch (shellResult) {
        case 0:
        case 8:
            return {7, QStringLiteral("Out of memory")};
        case 2:
            return {53, QStringLiteral("File not found")};
        case 3:
            return {76, QStringLiteral("Path not found")};
        case 5:
            return {75, QStringLiteral("Path/file access error")};
        case 11:
            return {kShellErrorBase + 11, QStringLiteral("The executable file is invalid or corrupt")};
        case 26:
            return {75, QStringLiteral("A sharing violation occurred.")};
        case 27:
            return {kShellErrorBase + 27,
                    QStringLiteral("This file type does not have a valid file association.")};
        case 28:
            return {286, QStringLiteral("The file could not be opened due to time out. Please try again in a "
                                        "moment.")};
        case 29:
            return {285, QStringLiteral("The file could not be opened because the DDE transaction failed. "
                                        "Please try again in a moment.")};
        case 30:
            return {285,
                    QStringLiteral("The file could not be opened because the target application is busy. "
                                   "Please try again in a moment.")};
        case 31:
            return {kShellErrorBase + 31,
                    QStringLiteral("No application is associated with this file type.")};
        case 32:
            return {48, QStringLiteral("The specified dynamic-link library was not found.")};
        default:
            if (shellResult < 0 || shellResult > 32)
                return {0, QString()};
            return {kShellErrorBase + shellResult,
                    QStringLiteral(
                        "An error occurred occurred whilst trying to open or print the selected file.")};
    }
}

int GShell(const QString& file, int showCommand, const QString& parameters, const QString& directory,
           const QString& operation, UrlOpener* ownerWindow, pid_t* startedProcess) {
    return HandingOver(startedProcess, [&](SupervisedPipeline* pipeline) {
        return GShellStart(file, showCommand, parameters, directory, operation, ownerWindow, pipeline);
    });
}

int ClampWindowStyle(int windowStyle) {
    return (windowStyle < SW_HIDE || windowStyle > SW_MINIMIZE) ? SW_MINIMIZE : windowStyle;
}

QStringList SplitShellParameters(const QString& parameters) {
    QStringList words;
    QString word;
    bool inWord = false;
    const qsizetype n = parameters.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = parameters.at(i);
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
            if (inWord) {
                words.append(word);
                word.clear();
                inWord = false;
            }
            continue;
        }
        inWord = true;
        if (c == QLatin1Char('\'')) {
            for (++i; i < n && parameters.at(i) != QLatin1Char('\''); ++i)
                word += parameters.at(i);
        } else if (c == QLatin1Char('"')) {
            for (++i; i < n && parameters.at(i) != QLatin1Char('"'); ++i) {
                const QChar d = parameters.at(i);
                if (d == QLatin1Char('\\') && i + 1 < n &&
                    QStringLiteral("\\\"$`\n").contains(parameters.at(i + 1))) {
                    ++i;
                    if (parameters.at(i) != QLatin1Char('\n'))
                        word += parameters.at(i);
                } else {
                    word += d;
                }
            }
        } else if (c == QLatin1Char('\\')) {
            if (i + 1 < n) {
                ++i;
                if (parameters.at(i) != QLatin1Char('\n'))
                    word += parameters.at(i);
            } else {
                word += c;
            }
        } else {
            word += c;
        }
    }
    if (inWord)
        words.append(word);
    return words;
}

int RunAndWait(const QString& command, int windowStyle, const QString& directory) {
    windowStyle = ClampWindowStyle(windowStyle);
    SupervisedPipeline pipeline;
    try {
        GShellStart(command, windowStyle, QString(), directory, QStringLiteral("open"), nullptr, &pipeline);
    } catch (const VbError& failure) {
        // Numbers that are already application-defined errors (negative)
        // would overflow the sum; they are returned as they are.
        if (failure.number < 0)
            return failure.number;
        return kObjectErrorBase + failure.number;
    }
    // A document, folder or address went to the desktop: no process of ours
    // to wait for.
    if (!pipeline.started())
        return 0;
    // The wait ends as soon as the program and what it left have ended.
    return pipeline.Wait([] { QCoreApplication::processEvents(); }).front().status;
}
