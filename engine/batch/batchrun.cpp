#include "batch/batchrun.h"

#include "batch/batchoptions.h"
#include "batch/batchplan.h"
#include "batch/batchreport.h"
#include "batch/fileconverter.h"
#include "batch/jobprocess.h"
#include "common/uniquefd.h"
#include "convert/resultsave.h"
#include "convert/staging.h"
#include "system/fileio.h"
#include "workfolder/workfolder.h"

#include <QCoreApplication>

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace {

// A batch's run: its jobs, each a thread with a private work folder that
// takes the plan's files one after another, and the main thread, which
// reports what they finish and stops them all on a signal.
class BatchRun {
public:
    BatchRun(const BatchOptions& options, BatchPlan plan)
        : options_(options), plan_(std::move(plan)), processes_(options.jobs), report_(options_, plan_) {}

    int Run(const sigset_t& stopSignals);

private:
    void Job(int slot, const FileConverter& converter);
    void WakeMain();
    void SweepLeftovers() const;

    const BatchOptions& options_;
    BatchPlan plan_;
    JobProcesses processes_;
    BatchReport report_;
    QString workFolder_;
    QString stagedSet_;
    std::atomic<size_t> next_{0};
    std::atomic<int> jobsRunning_{0};
    int wake_ = -1;  // written by a job when the main thread has news

    std::mutex mutex_;  // guards finished_
    std::deque<Finished> finished_;
};

void BatchRun::Job(int slot, const FileConverter& converter) {
    // Each job has a private folder of its own under the user's work folder:
    // no two jobs, and no window, share working files, a lock or tools.
    std::optional<JobFolder> folder;
    if (!workFolder_.isEmpty() && !stagedSet_.isEmpty())
        folder.emplace(workFolder_);
    JobSetup job;
    if (const auto arguments = FormatOf(options_.format).encoderArguments)
        job.encoderOptions = arguments(options_.quality);
    if (folder && !folder->path().isEmpty()) {
        job.path = folder->path();
        try {
            StageToolsLinked(stagedSet_, WorkContext{job.path, {}, {}, {}});
        } catch (...) {
            // The tools that are missing keep each file from running: it
            // fails with the work folder named.
        }
    }
    while (!processes_.Stopping()) {
        const size_t i = next_++;
        if (i >= plan_.files.size())
            break;
        report_.SetInWork(plan_.files[i].source);
        Finished done = converter.Convert(slot, job, i);
        // A file whose tools were stopped has not failed: it is left for a
        // later run, and nothing of it is saved.
        if (processes_.Stopping() && done.result == FileResult::Failed)
            break;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            finished_.push_back(std::move(done));
        }
        WakeMain();
    }
    folder.reset();
    --jobsRunning_;
    WakeMain();
}

void BatchRun::WakeMain() {
    const quint64 one = 1;
    if (wake_ >= 0) {
        const ssize_t written = ::write(wake_, &one, sizeof one);
        (void)written;  // a counter that is already set wakes the main thread as well
    }
}

// Removes what saves killed half-way left (a kill during a save on a file
// system without unnamed files, such as FAT and exFAT) in every folder the
// batch writes to.
void BatchRun::SweepLeftovers() const {
    std::set<std::pair<size_t, QByteArray>> folders;
    for (const PlannedFile& file : plan_.files)
        folders.insert({file.output, file.relative});
    for (const auto& [at, relative] : folders) {
        const OutputFolder& output = *plan_.outputs[at];
        if (output.error != 0)
            continue;
        QByteArray problem;
        const UniqueFd folder(output.OpenBelow(relative, false, &problem));
        if (folder.get() >= 0)
            RemoveStaleParts(folder.get());
    }
}

int BatchRun::Run(const sigset_t& stopSignals) {
    report_.Start();
    if (!plan_.stop.isEmpty()) {
        PrintProblem(plan_.stop.toUtf8());
        return 1;
    }
    SweepLeftovers();
    workFolder_ = WorkFolder();
    if (workFolder_.isEmpty())
        workFolder_ = WorkFolderForMessages();
    else if (MakePrivateFolder(workFolder_ + QStringLiteral("/batch-tools")))
        stagedSet_ = workFolder_ + QStringLiteral("/batch-tools");
    try {
        if (!stagedSet_.isEmpty())
            StageToolSet(stagedSet_);
    } catch (...) {
        // Each job links what there is; a tool that is missing keeps each
        // file from running, and it fails with the work folder named.
    }
    if (!stagedSet_.isEmpty())
        RemoveStaleJobFolders(workFolder_);
    report_.PrintPlan();
    const FileConverter converter(options_, plan_, processes_, workFolder_);

    const int jobs = static_cast<int>(
        std::min<size_t>(static_cast<size_t>(options_.jobs), std::max<size_t>(plan_.files.size(), 1)));
    jobsRunning_ = jobs;
    // The main thread waits for a stop signal or a job's news, and redraws
    // the progress line now and then.
    const int signalFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::vector<std::thread> threads;
    for (int slot = 0; slot < jobs; ++slot)
        threads.emplace_back([this, slot, &converter] { Job(slot, converter); });

    int stopSignal = 0;
    for (;;) {
        const bool running = jobsRunning_ > 0;
        std::deque<Finished> finished;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            finished.swap(finished_);
        }
        for (Finished& f : finished)
            report_.Report(std::move(f));
        if (!running)
            break;
        report_.PrintProgress(false);
        struct pollfd waits[2] = {{signalFd, POLLIN, 0}, {wake_, POLLIN, 0}};
        if (::poll(waits, 2, report_.ShowsProgress() ? 250 : 1000) <= 0)
            continue;
        if (waits[1].revents & POLLIN) {
            quint64 count;
            const ssize_t got = ::read(wake_, &count, sizeof count);
            (void)got;
        }
        struct signalfd_siginfo info {};
        if ((waits[0].revents & POLLIN) && ::read(signalFd, &info, sizeof info) == sizeof info &&
            stopSignal == 0) {
            stopSignal = static_cast<int>(info.ssi_signo);
            processes_.StopAll();
        }
    }
    for (std::thread& t : threads)
        t.join();
    ::close(wake_);
    wake_ = -1;
    if (signalFd >= 0)
        ::close(signalFd);

    if (stopSignal != 0) {
        report_.PrintStop(stopSignal);
        return 128 + stopSignal;
    }
    SweepLeftovers();
    report_.PrintProgress(true);
    if (!options_.quiet)
        report_.PrintSummary();
    return report_.Clean() ? 0 : 1;
}

}  // namespace

int RunBatch(const BatchOptions& options) {
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    BatchPlan plan = PlanBatch(options);
    if (options.dryRun) {
        const int status = BatchReport(options, plan).PrintDryRun();
        std::fflush(stdout);
        return status;
    }

    // From here on SIGINT, SIGTERM and SIGHUP (a closed terminal or ssh
    // session) are taken by the run itself: it stops every job, removes
    // their folders and ends with 128 + the signal. The jobs' tools run in
    // process groups of their own, which no terminal signal reaches.
    sigset_t stopSignals;
    ::sigemptyset(&stopSignals);
    ::sigaddset(&stopSignals, SIGINT);
    ::sigaddset(&stopSignals, SIGTERM);
    ::sigaddset(&stopSignals, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    int status;
    {
        BatchRun run(options, std::move(plan));
        status = run.Run(stopSignals);
    }
    std::fflush(stdout);
    return status;
}

int RunBatchCommand(int argc, char* argv[]) {
    QByteArrayList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QByteArray(argv[i]);
    BatchOptions options = ParseBatchOptions(arguments, CurrentFolderBytes(), UsableCores());
    options.commandLine = QByteArrayList{argc > 0 ? QByteArray(argv[0]) : QByteArray("brenvale")} + arguments;
    if (options.action == BatchOptions::ShowHelp) {
        std::fputs(BatchHelpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (options.action == BatchOptions::BadUsage) {
        std::fputs(("brenvale: " + options.problem + "\n" + BatchUsageText()).toLocal8Bit().constData(),
                   stderr);
        return 2;
    }
    // The core application only: no display is ever connected to.
    int qtArgc = 1;
    char* qtArgv[] = {argc > 0 ? argv[0] : const_cast<char*>("brenvale"), nullptr};
    QCoreApplication app(qtArgc, qtArgv);
    return RunBatch(options);
}
