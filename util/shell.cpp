#include "util/shell.h"

#include "app/dialogs.h"
#include "util/errors.h"
#include "util/files.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QThread>
#include <QUrl>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

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

constexpr int kPollIntervalMs = 100;

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

int HandToDesktop(Dialogs* owner, const QUrl& url) {
    bool opened = false;
    if (owner)
        opened = owner->OpenUrl(url);
    else if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        opened = QDesktopServices::openUrl(url);
    return opened ? kHandedOver : kNoAssociation;
}

// What the child reports through its error pipe when it could not exec.
struct ChildFailure {
    int stage;  // 0 changing directory, 1 starting the program, 2 forking
    int error;
};

// Everything the child needs, prepared before fork: between fork and exec
// the child may only make async-signal-safe calls, so it touches no Qt, no
// allocation and no locks.
struct ChildPlan {
    const char* program = nullptr;
    char* const* argv = nullptr;
    const char* directory = nullptr;  // null: stay where the parent is
    bool hidden = false;
    int errorFd = -1;
    int lifelineRead = -1;
    int lifelineWrite = -1;
};

// The program's end as a watchdog sees it: a pipe whose write end only this
// process keeps open (close-on-exec, and closed by every watchdog at once).
// When the program ends, however it ends (kill -9 included), the kernel
// closes it and the read end reports the hang-up.
struct Lifeline {
    int read = -1;
    int write = -1;
};

const Lifeline& ProgramLifeline() {
    static const Lifeline lifeline = [] {
        Lifeline l;
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) == 0) {
            l.read = fds[0];
            l.write = fds[1];
        }
        return l;
    }();
    return lifeline;
}

[[noreturn]] void ChildFail(int fd, int stage, int error) {
    const ChildFailure failure{stage, error};
    ssize_t ignored = ::write(fd, &failure, sizeof failure);
    (void)ignored;
    ::_exit(127);
}

[[noreturn]] void ChildExec(const ChildPlan& plan) {
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &defaultAction, nullptr);

    if (plan.directory && ::chdir(plan.directory) != 0)
        ChildFail(plan.errorFd, 0, errno);
    if (plan.hidden)
        HideStandardStreams();
    // Descriptors the program left inheritable are not the started
    // program's business.
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    ::execv(plan.program, plan.argv);
    ChildFail(plan.errorFd, 1, errno);
}

// The process that the program waits for when it starts a program of its
// own (a conversion script): it starts the program in a process group of its
// own and stays its parent. When the program it serves ends first, however
// it ends, it kills the whole group: the script and every tool the script
// started (a grandchild that no parent-death signal would reach). When the
// started program ends, whatever of its group is left ends with it. It exits
// with the started program's status (128 + N for signal N) once every one of
// its descendants has ended. Runs in the forked child: async-signal-safe
// calls only.
[[noreturn]] void WatchChild(const ChildPlan& plan) {
    if (plan.lifelineWrite >= 0)
        ::close(plan.lifelineWrite);
    // A name of its own, so that killing the program by its name (killall,
    // pkill) leaves the watchdog to end the tools.
    ::prctl(PR_SET_NAME, "tool-watchdog");
    // Orphans among the descendants come to the watchdog, not to init, so
    // that it can see them end.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    const pid_t watchdog = ::getpid();
    const pid_t child = ::_Fork();
    if (child < 0)
        ChildFail(plan.errorFd, 2, errno);
    if (child == 0) {
        ::setpgid(0, 0);
        // Should the watchdog itself be killed, the started program goes too.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != watchdog)
            ::_exit(128 + SIGKILL);
        ChildExec(plan);
    }
    ::setpgid(child, child);  // whichever of the two runs first
    ::close(plan.errorFd);

    const int childEnd = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    int lifeline = plan.lifelineRead;
    for (;;) {
        siginfo_t info{};
        const int r = ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT);
        if ((r == 0 && info.si_pid == child) || (r < 0 && errno != EINTR))
            break;
        // A negative descriptor is passed over: without a lifeline or a
        // process descriptor the watchdog still looks every pause.
        struct pollfd p[2] = {{lifeline, POLLIN, 0}, {childEnd, POLLIN, 0}};
        if (::poll(p, 2, kPollIntervalMs) > 0 && p[0].revents != 0) {
            ::kill(-child, SIGKILL);  // the program has ended
            lifeline = -1;
        }
    }
    // The group's id stays the child's until the child is reaped, so this
    // reaches no other process.
    ::kill(-child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    while (::waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
    }
    if (WIFEXITED(status))
        ::_exit(WEXITSTATUS(status));
    ::_exit(WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 127);
}

int ResultForChildFailure(const ChildFailure& failure) {
    const int err = failure.error;
    if (failure.stage == 0)
        return (err == EACCES || err == EPERM) ? kAccessDenied : kPathNotFound;
    if (failure.stage == 2)
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

// Starts program with args. When startedProcess is null nobody will wait for
// the process, so it is started through an intermediate child that ends at
// once: the process then belongs to init, which reaps it. Otherwise it is
// started under a watchdog (WatchChild), whose id is the one returned: the
// program and its own children end when this program ends.
int StartProcess(const QString& program, const QStringList& args, const QString& directory, bool hidden,
                 pid_t* startedProcess) {
    const ExecArguments argv(program, args);
    const std::string dir = SystemPath(directory);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return kOutOfMemory;
    // Keep the write end off 0, 1 and 2, which the child may replace.
    if (fds[1] <= 2) {
        const int moved = ::fcntl(fds[1], F_DUPFD_CLOEXEC, 3);
        ::close(fds[1]);
        if (moved < 0) {
            ::close(fds[0]);
            return kOutOfMemory;
        }
        fds[1] = moved;
    }

    ChildPlan plan;
    plan.program = argv.program();
    plan.argv = argv.argv();
    plan.directory = directory.isEmpty() ? nullptr : dir.c_str();
    plan.hidden = hidden;
    plan.errorFd = fds[1];
    const bool detach = startedProcess == nullptr;
    if (!detach) {
        plan.lifelineRead = ProgramLifeline().read;
        plan.lifelineWrite = ProgramLifeline().write;
    }

    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!detach)
            WatchChild(plan);
        // _Fork, unlike fork, runs no fork handlers and may be called here.
        const pid_t grandchild = ::_Fork();
        if (grandchild < 0)
            ChildFail(plan.errorFd, 2, errno);
        if (grandchild == 0)
            ChildExec(plan);
        ::_exit(0);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return kOutOfMemory;
    }

    // The pipe reaches its end when the program has been started (its end of
    // the pipe closes on exec) or the child has ended.
    ChildFailure failure{};
    ssize_t got = 0;
    for (;;) {
        const ssize_t n = ::read(fds[0], reinterpret_cast<char*>(&failure) + got, sizeof failure - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
        if (got == static_cast<ssize_t>(sizeof failure))
            break;
    }
    ::close(fds[0]);
    const bool started = got == 0;
    if (detach || !started) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (!started)
        return got == static_cast<ssize_t>(sizeof failure) ? ResultForChildFailure(failure) : kOutOfMemory;
    if (startedProcess)
        *startedProcess = pid;
    return kHandedOver;
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

}  // namespace

int ShellExecuteA(Dialogs* owner, const QString& operation, const QString& file, const QString& parameters,
                  const QString& directory, int showCommand, pid_t* startedProcess) {
    if (startedProcess)
        *startedProcess = -1;
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
                            startedProcess);
    return HandToDesktop(owner, QUrl::fromLocalFile(absolute));
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
           const QString& operation, Dialogs* ownerWindow, pid_t* startedProcess) {
    if (file.toUpper().contains(QLatin1String(".EXE")))
        showCommand = SW_HIDE;
    int result;
    if (parameters.isEmpty() && directory.isEmpty())
        result =
            ShellExecuteA(ownerWindow, operation, file, QString(), QString(), SW_SHOWNORMAL, startedProcess);
    else
        result =
            ShellExecuteA(ownerWindow, operation, file, parameters, directory, showCommand, startedProcess);
    if (result >= 0 && result <= 32) {
        const ShellFailure failure = ShellFailureFor(result);
        RaiseError(failure.number, failure.message, ExecutableName() + QStringLiteral(".GShell"));
    }
    return result;
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
    pid_t process = -1;
    try {
        GShell(command, windowStyle, QString(), directory, QStringLiteral("open"), nullptr, &process);
    } catch (const VbError& failure) {
        // Numbers that are already application-defined errors (negative)
        // would overflow the sum; they are returned as they are.
        if (failure.number < 0)
            return failure.number;
        return kObjectErrorBase + failure.number;
    }
    // A document, folder or address went to the desktop: no process of ours
    // to wait for.
    if (process <= 0)
        return 0;

    // The pause of each pass ends early when the process ends, so that the
    // end of a program is noticed at once rather than up to a pass later.
    const int endSignal = static_cast<int>(::syscall(SYS_pidfd_open, process, 0));
    int status = 0;
    bool ended = false;
    bool known = true;
    do {
        const pid_t r = ::waitpid(process, &status, WNOHANG);
        if (r == process) {
            ended = true;
        } else if (r < 0 && errno != EINTR) {
            // Someone else has reaped it: it has ended, its code is lost.
            ended = true;
            known = false;
        }
        QCoreApplication::processEvents();
        if (ended)
            break;
        if (endSignal >= 0) {
            struct pollfd p {
                endSignal, POLLIN, 0
            };
            ::poll(&p, 1, kPollIntervalMs);
        } else {
            QThread::msleep(kPollIntervalMs);
        }
    } while (!ended);
    if (endSignal >= 0)
        ::close(endSignal);

    if (!known)
        return -1;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

void HideStandardStreams() {
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (null > 2)
            ::close(null);
    }
}

ExecArguments::ExecArguments(const QString& program, const QStringList& arguments) {
    strings_.push_back(SystemPath(program));
    for (const QString& a : arguments)
        strings_.push_back(QFile::encodeName(a).toStdString());
    for (std::string& s : strings_)
        pointers_.push_back(s.data());
    pointers_.push_back(nullptr);
}
