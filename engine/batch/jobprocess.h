#pragma once
// The tools of a batch's jobs: one file's decoder, and its encoder reading
// the decoder's output through a pipe, started as a supervised pipeline (a
// process group of their own under a watchdog), so that stopping the batch
// stops every tool, and every tool ends when the batch ends however it ends
// (a crash, SIGKILL): no tool works on for a batch that is gone.
#include "system/supervisor.h"
#include "system/toolrun.h"

#include <QString>

#include <mutex>
#include <vector>

class JobProcesses {
public:
    // Room for the tools of `jobs` jobs at once.
    explicit JobProcesses(int jobs);

    // Starts decoder with its standard input reading input (a descriptor
    // that stays the caller's) in folder; with an encoder, the decoder's
    // standard output is piped into the encoder's standard input; the last
    // tool's standard output is output (likewise the caller's). Other
    // standard streams are /dev/null, no signal is blocked. Waits on the
    // calling thread until both have ended; returns only when every process
    // they started has ended too. Once StopAll has run nothing more is
    // started. A tool that could not be started is told as not started.
    PipelineEnd Run(int slot, const ProgramCommand& decoder, const ProgramCommand* encoder, int input, int output,
                    const QString& folder);

    // Kills the tools of every running job and keeps new ones from
    // starting. Safe to call from any thread.
    void StopAll();

    bool Stopping() const;

private:
    mutable std::mutex mutex_;
    std::vector<SupervisedPipeline*> running_;  // per slot: its running tools, null when none
    bool stopping_ = false;
};
