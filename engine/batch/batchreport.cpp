#include "batch/batchreport.h"

#include "batch/failurewords.h"
#include "batch/terminaltext.h"
#include "walk/treewalk.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

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

namespace {

// How many names a list of the summary shows before "... and N more".
constexpr size_t kNamesShown = 10;

// How many of all a list has beyond the shown ones.
void PrintMore(size_t shown, size_t all) {
    if (all > shown)
        PrintLine("    ... and " + QByteArray::number(static_cast<qulonglong>(all - shown)) + " more");
}

// A list of the summary: line(n) for the first kNamesShown of count, then
// how many more.
template <typename Line>
void PrintSome(size_t count, const Line& line) {
    for (size_t n = 0; n < count && n < kNamesShown; ++n)
        PrintLine(line(n));
    PrintMore(std::min(count, kNamesShown), count);
}

QString Duration(qint64 seconds) {
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

BatchReport::BatchReport(const BatchOptions& options, const BatchPlan& plan) : options_(options), plan_(plan) {}

void BatchReport::Start() {
    terminal_ = ::isatty(STDERR_FILENO) == 1;
    outputTerminal_ = ::isatty(STDOUT_FILENO) == 1;
    clock_.start();
}

void BatchReport::SetInWork(const QByteArray& source) {
    QByteArray name = InWorkName(source);
    std::lock_guard<std::mutex> hold(mutex_);
    inWork_ = std::move(name);
}

bool BatchReport::Clean() const {
    return failures_.empty() && warnings_.empty() && plan_.walk.unreadable.empty();
}

void BatchReport::PrintPlan() const {
    if (options_.quiet)
        return;
    for (const std::vector<size_t>& group : plan_.sharedNames) {
        const PlannedFile& first = plan_.files[group.front()];
        PrintLine("brenvale: " + QByteArray::number(static_cast<qulonglong>(group.size())) +
                  " sources share the name " + PrintableName(first.plainName) + " in " + PrintableName(first.Folder()) + ":");
        for (const size_t i : group)
            PrintLine("  " + PrintableName(plan_.files[i].source) + " -> " + PrintableName(plan_.files[i].name));
    }
    if (!plan_.sharedNames.empty() && !options_.outputFolder.isEmpty() && !options_.keepFolders && !options_.name)
        PrintLine("  (--keep-folders keeps the files of each folder apart)");
}

void BatchReport::Report(Finished finished) {
    const PlannedFile& file = plan_.files[finished.index];
    if (finished.unrecordedError != 0)
        unrecorded_.emplace(finished.unrecordedFolder, finished.unrecordedError);
    switch (finished.result) {
        case FileResult::Converted:
            ++converted_;
            withFolderArt_ += finished.folderArt ? 1 : 0;
            if (!finished.warning.isEmpty())
                warnings_.push_back(finished);
            if (!finished.notice.isEmpty())
                ++noted_[finished.notice];
            if (!finished.savedAs.isEmpty())
                savedAs_.push_back(finished);
            break;
        case FileResult::Skipped:
            ++skipped_;
            break;
        case FileResult::Failed:
            failures_.push_back(finished);
            break;
    }
    // Each line carries how far the run is: "[n/N] ".
    const size_t done = static_cast<size_t>(converted_ + skipped_) + failures_.size();
    QByteArray line = "[" + QByteArray::number(static_cast<qulonglong>(done)) + "/" +
                      QByteArray::number(static_cast<qulonglong>(plan_.files.size())) + "] ";
    if (finished.result == FileResult::Failed)
        line += "failed " + PrintableName(file.source) + ": " + finished.reason.toUtf8();
    else if (!finished.warning.isEmpty())
        line += "converted " + PrintableName(file.source) + " -> " + PrintableName(finished.target) + " (" +
                finished.warning.toUtf8() + ")";
    else if (options_.quiet || (terminal_ && outputTerminal_))
        return;  // the updating line tells it on that terminal
    else if (finished.result == FileResult::Converted)
        line += "converted " + PrintableName(file.source) + " -> " + PrintableName(finished.target);
    else
        line += "skipped " + PrintableName(file.source) + ": its result " + PrintableName(finished.target) + " stands";
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
QByteArray BatchReport::InWorkName(const QByteArray& source) const {
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

void BatchReport::PrintProgress(bool final) {
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
        name = QString::fromUtf8(PrintableName(inWork_));
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
void BatchReport::PrintStop(int signal) {
    if (statusShown_)
        std::fputs("\r\033[K", stderr);
    statusShown_ = false;
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

void BatchReport::PrintSummary() const {
    const TreeWalk& walk = plan_.walk;
    const size_t failed = failures_.size() + walk.unreadable.size();
    PrintLine(QStringLiteral("Converted: %1, skipped: %2, failed: %3.")
                  .arg(converted_)
                  .arg(skipped_)
                  .arg(failed)
                  .toUtf8());
    for (const Finished& f : failures_)
        PrintLine("  " + PrintableName(plan_.files[f.index].source) + ": " + f.reason.toUtf8());
    PrintUnreadable();
    if (!warnings_.empty()) {
        PrintLine("Converted with a warning: " + QByteArray::number(static_cast<qulonglong>(warnings_.size())) + ".");
        for (const Finished& f : warnings_)
            PrintLine("  " + PrintableName(plan_.files[f.index].source) + ": " + f.warning.toUtf8());
    }
    PrintNotes();
    PrintLeftOut();
}

// What the summary tells of results that are right: names changed on the
// way, and what a tool noted, each said once.
void BatchReport::PrintNotes() const {
    if (!plan_.renamed.empty()) {
        PrintLine("Names made for the output's file system (characters it refuses replaced, other encodings as "
                  "UTF-8, long names shortened): " +
                  QByteArray::number(static_cast<qulonglong>(plan_.renamed.size())) + ".");
        PrintSome(plan_.renamed.size(), [&](size_t n) {
            const PlannedFile& file = plan_.files[plan_.renamed[n]];
            return "  " + PrintableName(file.source) + " -> " + PrintableName(file.Recorded());
        });
    }
    if (!plan_.untagged.empty()) {
        PrintLine("Named by their own names (their tags lack what --name needs): " +
                  QByteArray::number(static_cast<qulonglong>(plan_.untagged.size())) + ".");
        PrintSome(plan_.untagged.size(),
                  [&](size_t n) { return "  " + PrintableName(plan_.files[plan_.untagged[n]].source); });
    }
    if (!plan_.madeBefore.empty()) {
        PrintLine("Made before under another name, left as they are (a new result is made): " +
                  QByteArray::number(static_cast<qulonglong>(plan_.madeBefore.size())) + ".");
        PrintSome(plan_.madeBefore.size(), [&](size_t n) {
            return "  " + PrintableName(plan_.madeBefore[n].second) + " -> " +
                   PrintableName(plan_.files[plan_.madeBefore[n].first].Recorded());
        });
    }
    if (withFolderArt_ > 0)
        PrintLine("Given the album art beside their sources: " + QByteArray::number(withFolderArt_) + ".");
    if (!plan_.userFiles.empty()) {
        PrintLine("Files of yours left as they are (--overwrite replaces them): " +
                  QByteArray::number(static_cast<qulonglong>(plan_.userFiles.size())) + ".");
        for (const auto& [i, path] : plan_.userFiles)
            PrintLine("  " + PrintableName(path) + ": the result is " + PrintableName(plan_.files[i].name));
    }
    for (const auto& [note, count] : noted_)
        PrintLine("Note: " + note.toUtf8() + " (" + QByteArray::number(count) + (count == 1 ? " file)" : " files)"));
    if (!savedAs_.empty())
        PrintLine("Saved under another name than planned:");
    for (const Finished& f : savedAs_)
        PrintLine("  " + PrintableName(plan_.files[f.index].source) + ": " + f.savedAs.toUtf8());
    for (const auto& [folder, err] : unrecorded_)
        PrintLine("Note: the results in " + PrintableName(folder) + " are not in its ledger (" + kLedgerName +
                  "): " + ErrorText(err).toUtf8() + "; a later run takes them for files of yours");
}

// What the walk could not read: failures too.
void BatchReport::PrintUnreadable() const {
    for (const TreeWalk::Unreadable& u : plan_.walk.unreadable)
        PrintLine("  " + PrintableName(u.path) + (u.folder ? "/: " : ": ") +
                  OpenFailureReason(u.error).toUtf8() + (u.folder ? " (folder not walked)" : ""));
}

// What the walk's rules left out, rule by rule.
void BatchReport::PrintLeftOut() const {
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
            PrintLine("    " + PrintableName(path));
        PrintMore(rule.paths.size(), static_cast<size_t>(rule.count));
    }
}

int BatchReport::PrintDryRun() const {
    if (!plan_.stop.isEmpty()) {
        PrintProblem(plan_.stop.toUtf8());
        return 1;
    }
    PrintPlan();
    if (!options_.quiet) {
        for (const PlannedFile& file : plan_.files)
            PrintLine(PrintableName(file.source) + " -> " + PrintableName(file.Target()));
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
