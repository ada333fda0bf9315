#include "batch/batchrun.h"

#include "batch/batchoptions.h"
#include "batch/batchplan.h"
#include "batch/jobprocess.h"
#include "batch/terminaltext.h"
#include "convert/resultsave.h"
#include "tags/coverfile.h"
#include "common/uniquefd.h"
#include "convert/conversion.h"
#include "workfolder/workfolder.h"
#include "system/fileio.h"
#include "system/safepath.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

enum class Result { Converted, Skipped, Failed };

struct Finished {
    size_t index = 0;  // in the plan
    Result result = Result::Failed;
    QByteArray target;  // where the result is (converted, skipped)
    QString reason;     // why it failed
    QString warning;    // what is wrong with a result that was saved (a file cut short)
    QString notice;     // what the summary says of a result that is right (a name it was saved under)
    bool folderArt = false;  // the album art beside the source went in
};

// What the run did, file by file, and its summary: stdout, so that a log
// (> log.txt) keeps it. Line-buffered, so that each line is there as soon
// as its file is done.
void PrintLine(const QByteArray& line) {
    const QByteArray bytes = line + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

// What keeps the run from going on, and how to go on: stderr, with the
// updating line, where the user sees it whatever stdout goes to.
void PrintProblem(const QByteArray& line) {
    const QByteArray bytes = "brenvale: " + line + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
}

QByteArray Shown(const QByteArray& path) {
    return PrintableName(path);
}

// Why a source cannot be opened, from the errno of the attempt.
QString OpenFailureReason(int err) {
    switch (err) {
        case ENOENT:
        case ENOTDIR:
            return QStringLiteral("not found");
        case EACCES:
        case EPERM:
            return QStringLiteral("permission denied");
        case EISDIR:
            return QStringLiteral("is a folder");
        case EINVAL:
            return QStringLiteral("not a regular file (a FIFO, device or socket)");
        default:
            return QStringLiteral("can not be read: ") + QString::fromLocal8Bit(std::strerror(err));
    }
}

QString LowerFirst(const char* text) {
    QString s = QString::fromLocal8Bit(text);
    if (!s.isEmpty())
        s[0] = s[0].toLower();
    return s;
}

QString WorkFolderReason(const QString& folder) {
    return QStringLiteral("work folder: check that ") + folder +
           QStringLiteral(" has free space, can be written to and allows programs to run");
}

// How many names a list of the summary shows before "... and N more".
constexpr size_t kNamesShown = 10;

QString Duration(qint64 seconds) {
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}


// Where one job works: its private folder, with the tools linked in.
struct JobSetup {
    QString path;  // "" when the job has none
    QStringList encoderOptions;
};

class BatchRun {
public:
    BatchRun(const BatchOptions& options, BatchPlan plan)
        : options_(options), plan_(std::move(plan)), processes_(options.jobs) {}

    int Run(const sigset_t& stopSignals);
    // Says what Run would do; returns 1 when the walk met what it could not
    // read, else 0.
    int DryRun() const;

private:
    void Job(int slot);
    bool OwnResultStands(const PlannedFile& file) const;
    Finished Convert(int slot, const JobSetup& job, size_t index);
    Finished Save(const FileConversion& conversion, int folder, ResultPart& part, size_t index, Finished done);
    QString SaveFailure(int err, const QByteArray& target) const;
    void SweepLeftovers() const;
    QString Reason(const StageResult& stage) const;
    void PrintPlan() const;
    void Report(Finished finished);
    void WakeMain();
    void PrintProgress(bool final);
    QByteArray InWorkName(const QByteArray& source) const;
    void PrintStop(int signal) const;
    void PrintSummary() const;
    void PrintUnreadable() const;
    void PrintLeftOut() const;
    void PrintNotes() const;

    const BatchOptions& options_;
    BatchPlan plan_;
    JobProcesses processes_;
    QString workFolder_;
    QString stagedSet_;
    std::atomic<size_t> next_{0};
    std::atomic<int> jobsRunning_{0};
    int wake_ = -1;  // written by a job when the main thread has news

    std::mutex mutex_;  // guards everything below
    std::deque<Finished> finished_;
    QByteArray inWork_;
    std::map<QByteArray, int> unrecorded_;  // output folders whose ledger could not be written, and why
    // What the encoder's own tag takes beside the room left for the
    // result's, learnt by the first job that encodes.
    std::shared_ptr<std::atomic<int>> tagRoomOverhead_ =
        std::make_shared<std::atomic<int>>(FormatOf(options_.format).tagRoomOverhead);

    // The main thread's own.
    int converted_ = 0;
    int skipped_ = 0;
    int withFolderArt_ = 0;
    std::vector<Finished> failures_;
    std::vector<Finished> warnings_;
    std::vector<Finished> notices_;
    bool terminal_ = false;        // stderr is a terminal: the updating line is shown there
    bool outputTerminal_ = false;  // stdout is one too
    bool statusShown_ = false;
    QElapsedTimer clock_;
};

// A failed stage in the batch's words.
QString BatchRun::Reason(const StageResult& stage) const {
    switch (stage.outcome) {
        case StageOutcome::SourceGone:
        case StageOutcome::SourceUnusable:
            return stage.error != 0 ? OpenFailureReason(stage.error) : QStringLiteral("empty");
        case StageOutcome::NotWma:
            return stage.detail.isEmpty() ? QStringLiteral("not a WMA file")
                                          : QStringLiteral("holds %1 audio, not WMA").arg(stage.detail);
        case StageOutcome::DrmProtected:
            return QStringLiteral("may be DRM protected");
        case StageOutcome::Damaged:
            return QStringLiteral("damaged");
        case StageOutcome::TooLong:
            return QStringLiteral("too long for a WAV file, which holds at most 4 GB: convert it to MP3");
        case StageOutcome::ToolKilled:
        case StageOutcome::DecodingFailed:
        case StageOutcome::EncoderFailed:
            return stage.detail;
        case StageOutcome::SourceChanged:
            return QStringLiteral("changed while converting");
        case StageOutcome::OutputFailed:
            return QStringLiteral("the result could not be written: ") + stage.detail;
        case StageOutcome::WorkFolderFailed:
            return stage.detail.isEmpty() ? WorkFolderReason(workFolder_)
                                          : stage.detail + QStringLiteral(": ") + WorkFolderReason(workFolder_);
        case StageOutcome::Done:
        case StageOutcome::CutShort:
            break;
    }
    return QString();
}

// True when the result that stands at file's name is this source's own,
// made from the source as it is now and with these options: a resume leaves
// it alone.
bool BatchRun::OwnResultStands(const PlannedFile& file) const {
    const OutputFolder& output = *plan_.outputs[file.output];
    if (output.fd < 0)
        return false;
    QByteArray problem;
    const UniqueFd folder(file.relative.isEmpty()
                                ? ::fcntl(output.fd, F_DUPFD_CLOEXEC, 0)
                                : OpenFolderSafelyAt(output.fd, file.relative, false, output.path, &problem, nullptr, true));
    if (folder.get() < 0)
        return false;
    if (file.earlier) {
        const LedgerEntry& e = *file.earlier;
        struct stat st;
        qint64 size = 0, time = 0;
        return ::stat(file.source.constData(), &st) == 0 && st.st_size == e.sourceSize &&
               SameFileTime(static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, e.sourceTime) &&
               e.options == options_.OptionsText() && FileStampAt(folder.get(), file.name, size, time) &&
               size == e.resultSize && SameFileTime(time, e.resultTime);
    }
    // No ledger there: a result of an older version records its source
    // itself.
    return ResultSourceOf(folder.get(), file.name) == file.source;
}

Finished BatchRun::Convert(int slot, const JobSetup& job, size_t index) {
    const PlannedFile& file = plan_.files[index];
    Finished done;
    done.index = index;
    const auto failed = [&done](const QString& reason) {
        done.result = Result::Failed;
        done.reason = reason;
        return done;
    };
    if (options_.skipExisting && OwnResultStands(file)) {
        done.result = Result::Skipped;
        done.target = file.Target();
        return done;
    }
    OutputFolder& output = *plan_.outputs[file.output];
    if (output.error != 0)
        return failed(QStringLiteral("cannot write to %1: %2")
                          .arg(QString::fromUtf8(Shown(output.path)), LowerFirst(std::strerror(output.error))));
    if (job.path.isEmpty())
        return failed(WorkFolderReason(workFolder_));

    // The result is written once, where it is to stay: a file without a
    // name in its folder, named only when it is whole and tagged.
    QByteArray problem;
    const UniqueFd folder(output.fd < 0 ? -1
                                          : OpenFolderSafelyAt(output.fd, file.relative, true, output.path, &problem,
                                                               nullptr, true));
    if (folder.get() < 0)
        return failed(QStringLiteral("can not save %1: %2")
                          .arg(QString::fromUtf8(Shown(file.Target())),
                               QString::fromUtf8(Shown(output.fd < 0 ? output.path + ": not there" : problem))));
    // Where the output's file system cannot write a file where it stands
    // (some FAT drivers), the result is made in the job's folder and copied.
    const UniqueFd jobFolder(output.writesInPlace ? -1
                                                    : ::open(SystemPath(job.path).c_str(),
                                                             O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    ResultPart part;
    if (const int err = part.Make(output.writesInPlace ? folder.get() : jobFolder.get()))
        return failed(output.writesInPlace ? SaveFailure(err, file.Target()) : WorkFolderReason(workFolder_));

    // The source is opened once, and that one file is decoded and its tags
    // read: a name swapped meanwhile changes nothing. It is read where it
    // lies, never copied.
    WorkContext work{job.path, job.encoderOptions, {}, {}, tagRoomOverhead_};
    FileConversion conversion(work, file.source);
    if (!file.folderArt.isEmpty())
        if (const std::optional<CoverPicture> art = ReadCoverFile(file.folderArt))
            conversion.SetFallbackPicture(*art);
    StageResult stage = conversion.OpenSource();
    if (stage.ok())
        stage = conversion.Stream(
            options_.format,
            [this, slot](const ProgramCommand& decoder, const ProgramCommand* encoder, int input, int out,
                         const QString& in) { return processes_.Run(slot, decoder, encoder, input, out, in); },
            part.fd());
    // A tool that failed to write a result into a full output disk says
    // what failed in its words; the cause is the disk.
    const auto full = [&]() {
        struct statvfs room;
        return output.writesInPlace && ::fstatvfs(part.fd(), &room) == 0 && room.f_bavail == 0;
    };
    if (!stage.ok())
        return failed(full() ? SaveFailure(ENOSPC, file.Target()) : Reason(stage));
    if (stage.outcome == StageOutcome::CutShort)
        done.warning = stage.detail;
    done.notice = stage.note;
    if (!conversion.Tag(part.fd()))
        return failed(SaveFailure(full() ? ENOSPC : EIO, file.Target()));
    done.folderArt = conversion.UsedFallbackPicture();
    // A source written to meanwhile gave audio and tags of two files.
    if (conversion.SourceChanged())
        return failed(QStringLiteral("changed while converting"));
    return Save(conversion, folder.get(), part, index, std::move(done));
}

// A save that failed for err, in the batch's words.
QString BatchRun::SaveFailure(int err, const QByteArray& target) const {
    if (err == ENOSPC)
        return QStringLiteral("no space left on the output disk: ") + QString::fromUtf8(Shown(target));
    if (err == EDQUOT)
        return QStringLiteral("the disk quota of the output disk is used up: ") + QString::fromUtf8(Shown(target));
    return QStringLiteral("can not save %1: %2").arg(QString::fromUtf8(Shown(target)), LowerFirst(std::strerror(err)));
}

Finished BatchRun::Save(const FileConversion& conversion, int folder, ResultPart& part, size_t index,
                        Finished done) {
    const PlannedFile& file = plan_.files[index];
    const auto failed = [&done](const QString& reason) {
        done.result = Result::Failed;
        done.reason = reason;
        return done;
    };
    OutputFolder& output = *plan_.outputs[file.output];
    const QByteArray folderPath = file.Folder();
    // Who made what stands at a name: the ledger says it on every file
    // system (for a file still as it recorded it), the file's attribute
    // where there is one.
    ResultLedger* ledger = output.ledger.get();
    const auto ownerOf = [&](const QByteArray& name) {
        qint64 size = 0, time = 0;
        const std::optional<LedgerEntry> entry =
            ledger ? ledger->EntryForResult(file.relative.isEmpty() ? name : file.relative + '/' + name, true)
                   : std::nullopt;
        QByteArray source;
        if (entry && FileStampAt(folder, name, size, time) && size == entry->resultSize &&
            SameFileTime(time, entry->resultTime))
            source = entry->source;
        else
            source = ResultSourceOf(folder, name);
        if (source.isEmpty())
            return ResultOwner::Nobody;
        const bool own = source == file.source || (file.earlier && source == file.earlier->source);
        return own ? ResultOwner::ThisSource : ResultOwner::OtherSource;
    };
    SavePolicy policy;
    policy.ownerOf = ownerOf;
    policy.reserved = [&](const QByteArray& name) { return plan_.Reserved(file, name); };
    policy.replaceUsersFiles = options_.overwrite;
    policy.modified = options_.keepDates ? conversion.SourceTime() : -1;
    const ResultName name{StemOf(file.plainName).toByteArray(), ExtensionOf(file.plainName).toByteArray(), file.number,
                          output.rules.longestName};
    const SaveOutcome saved = output.writesInPlace
                                  ? part.Link(name, file.source, policy)
                                  : SaveResultFile(folder, name, part.fd(), file.source, policy);
    const QByteArray target = file.Target();
    switch (saved.status) {
        case SaveStatus::Saved:
            break;
        case SaveStatus::ForeignEntry:
            return failed(QString::fromUtf8(saved.problem + ' ' + Shown(target)));
        case SaveStatus::NoSpace:
            return failed(QString::fromUtf8(saved.problem) + QStringLiteral(": ") +
                          QString::fromUtf8(Shown(target)));
        case SaveStatus::Failed:
            return failed(QStringLiteral("can not save %1: %2")
                              .arg(QString::fromUtf8(Shown(target)), QString::fromUtf8(saved.problem)));
    }
    done.result = Result::Converted;
    done.target = folderPath.endsWith('/') ? folderPath + saved.name : folderPath + '/' + saved.name;
    if (ledger) {
        LedgerEntry entry{file.relative.isEmpty() ? saved.name : file.relative + '/' + saved.name,
                          file.source,
                          conversion.SourceSize(),
                          conversion.SourceTime(),
                          saved.size,
                          saved.time,
                          options_.OptionsText()};
        if (const int recordError = ledger->Record(entry)) {
            std::lock_guard<std::mutex> hold(mutex_);
            unrecorded_.emplace(output.path, recordError);
        }
    }
    if (saved.name != file.name)
        done.notice = QStringLiteral("saved as %1: %2 %3")
                          .arg(QString::fromUtf8(Shown(saved.name)), QString::fromUtf8(Shown(file.name)),
                               saved.heldBy == ResultOwner::Nobody
                                   ? QStringLiteral("is a file of yours")
                                   : QStringLiteral("holds another source's result (another batch saved it meanwhile)"));
    return done;
}

void BatchRun::Job(int slot) {
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
        {
            std::lock_guard<std::mutex> hold(mutex_);
            inWork_ = InWorkName(plan_.files[i].source);
        }
        Finished done = Convert(slot, job, i);
        // A file whose tools were stopped has not failed: it is left for a
        // later run, and nothing of it is saved.
        if (processes_.Stopping() && done.result == Result::Failed)
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

void BatchRun::PrintPlan() const {
    if (options_.quiet)
        return;
    for (const std::vector<size_t>& group : plan_.sharedNames) {
        const PlannedFile& first = plan_.files[group.front()];
        PrintLine("brenvale: " + QByteArray::number(static_cast<qulonglong>(group.size())) +
                  " sources share the name " + Shown(first.plainName) + " in " + Shown(first.Folder()) + ":");
        for (const size_t i : group)
            PrintLine("  " + Shown(plan_.files[i].source) + " -> " + Shown(plan_.files[i].name));
    }
    if (!plan_.sharedNames.empty() && !options_.outputFolder.isEmpty() && !options_.keepFolders && !options_.name)
        PrintLine("  (--keep-folders keeps the files of each folder apart)");
}

void BatchRun::Report(Finished finished) {
    const PlannedFile& file = plan_.files[finished.index];
    switch (finished.result) {
        case Result::Converted:
            ++converted_;
            withFolderArt_ += finished.folderArt ? 1 : 0;
            if (!finished.warning.isEmpty())
                warnings_.push_back(finished);
            if (!finished.notice.isEmpty())
                notices_.push_back(finished);
            break;
        case Result::Skipped:
            ++skipped_;
            break;
        case Result::Failed:
            failures_.push_back(finished);
            break;
    }
    // Each line carries how far the run is: "[n/N] ".
    const size_t done = static_cast<size_t>(converted_ + skipped_) + failures_.size();
    QByteArray line = "[" + QByteArray::number(static_cast<qulonglong>(done)) + "/" +
                      QByteArray::number(static_cast<qulonglong>(plan_.files.size())) + "] ";
    if (finished.result == Result::Failed)
        line += "failed " + Shown(file.source) + ": " + finished.reason.toUtf8();
    else if (!finished.warning.isEmpty())
        line += "converted " + Shown(file.source) + " -> " + Shown(finished.target) + " (" +
                finished.warning.toUtf8() + ")";
    else if (options_.quiet || (terminal_ && outputTerminal_))
        return;  // the updating line tells it on that terminal
    else if (finished.result == Result::Converted)
        line += "converted " + Shown(file.source) + " -> " + Shown(finished.target);
    else
        line += "skipped " + Shown(file.source) + ": its result " + Shown(finished.target) + " stands";
    // A line on the terminal that shows the updating line takes its place.
    if (statusShown_ && outputTerminal_) {
        std::fputs("\r\033[K", stderr);
        statusShown_ = false;
    }
    PrintLine(line);
}

// The source as the updating line names it: its path under the FOLDER
// argument it was found in ("Album B/01 Intro.wma", where "01 Intro.wma"
// alone could be any album's), or the FILE argument as typed.
QByteArray BatchRun::InWorkName(const QByteArray& source) const {
    for (qsizetype i = 0; i < options_.paths.size(); ++i) {
        const QByteArray& path = options_.paths.at(i);
        if (source == path)
            return i < options_.givenPaths.size() ? options_.givenPaths.at(i) : source;
        const qsizetype under = path.endsWith('/') ? path.size() : path.size() + 1;
        if (source.size() > under && source.startsWith(path) && source.at(under - 1) == '/')
            return source.mid(under);
    }
    return source.mid(source.lastIndexOf('/') + 1);
}

void BatchRun::PrintProgress(bool final) {
    if (!terminal_ || options_.quiet)
        return;
    const size_t total = plan_.files.size();
    const size_t done = static_cast<size_t>(converted_ + skipped_) + failures_.size();
    const double minutes = clock_.elapsed() / 60000.0;
    QString line = QStringLiteral("[%1/%2] %3%").arg(done).arg(total).arg(total ? done * 100 / total : 100);
    // Failures listed where the terminal does not show them (stdout
    // elsewhere) are counted here.
    if (!failures_.empty())
        line += QStringLiteral(", %1 failed").arg(failures_.size());
    if (done > 0 && minutes > 0) {
        const double perMinute = done / minutes;
        line += QStringLiteral(", %1 files/min").arg(perMinute, 0, 'f', 1);
        if (!final)
            line += QStringLiteral(", %1 left")
                        .arg(Duration(static_cast<qint64>((total - done) / perMinute * 60.0)));
    }
    QString name;
    if (!final) {
        std::lock_guard<std::mutex> hold(mutex_);
        name = QString::fromUtf8(Shown(inWork_));
    }
    struct winsize size {};
    const int width =
        ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col - 1 : 79;
    // A name too long for the line loses its beginning: its end tells the
    // file. The line is cut to the width in characters, never inside one.
    const qsizetype room = width - line.size() - 2;
    if (name.size() > room && room > 4) {
        name = name.right(room - 3);
        if (name.at(0).isLowSurrogate())
            name.remove(0, 1);
        name.prepend(QStringLiteral("..."));
    }
    if (!name.isEmpty())
        line += QStringLiteral(": ") + name;
    if (line.size() > width)
        line.truncate(line.at(width - 1).isHighSurrogate() ? width - 1 : width);
    const QByteArray bytes = line.toUtf8();
    std::fputs("\r\033[K", stderr);
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    if (final)
        std::fputc('\n', stderr);
    std::fflush(stderr);
    statusShown_ = !final;
}

// A stop by a signal: what was done, and the command that converts the
// rest: the same command as typed (relative paths relative to the same
// folder), with --skip-existing, each word quoted for the shell.
void BatchRun::PrintStop(int signal) const {
    const size_t notDone = plan_.files.size() - static_cast<size_t>(converted_ + skipped_) - failures_.size();
    PrintProblem(QStringLiteral("stopped (%1): converted %2, skipped %3, failed %4, not done %5")
                     .arg(QString::fromLocal8Bit(::strsignal(signal)))
                     .arg(converted_)
                     .arg(skipped_)
                     .arg(failures_.size())
                     .arg(notDone)
                     .toUtf8());
    QByteArrayList words = options_.commandLine;
    if (words.size() < 2 || (notDone == 0 && failures_.empty()))
        return;
    // Right after "--convert": among the options, wherever the paths begin.
    if (!options_.skipExisting)
        words.insert(std::max<qsizetype>(words.indexOf("--convert", 1), 0) + 1, "--skip-existing");
    for (QByteArray& word : words)
        word = ShellQuoted(word);
    PrintProblem("to convert the rest, run in this folder:");
    const QByteArray command = "  " + words.join(' ') + '\n';
    std::fwrite(command.constData(), 1, static_cast<size_t>(command.size()), stderr);
}

void BatchRun::PrintSummary() const {
    const TreeWalk& walk = plan_.walk;
    const size_t failed = failures_.size() + walk.unreadable.size();
    PrintLine(QStringLiteral("Converted: %1, skipped: %2, failed: %3.")
                  .arg(converted_)
                  .arg(skipped_)
                  .arg(failed)
                  .toUtf8());
    for (const Finished& f : failures_)
        PrintLine("  " + Shown(plan_.files[f.index].source) + ": " + f.reason.toUtf8());
    PrintUnreadable();
    if (!warnings_.empty()) {
        PrintLine("Converted with a warning: " + QByteArray::number(static_cast<qulonglong>(warnings_.size())) + ".");
        for (const Finished& f : warnings_)
            PrintLine("  " + Shown(plan_.files[f.index].source) + ": " + f.warning.toUtf8());
    }
    PrintNotes();
    PrintLeftOut();
}

// What the summary tells of results that are right: names changed on the
// way, and what a tool noted, each said once.
void BatchRun::PrintNotes() const {
    const auto some = [](size_t shown, size_t all) {
        if (all > shown)
            PrintLine("    ... and " + QByteArray::number(static_cast<qulonglong>(all - shown)) + " more");
    };
    if (!plan_.renamed.empty()) {
        PrintLine("Names made for the output's file system (characters it refuses replaced, other encodings as "
                  "UTF-8, long names shortened): " +
                  QByteArray::number(static_cast<qulonglong>(plan_.renamed.size())) + ".");
        for (size_t n = 0; n < plan_.renamed.size() && n < kNamesShown; ++n) {
            const PlannedFile& file = plan_.files[plan_.renamed[n]];
            PrintLine("  " + Shown(file.source) + " -> " + Shown(file.Recorded()));
        }
        some(kNamesShown, plan_.renamed.size());
    }
    if (!plan_.untagged.empty()) {
        PrintLine("Named by their own names (their tags lack what --name needs): " +
                  QByteArray::number(static_cast<qulonglong>(plan_.untagged.size())) + ".");
        for (size_t n = 0; n < plan_.untagged.size() && n < kNamesShown; ++n)
            PrintLine("  " + Shown(plan_.files[plan_.untagged[n]].source));
        some(kNamesShown, plan_.untagged.size());
    }
    if (!plan_.madeBefore.empty()) {
        PrintLine("Made before under another name, left as they are (a new result is made): " +
                  QByteArray::number(static_cast<qulonglong>(plan_.madeBefore.size())) + ".");
        for (size_t n = 0; n < plan_.madeBefore.size() && n < kNamesShown; ++n)
            PrintLine("  " + Shown(plan_.madeBefore[n].second) + " -> " +
                      Shown(plan_.files[plan_.madeBefore[n].first].Recorded()));
        some(kNamesShown, plan_.madeBefore.size());
    }
    if (withFolderArt_ > 0)
        PrintLine("Given the album art beside their sources: " + QByteArray::number(withFolderArt_) + ".");
    if (!plan_.userFiles.empty()) {
        PrintLine("Files of yours left as they are (--overwrite replaces them): " +
                  QByteArray::number(static_cast<qulonglong>(plan_.userFiles.size())) + ".");
        for (const auto& [i, path] : plan_.userFiles)
            PrintLine("  " + Shown(path) + ": the result is " + Shown(plan_.files[i].name));
    }
    std::map<QString, int> noted;  // a tool's note, and how many results it is of
    for (const Finished& f : notices_) {
        if (f.notice.startsWith(QLatin1String("saved as ")))
            continue;
        ++noted[f.notice];
    }
    for (const auto& [note, count] : noted)
        PrintLine("Note: " + note.toUtf8() + " (" + QByteArray::number(count) + (count == 1 ? " file)" : " files)"));
    bool first = true;
    for (const Finished& f : notices_) {
        if (!f.notice.startsWith(QLatin1String("saved as ")))
            continue;
        if (first)
            PrintLine("Saved under another name than planned:");
        first = false;
        PrintLine("  " + Shown(plan_.files[f.index].source) + ": " + f.notice.toUtf8());
    }
    for (const auto& [folder, err] : unrecorded_)
        PrintLine("Note: the results in " + Shown(folder) + " are not in its ledger (" + kLedgerName +
                  "): " + LowerFirst(std::strerror(err)).toUtf8() + "; a later run takes them for files of yours");
}

// What the walk could not read: failures too.
void BatchRun::PrintUnreadable() const {
    for (const TreeWalk::Unreadable& u : plan_.walk.unreadable)
        PrintLine("  " + Shown(u.path) + (u.folder ? "/: " : ": ") +
                  OpenFailureReason(u.error).toUtf8() + (u.folder ? " (folder not walked)" : ""));
}

// What the walk's rules left out, rule by rule.
void BatchRun::PrintLeftOut() const {
    const TreeWalk& walk = plan_.walk;
    int leftOut = 0;
    for (const TreeWalk::LeftOut& rule : walk.leftOut)
        leftOut += rule.count;
    if (leftOut == 0)
        return;
    PrintLine("Left out: " + QByteArray::number(leftOut) + ".");
    for (int r = 0; r < kLeftOutRules; ++r) {
        const TreeWalk::LeftOut& rule = walk.leftOut[r];
        if (rule.count == 0)
            continue;
        PrintLine("  " + QByteArray(LeftOutRuleText(static_cast<LeftOutRule>(r))) + ": " +
                  QByteArray::number(rule.count));
        for (const QByteArray& path : rule.paths)
            PrintLine("    " + Shown(path));
        if (rule.count > static_cast<int>(rule.paths.size()))
            PrintLine("    ... and " + QByteArray::number(rule.count - static_cast<int>(rule.paths.size())) +
                      " more");
    }
}

int BatchRun::DryRun() const {
    if (!plan_.stop.isEmpty()) {
        PrintProblem(plan_.stop.toUtf8());
        return 1;
    }
    PrintPlan();
    if (!options_.quiet) {
        for (const PlannedFile& file : plan_.files)
            PrintLine(Shown(file.source) + " -> " + Shown(file.Target()));
    }
    PrintLine("Planned: " + QByteArray::number(static_cast<qulonglong>(plan_.files.size())) +
              ", failed: " + QByteArray::number(static_cast<qulonglong>(plan_.walk.unreadable.size())) + ".");
    PrintUnreadable();
    if (!options_.quiet) {
        PrintNotes();
        PrintLeftOut();
    }
    return plan_.walk.unreadable.empty() ? 0 : 1;
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
        if (output.fd < 0 || output.error != 0)
            continue;
        QByteArray problem;
        const UniqueFd folder(relative.isEmpty()
                                    ? ::fcntl(output.fd, F_DUPFD_CLOEXEC, 0)
                                    : OpenFolderSafelyAt(output.fd, relative, false, output.path, &problem, nullptr, true));
        if (folder.get() >= 0)
            RemoveStaleParts(folder.get());
    }
}

int BatchRun::Run(const sigset_t& stopSignals) {
    terminal_ = ::isatty(STDERR_FILENO) == 1;
    outputTerminal_ = ::isatty(STDOUT_FILENO) == 1;
    clock_.start();
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
    PrintPlan();

    const int jobs = static_cast<int>(
        std::min<size_t>(static_cast<size_t>(options_.jobs), std::max<size_t>(plan_.files.size(), 1)));
    jobsRunning_ = jobs;
    // The main thread waits for a stop signal or a job's news, and redraws
    // the progress line now and then.
    const int signalFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::vector<std::thread> threads;
    for (int slot = 0; slot < jobs; ++slot)
        threads.emplace_back([this, slot] { Job(slot); });

    int stopSignal = 0;
    for (;;) {
        const bool running = jobsRunning_ > 0;
        std::deque<Finished> finished;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            finished.swap(finished_);
        }
        for (Finished& f : finished)
            Report(std::move(f));
        if (!running)
            break;
        PrintProgress(false);
        struct pollfd waits[2] = {{signalFd, POLLIN, 0}, {wake_, POLLIN, 0}};
        if (::poll(waits, 2, terminal_ ? 250 : 1000) <= 0)
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
        if (statusShown_)
            std::fputs("\r\033[K", stderr);
        PrintStop(stopSignal);
        return 128 + stopSignal;
    }
    SweepLeftovers();
    PrintProgress(true);
    if (!options_.quiet)
        PrintSummary();
    const bool clean = failures_.empty() && warnings_.empty() && plan_.walk.unreadable.empty();
    return clean ? 0 : 1;
}

}  // namespace

int RunBatch(const BatchOptions& options) {
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    BatchPlan plan = PlanBatch(options);
    if (options.dryRun) {
        const int status = BatchRun(options, std::move(plan)).DryRun();
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
    sigset_t before;
    ::pthread_sigmask(SIG_BLOCK, &stopSignals, &before);
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
