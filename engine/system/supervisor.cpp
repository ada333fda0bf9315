#include "system/supervisor.h"

#include "system/fileio.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <memory>
#include <string>

namespace {

constexpr int kPollIntervalMs = 100;
constexpr qsizetype kMessagesKept = 16384;

// A program's path and arguments as execv takes them, made before a fork so
// that the child needs no allocation.
class ExecArguments {
public:
    ExecArguments(const QString& program, const QStringList& arguments) {
        strings_.push_back(SystemPath(program));
        for (const QString& a : arguments)
            strings_.push_back(SystemPath(a));
        for (std::string& s : strings_)
            pointers_.push_back(s.data());
        pointers_.push_back(nullptr);
    }
    ExecArguments(const ExecArguments&) = delete;
    ExecArguments& operator=(const ExecArguments&) = delete;

    const char* program() const { return pointers_.front(); }
    char* const* argv() const { return pointers_.data(); }

private:
    std::vector<std::string> strings_;
    std::vector<char*> pointers_;
};

// Everything below up to the owner's side runs between fork and exec, or in
// a watchdog forked from a process with threads: async-signal-safe calls
// only, no Qt, no allocation, no locks.

void CloseIfOpen(int fd) {
    if (fd >= 0)
        ::close(fd);
}

// fd moved off 0, 1 and 2, which a started program gets as its standard
// streams, and close-on-exec; -1 when it could not be moved.
int OffStandardStreams(int fd) {
    if (fd < 0 || fd > 2)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

// A close-on-exec pipe with both ends off the standard streams.
bool MakePipe(int fds[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    fds[0] = OffStandardStreams(fds[0]);
    fds[1] = OffStandardStreams(fds[1]);
    if (fds[0] >= 0 && fds[1] >= 0)
        return true;
    CloseIfOpen(fds[0]);
    CloseIfOpen(fds[1]);
    return false;
}

void ReportFailure(int fd, int stage, int error) {
    StartFailure failure;
    failure.stage = stage;
    failure.error = error;
    WriteFully(fd, &failure, sizeof failure);
}

[[noreturn]] void ChildFail(int fd, int stage, int error) {
    ReportFailure(fd, stage, error);
    ::_exit(127);
}

// What a started program gets as its standard input, output and error; a
// stream given as itself (0, 1, 2) stays as this process has it.
struct Streams {
    int in;
    int out;
    int err;
};

// In the forked child: the program in place of the child. A failure to
// enter folder or to start the program goes to errorFd.
[[noreturn]] void ExecProgram(const ExecArguments& program, const char* folder, const Streams& streams,
                              int errorFd) {
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    for (const int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP})
        ::sigaction(sig, &defaultAction, nullptr);

    if (folder && ::chdir(folder) != 0)
        ChildFail(errorFd, StartFailure::ChangingFolder, errno);
    const int sources[3] = {streams.in, streams.out, streams.err};
    for (int target = 0; target < 3; ++target) {
        if (sources[target] != target && ::dup2(sources[target], target) < 0)
            ChildFail(errorFd, StartFailure::Forking, errno);
    }
    // Descriptors this process left inheritable are not the program's
    // business.
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    ::execv(program.program(), program.argv());
    ChildFail(errorFd, StartFailure::Starting, errno);
}

// Closes every descriptor from 3 up but those in keep (negative entries and
// the standard streams are passed over); keep is sorted in place.
void CloseAllBut(int* keep, size_t count) {
    for (size_t i = 1; i < count; ++i)
        for (size_t j = i; j > 0 && keep[j - 1] > keep[j]; --j)
            std::swap(keep[j - 1], keep[j]);
    unsigned next = 3;
    for (size_t i = 0; i < count; ++i) {
        if (keep[i] < 0 || static_cast<unsigned>(keep[i]) < next)
            continue;
        if (static_cast<unsigned>(keep[i]) > next)
            ::close_range(next, static_cast<unsigned>(keep[i]) - 1, 0);
        next = static_cast<unsigned>(keep[i]) + 1;
    }
    ::close_range(next, ~0U, 0);
}

// The end of this process as its watchdogs see it: a pipe whose write end
// only this process keeps open (close-on-exec, and closed by every watchdog
// at once). When this process ends, however it ends, the kernel closes it
// and the read end reports the hang-up.
struct Lifeline {
    int read = -1;
    int write = -1;
};

const Lifeline& ProcessLifeline() {
    static const Lifeline lifeline = [] {
        Lifeline l;
        int fds[2];
        if (MakePipe(fds)) {
            l.read = fds[0];
            l.write = fds[1];
        }
        return l;
    }();
    return lifeline;
}

// One program of a pipeline as its watchdog follows it.
struct Running {
    pid_t pid = -1;
    int pidfd = -1;  // readable once the program has ended
    bool ended = false;
};

// Everything the watchdog needs, made before the fork; it writes only into
// its own copy of the arrays prepared here.
struct WatchPlan {
    const std::vector<std::unique_ptr<ExecArguments>>* programs = nullptr;
    const char* folder = nullptr;  // null: stay where this process is
    int input = -1;
    int output = -1;
    bool hidden = true;
    int messages = -1;  // the programs' standard error, or -1
    int errorFd = -1;   // start failures
    int statusFd = -1;  // the programs' ends, written once they have all ended
    int stopFd = -1;    // a byte here stops the pipeline
    int lifeline = -1;
    Running* running = nullptr;
    ProgramEnd* ends = nullptr;
    struct pollfd* polls = nullptr;  // room for every program and two more
};

// True when the program has ended (its end is then in `end`) or cannot be
// waited for. The group's leader (the first program) is left unreaped, so
// that the group's id cannot pass to another process while the group may
// still be killed.
bool HasEnded(pid_t pid, bool leader, ProgramEnd& end) {
    if (leader) {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
            return errno != EINTR;
        if (info.si_pid != pid)
            return false;
        if (info.si_code == CLD_EXITED) {
            end.status = info.si_status;
        } else {
            end.signal = info.si_status;
            end.status = 128 + end.signal;
        }
        return true;
    }
    int status = 0;
    const pid_t reaped = ::waitpid(pid, &status, WNOHANG);
    if (reaped < 0)
        return errno != EINTR;
    if (reaped != pid)
        return false;
    if (WIFEXITED(status)) {
        end.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        end.signal = WTERMSIG(status);
        end.status = 128 + end.signal;
    }
    return true;
}

void KillGroup(pid_t group) {
    // Never 0 or -1: kill(0) would reach this very group.
    if (group > 0)
        ::kill(-group, SIGKILL);
}

// The watchdog: starts the programs in a process group of their own and
// stays their parent until they and everything they started have ended.
[[noreturn]] void Watch(const WatchPlan& plan) {
    // Signals are not for the watchdog: a terminal's Ctrl-C ends this
    // process, and the lifeline then ends the tools. A write to an owner
    // that has let go fails instead of killing it.
    sigset_t all;
    ::sigfillset(&all);
    ::sigprocmask(SIG_SETMASK, &all, nullptr);
    // Other pipelines' descriptors (and the lifeline's write end) must not
    // live on here, or their readers would never see them end.
    int keep[] = {plan.errorFd, plan.statusFd, plan.stopFd, plan.lifeline, plan.input, plan.output, plan.messages};
    CloseAllBut(keep, sizeof keep / sizeof keep[0]);
    // A name of its own, so that killing this program by its name (killall,
    // pkill) leaves the watchdog to end the tools.
    ::prctl(PR_SET_NAME, "tool-watchdog");
    // Orphans among the descendants come to the watchdog, not to init, so
    // that it can see them end.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    const pid_t watchdog = ::getpid();
    // Without /dev/null the streams stay as they are.
    const int null = plan.hidden ? OffStandardStreams(::open("/dev/null", O_RDWR | O_CLOEXEC)) : -1;
    const size_t count = plan.programs->size();

    // Nothing is started for a pipeline stopped already.
    struct pollfd stop = {plan.stopFd, POLLIN, 0};
    const bool stoppedFirst = ::poll(&stop, 1, 0) > 0 && (stop.revents & POLLIN) != 0;
    pid_t group = 0;
    size_t started = 0;
    int feed = -1;  // the previous program's output
    for (size_t i = 0; i < count && !stoppedFirst; ++i) {
        const bool last = i + 1 == count;
        int next[2] = {-1, -1};
        if (!last && !MakePipe(next)) {
            ReportFailure(plan.errorFd, StartFailure::Forking, errno);
            break;
        }
        Streams streams;
        streams.in = i > 0 ? feed : plan.input >= 0 ? plan.input : null >= 0 ? null : 0;
        streams.out = !last ? next[1] : plan.output >= 0 ? plan.output : null >= 0 ? null : 1;
        streams.err = plan.messages >= 0 ? plan.messages : null >= 0 ? null : 2;
        // _Fork, unlike fork, runs no fork handlers and may be called here.
        const pid_t pid = ::_Fork();
        if (pid == 0) {
            ::setpgid(0, group);
            // Should the watchdog itself be killed, the program goes too.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != watchdog)
                ::_exit(128 + SIGKILL);
            ExecProgram(*(*plan.programs)[i], plan.folder, streams, plan.errorFd);
        }
        // The pipes between the programs are theirs alone, so that each sees
        // the end of its input when the one before it ends.
        CloseIfOpen(feed);
        CloseIfOpen(next[1]);
        feed = next[0];
        if (pid < 0) {
            ReportFailure(plan.errorFd, StartFailure::Forking, errno);
            break;
        }
        // Both sides set the group, so that it stands before either goes on.
        ::setpgid(pid, group > 0 ? group : pid);
        if (group == 0)
            group = pid;
        plan.running[i].pid = pid;
        plan.running[i].pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        plan.ends[i].started = true;
        ++started;
    }
    CloseIfOpen(feed);
    CloseIfOpen(null);
    CloseIfOpen(plan.messages);
    if (plan.input > 2)
        ::close(plan.input);
    if (plan.output > 2 && plan.output != plan.input)
        ::close(plan.output);
    // The owner learns that every program runs when this end and the
    // programs' (closed on exec) are gone.
    ::close(plan.errorFd);
    if (started < count)
        KillGroup(group);

    int lifeline = plan.lifeline;
    int stopFd = plan.stopFd;
    size_t left = started;
    while (left > 0) {
        for (size_t i = 0; i < started; ++i) {
            Running& program = plan.running[i];
            if (program.ended || !HasEnded(program.pid, i == 0, plan.ends[i]))
                continue;
            program.ended = true;
            CloseIfOpen(program.pidfd);
            program.pidfd = -1;
            --left;
        }
        if (left == 0)
            break;
        // A negative descriptor is passed over: without a lifeline or process
        // descriptors the watchdog still looks every pause.
        nfds_t polled = 0;
        plan.polls[polled++] = {lifeline, POLLIN, 0};
        plan.polls[polled++] = {stopFd, POLLIN, 0};
        for (size_t i = 0; i < started; ++i) {
            if (!plan.running[i].ended)
                plan.polls[polled++] = {plan.running[i].pidfd, POLLIN, 0};
        }
        if (::poll(plan.polls, polled, kPollIntervalMs) <= 0)
            continue;
        if (plan.polls[0].revents != 0) {
            KillGroup(group);  // this process has ended
            lifeline = -1;
        }
        if ((plan.polls[1].revents & POLLIN) != 0)
            KillGroup(group);  // stopped
        if (plan.polls[1].revents != 0)
            stopFd = -1;  // stopped, or the owner has let go
    }
    // Whatever of the group is left ends with the programs. The group's id
    // stays the leader's until the leader is reaped, so this reaches no
    // other process.
    KillGroup(group);
    if (group > 0) {
        while (::waitpid(group, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    while (::waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
    }
    WriteFully(plan.statusFd, plan.ends, sizeof(ProgramEnd) * count);
    ::_exit(plan.ends[0].started && plan.ends[0].status >= 0 ? plan.ends[0].status : 127);
}

// What the children reported through the failure pipe, read until its end:
// true with *failure set when a start failed, false when every program runs
// (the pipe's ends close on exec).
bool ReadFailure(int fd, StartFailure* failure) {
    StartFailure reported;
    ssize_t got = 0;
    for (;;) {
        const ssize_t n = ::read(fd, reinterpret_cast<char*>(&reported) + got, sizeof reported - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
        if (got == static_cast<ssize_t>(sizeof reported))
            break;
    }
    if (got == 0)
        return false;
    *failure = got == static_cast<ssize_t>(sizeof reported) ? reported : StartFailure{};
    return true;
}

}  // namespace

SupervisedPipeline::SupervisedPipeline() {
    // This process keeps the read end too, so that a late Stop never writes
    // into a pipe nobody reads.
    int fds[2];
    if (MakePipe(fds)) {
        stopRead_ = fds[0];
        stopWrite_ = fds[1];
    }
}

SupervisedPipeline::~SupervisedPipeline() {
    if (watchdog_ > 0 && !finished_) {
        Stop();
        Wait();
    }
    for (const int fd : {stopRead_, stopWrite_, status_, messagesFd_})
        CloseIfOpen(fd);
}

bool SupervisedPipeline::Start(const PipelineCommand& command) {
    failure_ = StartFailure{};
    if (watchdog_ > 0 || finished_ || command.programs.empty()) {
        failure_.error = EINVAL;
        return false;
    }
    if (stopRequested_) {
        failure_.error = ECANCELED;
        return false;
    }
    const Lifeline& lifeline = ProcessLifeline();
    std::vector<std::unique_ptr<ExecArguments>> programs;
    for (const ProgramCommand& program : command.programs)
        programs.push_back(std::make_unique<ExecArguments>(program.program, program.arguments));
    const std::string folder = SystemPath(command.folder);
    std::vector<Running> running(programs.size());
    std::vector<struct pollfd> polls(programs.size() + 2);
    ends_.assign(programs.size(), ProgramEnd{});

    int error[2] = {-1, -1};
    int status[2] = {-1, -1};
    int messages[2] = {-1, -1};
    if (stopWrite_ < 0 || lifeline.read < 0 || !MakePipe(error) || !MakePipe(status) ||
        (command.captureMessages && !MakePipe(messages))) {
        failure_.error = errno;
        for (const int fd : {error[0], error[1], status[0], status[1], messages[0], messages[1]})
            CloseIfOpen(fd);
        return false;
    }

    WatchPlan plan;
    plan.programs = &programs;
    plan.folder = command.folder.isEmpty() ? nullptr : folder.c_str();
    plan.input = command.input;
    plan.output = command.output;
    plan.hidden = command.hidden;
    plan.messages = messages[1];
    plan.errorFd = error[1];
    plan.statusFd = status[1];
    plan.stopFd = stopRead_;
    plan.lifeline = lifeline.read;
    plan.running = running.data();
    plan.ends = ends_.data();
    plan.polls = polls.data();

    const pid_t pid = ::fork();
    if (pid == 0)
        Watch(plan);
    const int forkError = errno;
    for (const int fd : {error[1], status[1], messages[1]})
        CloseIfOpen(fd);
    if (pid < 0) {
        failure_.error = forkError;
        for (const int fd : {error[0], status[0], messages[0]})
            CloseIfOpen(fd);
        return false;
    }
    watchdog_ = pid;
    status_ = status[0];
    messagesFd_ = messages[0];
    if (messagesFd_ >= 0)
        ::fcntl(messagesFd_, F_SETFL, O_NONBLOCK);

    const bool failed = ReadFailure(error[0], &failure_);
    ::close(error[0]);
    if (!failed) {
        failure_ = StartFailure{};
        return true;
    }
    Stop();
    Wait();
    watchdog_ = -1;
    return false;
}

std::vector<ProgramEnd> SupervisedPipeline::Wait(const std::function<void()>& between) {
    if (watchdog_ <= 0 || finished_)
        return ends_;
    std::vector<ProgramEnd> report(ends_.size());
    const size_t wanted = report.size() * sizeof(ProgramEnd);
    size_t got = 0;
    char buffer[4096];
    // Reads what is waiting on the first program's standard error, keeping
    // its beginning: 1 when something came, 0 at its end, -1 when nothing
    // is waiting.
    const auto readMessages = [this, &buffer]() {
        for (;;) {
            const ssize_t n = ::read(messagesFd_, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                return -1;
            if (n <= 0)
                return 0;
            messages_.append(
                buffer, std::min<qsizetype>(n, std::max<qsizetype>(kMessagesKept - messages_.size(), 0)));
            return 1;
        }
    };
    const auto closeMessages = [this]() {
        ::close(messagesFd_);
        messagesFd_ = -1;
    };

    // The report comes when everything the watchdog waited for has ended;
    // the end of the pipe without it means the watchdog was killed.
    for (bool reported = false; !reported;) {
        struct pollfd p[2] = {{status_, POLLIN, 0}, {messagesFd_, POLLIN, 0}};
        if (::poll(p, 2, between ? kPollIntervalMs : -1) > 0) {
            // Read as it comes, so that the program never blocks on a full
            // pipe.
            if (p[1].revents != 0 && readMessages() == 0)
                closeMessages();
            if (p[0].revents != 0) {
                char* into = got < wanted ? reinterpret_cast<char*>(report.data()) + got : buffer;
                const ssize_t n = ::read(status_, into, got < wanted ? wanted - got : sizeof buffer);
                if (n > 0 && got < wanted)
                    got += static_cast<size_t>(n);
                else if (n == 0 || (n < 0 && errno != EINTR))
                    reported = true;
            }
        }
        if (between)
            between();
    }
    int watchdogStatus = 0;
    while (::waitpid(watchdog_, &watchdogStatus, 0) < 0 && errno == EINTR) {
    }
    if (got != wanted && WIFSIGNALED(watchdogStatus))
        watchdogSignal_ = WTERMSIG(watchdogStatus);
    // What the programs wrote last; a writer that left the group does
    // not hold the wait up.
    while (messagesFd_ >= 0 && readMessages() > 0) {
    }
    for (int* fd : {&status_, &messagesFd_}) {
        CloseIfOpen(*fd);
        *fd = -1;
    }
    finished_ = true;
    ends_ = got == wanted ? report : std::vector<ProgramEnd>(report.size());
    return ends_;
}

void SupervisedPipeline::Stop() {
    if (stopRequested_.exchange(true) || stopWrite_ < 0)
        return;
    const char stop = 1;
    while (::write(stopWrite_, &stop, 1) < 0 && errno == EINTR) {
    }
}

pid_t SupervisedPipeline::Release() {
    if (watchdog_ <= 0 || finished_)
        return -1;
    finished_ = true;
    // The watchdog's report then goes nowhere; it is told by its status.
    for (int* fd : {&status_, &messagesFd_}) {
        CloseIfOpen(*fd);
        *fd = -1;
    }
    return watchdog_;
}

bool StartDetached(const ProgramCommand& command, const QString& folder, bool hidden, StartFailure* failure) {
    const ExecArguments argv(command.program, command.arguments);
    const std::string directory = SystemPath(folder);
    const char* const workIn = folder.isEmpty() ? nullptr : directory.c_str();
    int error[2];
    if (!MakePipe(error)) {
        *failure = StartFailure{StartFailure::Forking, errno};
        return false;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        const pid_t program = ::_Fork();
        if (program < 0)
            ChildFail(error[1], StartFailure::Forking, errno);
        if (program == 0) {
            Streams streams{0, 1, 2};
            const int null = hidden ? OffStandardStreams(::open("/dev/null", O_RDWR | O_CLOEXEC)) : -1;
            if (null >= 0)
                streams = {null, null, null};
            ExecProgram(argv, workIn, streams, error[1]);
        }
        ::_exit(0);
    }
    const int forkError = errno;
    ::close(error[1]);
    if (pid < 0) {
        ::close(error[0]);
        *failure = StartFailure{StartFailure::Forking, forkError};
        return false;
    }
    const bool failed = ReadFailure(error[0], failure);
    ::close(error[0]);
    // The intermediate child ends at once; the program then belongs to init.
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return !failed;
}
