#pragma once
// Started programs under supervision. A pipeline of one or more programs
// (each one's standard output feeding the next one's standard input) runs in
// a process group of its own under a watchdog: a process named
// "tool-watchdog" that is the programs' parent and the subreaper of
// everything they start. The watchdog kills the whole group, the programs'
// own children included,
// - when this process ends, however it ends (kill -9 included);
// - when its owner stops the pipeline;
// - once every program of the pipeline has ended: whatever of the group is
//   left then ends with them.
// Signals sent to the watchdog are blocked, so that a terminal's Ctrl-C
// reaches this process and, through it, the tools. The watchdog reports how
// each program ended, then ends once every one of its descendants has ended,
// with the first program's status (its exit status, or 128 + N after signal
// N).
//
// Every started program gets its signals unblocked and SIGPIPE, SIGINT,
// SIGQUIT, SIGTERM and SIGHUP at their defaults, and no descriptor but its
// standard streams.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <vector>

// A program to start: its path and arguments.
struct ProgramCommand {
    QString program;
    QStringList arguments;
};

// The programs of a pipeline, where they run and where their standard
// streams go.
struct PipelineCommand {
    std::vector<ProgramCommand> programs;  // at least one
    QString folder;                        // "" for this process's current folder
    // The first program's standard input, a descriptor that stays the
    // caller's; -1 for the one `hidden` says.
    int input = -1;
    // The last program's standard output, likewise.
    int output = -1;
    // The standard streams that are not set otherwise (the first program's
    // input, the last one's output, every standard error) read and write
    // /dev/null; false: they are this process's own.
    bool hidden = true;
    // Every program's standard error comes back through messages().
    bool captureMessages = false;
};

// Why a program could not be started, as the child that tried reports it.
struct StartFailure {
    enum Stage : int {
        ChangingFolder = 0,  // error: why the folder could not be entered
        Starting = 1,        // error: why execv refused the program
        Forking = 2,         // no process, pipe or descriptor (error may be 0)
    };
    int stage = Forking;
    int error = 0;
};

// How one program ended.
struct ProgramEnd {
    bool started = false;
    int status = -1;  // the exit status, or 128 + N after signal N; -1 unknown
    int signal = 0;   // the signal that ended it; 0 when it exited
};

class SupervisedPipeline {
public:
    SupervisedPipeline();
    // A pipeline that was started and neither waited for nor released is
    // stopped and waited for.
    ~SupervisedPipeline();
    SupervisedPipeline(const SupervisedPipeline&) = delete;
    SupervisedPipeline& operator=(const SupervisedPipeline&) = delete;

    // Starts the programs, once. Returns when each of them runs, or when one
    // could not be started: then false, failure() says why, and what had been
    // started is stopped and waited for. Once Stop has run nothing is started.
    bool Start(const PipelineCommand& command);
    bool started() const { return watchdog_ > 0; }
    const StartFailure& failure() const { return failure_; }

    // Waits until the watchdog has ended: every program and everything they
    // started. With `between`, it is called at least once and at least every
    // 100 ms meanwhile, on the waiting thread; without, the wait blocks.
    // Returns each program's end, in the pipeline's order (all unknown when
    // the watchdog itself was killed: watchdogSignal() then says by what).
    std::vector<ProgramEnd> Wait(const std::function<void()>& between = {});

    // The signal that ended the watchdog before it could report, or 0.
    int watchdogSignal() const { return watchdogSignal_; }

    // What the programs wrote on their standard error (its first 16 KiB)
    // once Wait has returned, when it was captured.
    const QByteArray& messages() const { return messages_; }

    // Kills the pipeline's process group; before Start, keeps it from
    // starting anything. Safe from any thread, also while another one waits.
    void Stop();

    // Lets go of a started pipeline: the caller owns the returned watchdog
    // and must reap it; its exit status is the first program's. The programs
    // still end when this process ends.
    pid_t Release();

private:
    pid_t watchdog_ = -1;
    bool finished_ = false;  // waited for or released
    int stopRead_ = -1;      // the watchdog kills the group when a byte arrives
    int stopWrite_ = -1;
    std::atomic<bool> stopRequested_{false};
    int status_ = -1;  // the watchdog's report of the ends
    int watchdogSignal_ = 0;
    int messagesFd_ = -1;
    std::vector<ProgramEnd> ends_;
    QByteArray messages_;
    StartFailure failure_;
};

// Starts a program that nobody waits for, through an intermediate child that
// ends at once (init then reaps the program), in folder ("" for this
// process's current one), its standard streams /dev/null when hidden and
// this process's own otherwise. Returns false with *failure set when it could
// not be started.
bool StartDetached(const ProgramCommand& command, const QString& folder, bool hidden, StartFailure* failure);
