#pragma once
// The scripts of a batch's jobs: each started in a process group of its own,
// so that stopping the batch stops every tool a script has started too.
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <mutex>
#include <vector>

class JobProcesses {
public:
    // Makes this process the subreaper of the tools that the scripts start.
    explicit JobProcesses(int jobs);

    // Starts script with arguments in folder (stdin, stdout and stderr on
    // /dev/null, no signal blocked) as job slot's process and waits on the
    // calling thread until it has ended. Returns its exit status, 128 + N
    // when signal N ended it, or a negative value when it could not be
    // started. Returns only when every process of the group has ended. Once
    // StopAll has run nothing more is started.
    int Run(int slot, const QString& script, const QStringList& arguments, const QString& folder);

    // Kills the process group of every running script and keeps new ones
    // from starting. Safe to call from any thread.
    void StopAll();

    bool Stopping() const;

private:
    mutable std::mutex mutex_;
    std::vector<pid_t> groups_;  // per slot: the running script's group, 0 when none
    bool stopping_ = false;
};
