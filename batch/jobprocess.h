#pragma once
// The tools of a batch's jobs: one file's decoder, and its encoder reading
// the decoder's output through a pipe, started in a process group of their
// own, so that stopping the batch stops every tool. Each tool is killed by
// the system when the batch ends however it ends (a crash, SIGKILL), so no
// tool works on for a batch that is gone.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <mutex>
#include <vector>

// A program to start: its path and arguments.
struct ToolCommand {
    QString program;
    QStringList arguments;
};

// How one tool ended.
struct ToolEnd {
    bool started = false;
    int status = -1;  // the exit status, or 128 + N after signal N
    int signal = 0;   // the signal that ended it; 0 when it exited
};

struct PipelineEnd {
    ToolEnd decoder;
    ToolEnd encoder;
    QByteArray decoderMessage;  // what the decoder wrote on its standard error
};

class JobProcesses {
public:
    // Makes this process the subreaper of the tools.
    explicit JobProcesses(int jobs);

    // Starts decoder with its standard input reading input (a descriptor
    // that stays the caller's) in folder; with an encoder, the decoder's
    // standard output is piped into the encoder's standard input. Other
    // standard streams are /dev/null, no signal is blocked. Waits on the
    // calling thread until both have ended; returns only when every process
    // of the group has ended. Once StopAll has run nothing more is started.
    PipelineEnd Run(int slot, const ToolCommand& decoder, const ToolCommand* encoder, int input,
                    const QString& folder);

    // Kills the process group of every running job and keeps new ones from
    // starting. Safe to call from any thread.
    void StopAll();

    bool Stopping() const;

private:
    mutable std::mutex mutex_;
    std::vector<pid_t> groups_;  // per slot: the running tools' group, 0 when none
    bool stopping_ = false;
};
