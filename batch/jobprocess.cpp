#include "batch/jobprocess.h"

#include "util/files.h"
#include "util/shell.h"

#include <QFile>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

// Run's result for a script that was not started (below -1, which stands
// for a status that was lost).
constexpr int kNotStarted = -2;

// Between fork and exec the child makes only async-signal-safe calls: every
// string it needs is made before.
[[noreturn]] void StartChild(const char* program, char* const* argv, const char* directory) {
    ::setpgid(0, 0);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &defaultAction, nullptr);
    ::sigaction(SIGINT, &defaultAction, nullptr);
    ::sigaction(SIGTERM, &defaultAction, nullptr);
    ::sigaction(SIGHUP, &defaultAction, nullptr);
    if (::chdir(directory) != 0)
        ::_exit(127);
    HideStandardStreams();
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    ::execv(program, argv);
    ::_exit(127);
}

}  // namespace

JobProcesses::JobProcesses(int jobs) : groups_(static_cast<size_t>(jobs), 0) {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

bool JobProcesses::Stopping() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return stopping_;
}

void JobProcesses::StopAll() {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
    for (const pid_t group : groups_) {
        if (group > 0)
            ::kill(-group, SIGKILL);
    }
}

int JobProcesses::Run(int slot, const QString& script, const QStringList& arguments, const QString& folder) {
    const ExecArguments argv(script, arguments);
    const std::string directory = SystemPath(folder);

    pid_t pid;
    {
        // Started under the lock, so that StopAll either sees the new group
        // or has already kept it from starting.
        std::lock_guard<std::mutex> hold(mutex_);
        if (stopping_)
            return kNotStarted;
        pid = ::fork();
        if (pid == 0)
            StartChild(argv.program(), argv.argv(), directory.c_str());
        if (pid < 0)
            return kNotStarted;
        // Both sides make the group, so that it stands before either goes on.
        ::setpgid(pid, pid);
        groups_[static_cast<size_t>(slot)] = pid;
    }

    // Waited for without reaping first: the group's id stays the script's
    // until the slot has let go of it, so StopAll can never hit another
    // process that happens to get the id later.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    {
        std::lock_guard<std::mutex> hold(mutex_);
        groups_[static_cast<size_t>(slot)] = 0;
    }
    int status = 0;
    pid_t reaped;
    do {
        reaped = ::waitpid(pid, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    // The batch is the subreaper of its tools: a tool whose script was
    // killed under it is the batch's child now, and is waited for here, so
    // that no tool of a stopped job outlives the batch.
    while (::waitpid(-pid, nullptr, 0) > 0 || errno == EINTR) {
    }
    if (reaped != pid)
        return -1;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}
