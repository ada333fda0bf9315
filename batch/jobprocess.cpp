#include "batch/jobprocess.h"

#include "util/fileio.h"
#include "util/shell.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

// The descriptors one tool gets as its standard streams.
struct Streams {
    int in;
    int out;
    int err;
};

// Between fork and exec the child makes only async-signal-safe calls: every
// string and descriptor it needs is made before.
[[noreturn]] void StartTool(const char* program, char* const* argv, const char* directory, pid_t group,
                            pid_t batch, const Streams& streams) {
    ::setpgid(0, group);
    // Killed with the thread that started it, which waits for it: so with
    // the batch, however the batch ends.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != batch)
        ::_exit(127);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    for (const int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &defaultAction, nullptr);
    if (::chdir(directory) != 0)
        ::_exit(127);
    if (::dup2(streams.in, 0) < 0 || ::dup2(streams.out, 1) < 0 || ::dup2(streams.err, 2) < 0)
        ::_exit(127);
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    ::execv(program, argv);
    ::_exit(127);
}

// How a tool ended from its wait status; -1 when the status was lost.
ToolEnd EndOf(int status) {
    ToolEnd end;
    end.started = true;
    if (status == -1) {
        end.status = -1;
    } else if (WIFEXITED(status)) {
        end.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        end.signal = WTERMSIG(status);
        end.status = 128 + end.signal;
    }
    return end;
}

int Reap(pid_t pid) {
    int status = 0;
    pid_t reaped;
    do {
        reaped = ::waitpid(pid, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    return reaped == pid ? status : -1;
}

void CloseAll(std::initializer_list<int> fds) {
    for (const int fd : fds)
        if (fd >= 0)
            ::close(fd);
}

// Up to a few KiB of what is waiting in a pipe whose writers have ended.
QByteArray Drain(int fd) {
    QByteArray text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || text.size() > 16384)
            return text;
        text.append(buffer, n);
    }
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

PipelineEnd JobProcesses::Run(int slot, const ToolCommand& decoder, const ToolCommand* encoder, int input,
                              const QString& folder) {
    PipelineEnd end;
    const ExecArguments decoderArgv(decoder.program, decoder.arguments);
    const ExecArguments encoderArgv(encoder ? encoder->program : decoder.program,
                                    encoder ? encoder->arguments : QStringList());
    const std::string directory = SystemPath(folder);
    const pid_t batch = ::getpid();

    int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    int audio[2] = {-1, -1};    // decoder -> encoder
    int message[2] = {-1, -1};  // the decoder's standard error -> here
    if (null < 0 || ::pipe2(message, O_CLOEXEC) != 0 || (encoder && ::pipe2(audio, O_CLOEXEC) != 0)) {
        CloseAll({null, audio[0], audio[1], message[0], message[1]});
        return end;
    }

    pid_t first = -1;
    pid_t second = -1;
    {
        // Started under the lock, so that StopAll either sees the new group
        // or has already kept it from starting.
        std::lock_guard<std::mutex> hold(mutex_);
        if (!stopping_) {
            first = ::fork();
            if (first == 0)
                StartTool(decoderArgv.program(), decoderArgv.argv(), directory.c_str(), 0, batch,
                          {input, encoder ? audio[1] : null, message[1]});
            if (first > 0) {
                // Both sides make the group, so that it stands before either goes on.
                ::setpgid(first, first);
                groups_[static_cast<size_t>(slot)] = first;
                if (encoder) {
                    second = ::fork();
                    if (second == 0)
                        StartTool(encoderArgv.program(), encoderArgv.argv(), directory.c_str(), first, batch,
                                  {audio[0], null, null});
                    if (second > 0)
                        ::setpgid(second, first);
                    else
                        ::kill(first, SIGKILL);  // no encoder for its output
                }
            }
        }
    }
    CloseAll({null, audio[0], audio[1], message[1]});
    if (first <= 0) {
        ::close(message[0]);
        return end;
    }

    if (second > 0)
        end.encoder = EndOf(Reap(second));
    // The decoder is waited for without reaping first: the group's id stays
    // its own until the slot has let go of it, so StopAll can never hit
    // another process that happens to get the id later.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(first), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    {
        std::lock_guard<std::mutex> hold(mutex_);
        groups_[static_cast<size_t>(slot)] = 0;
    }
    end.decoder = EndOf(Reap(first));
    // The batch is the subreaper of its tools: anything they started is
    // waited for here too.
    while (::waitpid(-first, nullptr, 0) > 0 || errno == EINTR) {
    }
    end.decoderMessage = Drain(message[0]);
    ::close(message[0]);
    return end;
}
