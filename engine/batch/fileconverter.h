#pragma once
// One planned file of a batch through the engine: its source opened once
// and streamed through the tools into an unnamed file in its output folder,
// tagged there, then named (or, with --skip-existing, left alone when its
// own result stands) and recorded in the folder's ledger. Safe to use from
// every job's thread at once: it keeps nothing of one file for the next.
#include "batch/batchoptions.h"
#include "batch/batchplan.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class FileConversion;
class JobProcesses;
class ResultPart;

enum class FileResult { Converted, Skipped, Failed };

// What became of one planned file.
struct Finished {
    size_t index = 0;  // in the plan
    FileResult result = FileResult::Failed;
    QByteArray target;  // where the result is (converted, skipped)
    QString reason;     // why it failed
    QString warning;    // what is wrong with a result that was saved (a file cut short)
    QString notice;     // what a tool noted of a result that is right (a bit rate capped)
    QString savedAs;    // the name it was saved under where another took the one planned, and why
    bool folderArt = false;  // the album art beside the source went in
    // An output folder whose ledger could not record the result, and why.
    QByteArray unrecordedFolder;
    int unrecordedError = 0;
};

// Where one job works: its private folder, with the tools linked in.
struct JobSetup {
    QString path;  // "" when the job has none
    QStringList encoderOptions;
};

class FileConverter {
public:
    // workFolder is the folder the jobs' folders are in, named when it
    // keeps a file from converting.
    FileConverter(const BatchOptions& options, const BatchPlan& plan, JobProcesses& processes,
                  const QString& workFolder);

    // Converts the plan's file at index with the job's tools in slot.
    Finished Convert(int slot, const JobSetup& job, size_t index) const;

private:
    bool OwnResultStands(const PlannedFile& file) const;
    Finished Save(const FileConversion& conversion, int folder, ResultPart& part, size_t index, Finished done) const;

    const BatchOptions& options_;
    const BatchPlan& plan_;
    JobProcesses& processes_;
    QString workFolder_;
    // What the encoder's own tag takes beside the room left for the
    // result's, learnt by the first job that encodes.
    std::shared_ptr<std::atomic<int>> tagRoomOverhead_;
};
