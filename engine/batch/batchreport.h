#pragma once
// What a batch tells: a line per file and the summary on stdout (so that a
// log, > log.txt, keeps them), the updating progress line and what stops
// the run on stderr, where the user sees them whatever stdout goes to.
// Names are shown escaped (see PrintableName).
#include "batch/batchoptions.h"
#include "batch/batchplan.h"
#include "batch/fileconverter.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <map>
#include <mutex>
#include <vector>

// A line on stdout.
void PrintLine(const QByteArray& line);
// "brenvale: " and the line on stderr.
void PrintProblem(const QByteArray& line);

class BatchReport {
public:
    BatchReport(const BatchOptions& options, const BatchPlan& plan);

    // Looks at where stdout and stderr go and starts the clock the rate is
    // told by.
    void Start();

    // The sources that share a name, before anything is converted.
    void PrintPlan() const;

    // The source a job has begun on, for the updating line. Safe to call
    // from any thread.
    void SetInWork(const QByteArray& source);

    // A file done: counted, and its line printed where it is to be seen.
    void Report(Finished finished);

    // The updating line on a terminal; the final one stays.
    void PrintProgress(bool final);
    // Whether stderr is a terminal, where the updating line is shown.
    bool ShowsProgress() const { return terminal_; }

    // A stop by signal: what was done, and the command that converts the
    // rest.
    void PrintStop(int signal);

    // The summary: counts, failures, warnings, notes and what was left out.
    void PrintSummary() const;

    // What a run would do, for --dry-run; returns its status.
    int PrintDryRun() const;

    // Every file converted or skipped, none with a warning, and the walk
    // read all it met.
    bool Clean() const;

private:
    QByteArray InWorkName(const QByteArray& source) const;
    void PrintNotes() const;
    void PrintUnreadable() const;
    void PrintLeftOut() const;

    const BatchOptions& options_;
    const BatchPlan& plan_;

    std::mutex mutex_;  // guards inWork_
    QByteArray inWork_;

    int converted_ = 0;
    int skipped_ = 0;
    int withFolderArt_ = 0;
    std::vector<Finished> failures_;
    std::vector<Finished> warnings_;
    std::map<QString, int> noted_;          // a tool's note, and how many results it is of
    std::vector<Finished> savedAs_;         // saved under another name than planned
    std::map<QByteArray, int> unrecorded_;  // output folders whose ledger could not be written, and why
    bool terminal_ = false;        // stderr is a terminal: the updating line is shown there
    bool outputTerminal_ = false;  // stdout is one too
    bool statusShown_ = false;
    QElapsedTimer clock_;
};
