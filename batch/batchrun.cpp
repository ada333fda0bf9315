#include "batch/batchrun.h"

#include "app/dialogs.h"
#include "app/errorreport.h"
#include "batch/batchoptions.h"
#include "batch/jobprocess.h"
#include "convert/staging.h"
#include "convert/target.h"
#include "folderscan/addall.h"
#include "launch/commandline.h"
#include "tags/worktags.h"
#include "util/files.h"
#include "util/paths.h"

#include <QCoreApplication>
#include <QDir>
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
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// One file to convert and the folder its result goes to ("" beside it).
struct Source {
    QString path;
    QString targetFolder;
};

enum class Result { Converted, Skipped, Failed };

struct Finished {
    QString source;
    Result result = Result::Failed;
    QString detail;  // the target, or the reason of a failure
};

void PrintLine(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
}

// What the folder walk and its trap have to say reaches the batch as a line
// of text; nobody is there to answer a question.
class TextDialogs : public Dialogs {
public:
    int MsgBox(const QString& prompt, int style, const QString& title) override {
        // Of an error report only its description says anything here.
        QString text = title == QLatin1String("Application Error")
                           ? prompt.section(QLatin1String("\r\n"), 0, 0)
                           : prompt;
        text.replace(QLatin1String("\r\n"), QLatin1String(" ")).replace(QLatin1Char('\r'), QLatin1Char(' '));
        PrintLine(QStringLiteral("brenvale: ") + text.simplified());
        return (style & vbYesNo) == vbYesNo ? vbNo : vbOK;
    }
    QString InputBox(const QString&, const QString&, const QString&) override { return QString(); }
    QString ShowOpen(const OpenFileRequest&) override { return QString(); }
    QString PickFolder(const QString&, const QString&) override { return QString(); }
    bool OpenUrl(const QUrl&) override { return false; }
};

// Why a source was not taken into the work folder.
QString UnusableReason(const QString& path) {
    struct stat st;
    if (::stat(SystemPath(path).c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? QStringLiteral("not found")
                                                   : QStringLiteral("can not be read");
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("is a folder");
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("not a regular file (a FIFO, device or socket)");
    if (st.st_size == 0)
        return QStringLiteral("empty");
    if (::access(SystemPath(path).c_str(), R_OK) != 0)
        return QStringLiteral("can not be read");
    // A readable file with data that was refused: it does not start as a
    // WMA file does.
    return QStringLiteral("not a WMA file");
}

// The cause the window tells for a file that did not decode; the decoder's
// status tells it more exactly where it can.
QString DecodingReason(int status) {
    switch (status) {
        case 3:
            return QStringLiteral("not a WMA file");
        case 5:
            return QStringLiteral("damaged");
        default:
            return QStringLiteral("may be DRM protected");
    }
}

QString WorkFolderReason(const QString& folder) {
    return QStringLiteral("work folder: check that ") + folder +
           QStringLiteral(" has free space, can be written to and allows programs to run");
}

// Each job's private folder under the work folder: this prefix and a unique
// ending.
constexpr char kJobFolderPrefix[] = "batch-job-";

// Removes a job's private folder: only files are ever made in it.
void RemoveJobFolder(const std::string& folder) {
    if (DIR* dir = ::opendir(folder.c_str())) {
        std::vector<std::string> names;
        while (const struct dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
        for (const std::string& name : names)
            ::unlink((folder + "/" + name).c_str());
    }
    ::rmdir(folder.c_str());
}

// A job holds a lock on its folder (flock on the folder itself) for as long
// as it works there. Returns the locked folder's descriptor, or -1 when the
// lock is held elsewhere or the name no longer leads to that folder, our
// own: a folder that another batch removed while this one waited for it.
int LockJobFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat held, named;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 && held.st_nlink > 0 &&
        held.st_uid == ::geteuid() && ::lstat(folder.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino)
        return fd;
    ::close(fd);
    return -1;
}

// A batch that was killed outright (SIGKILL, a crash, a power cut) could not
// remove its job folders. A new batch removes every job folder whose lock it
// can take, and never one that a running batch works in.
void RemoveStaleJobFolders(const QString& workFolder) {
    const std::string work = SystemPath(workFolder);
    std::vector<std::string> folders;
    if (DIR* dir = ::opendir(work.c_str())) {
        while (const struct dirent* entry = ::readdir(dir))
            if (std::strncmp(entry->d_name, kJobFolderPrefix, std::strlen(kJobFolderPrefix)) == 0)
                folders.push_back(work + "/" + entry->d_name);
        ::closedir(dir);
    }
    for (const std::string& folder : folders) {
        const int lock = LockJobFolder(folder);
        if (lock >= 0) {
            RemoveJobFolder(folder);
            ::close(lock);
        }
    }
}

// A folder of the user's own, closed to everyone else: made (mode 0700)
// when missing.
bool MakePrivateFolder(const QString& folder) {
    const std::string f = SystemPath(folder);
    ::mkdir(f.c_str(), 0700);
    struct stat st;
    return ::lstat(f.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

struct InodeKey {
    quint64 device;
    quint64 inode;
    bool operator<(const InodeKey& o) const {
        return device != o.device ? device < o.device : inode < o.inode;
    }
};

bool KeyOf(const QString& path, InodeKey& key) {
    struct stat st;
    if (::stat(SystemPath(path).c_str(), &st) != 0)
        return false;
    key = {static_cast<quint64>(st.st_dev), static_cast<quint64>(st.st_ino)};
    return true;
}

QString Duration(qint64 seconds) {
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

class BatchRun {
public:
    BatchRun(const BatchOptions& options, std::vector<Source> sources)
        : options_(options), sources_(std::move(sources)), processes_(options.jobs) {
        for (const Source& s : sources_) {
            sourceTexts_.insert(NormalizePath(s.path));
            InodeKey key;
            if (KeyOf(s.path, key))
                takenInodes_.insert(key);
        }
    }

    int Run(const sigset_t& stopSignals);

private:
    void Job(int slot);
    Finished Convert(const WorkContext& work, const ScriptCommands& commands, const Source& source);
    QString Reserve(const QString& target, const QString& source);
    bool Taken(const QString& candidate, const QString& source) const;
    void Report(Finished finished);
    void WakeMain();
    void PrintProgress(bool final);

    const BatchOptions& options_;
    const std::vector<Source> sources_;
    JobProcesses processes_;
    QString workFolder_;
    QString stagedSet_;
    std::atomic<size_t> next_{0};
    std::atomic<int> jobsRunning_{0};
    int wake_ = -1;  // written by a job when the main thread has news

    std::mutex mutex_;  // guards everything below
    QSet<QString> sourceTexts_;
    QSet<QString> reserved_;  // the targets of this run, saved or being saved
    std::set<InodeKey> takenInodes_;
    std::deque<Finished> finished_;
    QString inWork_;

    // The main thread's own.
    int converted_ = 0;
    int skipped_ = 0;
    std::vector<Finished> failures_;
    bool terminal_ = false;
    bool statusShown_ = false;
    QElapsedTimer clock_;
};

bool BatchRun::Taken(const QString& candidate, const QString& source) const {
    const QString normal = NormalizePath(candidate);
    if (normal == NormalizePath(source) || reserved_.contains(normal) || sourceTexts_.contains(normal))
        return true;
    InodeKey key;
    return KeyOf(candidate, key) && takenInodes_.count(key) > 0;
}

QString BatchRun::Reserve(const QString& target, const QString& source) {
    std::lock_guard<std::mutex> hold(mutex_);
    const QString untaken =
        UntakenTarget(target, [&](const QString& candidate) { return Taken(candidate, source); });
    reserved_.insert(NormalizePath(untaken));
    return untaken;
}

Finished BatchRun::Convert(const WorkContext& work, const ScriptCommands& commands, const Source& source) {
    Finished done;
    done.source = source.path;
    const auto failed = [&done](const QString& reason) {
        done.result = Result::Failed;
        done.detail = reason;
        return done;
    };
    const ConversionFormat format = options_.format;
    const QString target =
        ResolveTargetPath(source.path, format, !source.targetFolder.isEmpty(), true, source.targetFolder);
    struct stat st;
    if (options_.skipExisting && ::lstat(SystemPath(target).c_str(), &st) == 0) {
        done.result = Result::Skipped;
        done.detail = target;
        return done;
    }

    const Preparation prepared = PrepareWorkingFiles(work, source.path);
    if (prepared == Preparation::WorkFolderFailed)
        return failed(WorkFolderReason(workFolder_));
    if (prepared != Preparation::Ready)
        return failed(UnusableReason(source.path));
    // The tags come from the work folder's own copy, as in the window.
    const TrackTags tags = ReadWorkingSourceTags(work);
    const int status = RunConversionScript(work, format, commands);
    const FileOutcome outcome = OutcomeOfScript(work, status, format);
    if (outcome == FileOutcome::WorkFolderFailed)
        return failed(WorkFolderReason(workFolder_));
    if (outcome == FileOutcome::TooLongForWav)
        return failed(QStringLiteral("too long for a WAV file, which holds at most 4 GB: convert it to MP3"));
    if (outcome != FileOutcome::ResultReady)
        return failed(DecodingReason(status));
    TagWorkingResult(work, format, tags);

    const QString saved = Reserve(target, source.path);
    const QString result = ResultFilePath(work, format);
    if (!source.targetFolder.isEmpty())
        QDir().mkpath(FolderOfPath(saved));
    const FileStamp before = StampOf(saved);
    CopyFileChecked(result, saved);
    if (!HoldsNewCopy(saved, before, result))
        return failed(QStringLiteral("can not save ") + saved +
                      QStringLiteral(": check that the folder exists and can be written to"));
    {
        std::lock_guard<std::mutex> hold(mutex_);
        InodeKey key;
        if (KeyOf(saved, key))
            takenInodes_.insert(key);
    }
    done.result = Result::Converted;
    done.detail = saved;
    return done;
}

void BatchRun::Job(int slot) {
    // Each job has a private folder of its own under the user's work folder:
    // no two jobs, and no window, share working files, a lock or tools.
    WorkContext work;
    work.encoderOptions = options_.encoderOptions;
    work.runScript = [this, slot](const QString& script, const QStringList& arguments,
                                  const QString& folder) {
        return processes_.Run(slot, script, arguments, folder);
    };
    std::string folder;
    int lock = -1;
    if (!workFolder_.isEmpty() && !stagedSet_.isEmpty()) {
        for (int attempt = 0; attempt < 3 && lock < 0; ++attempt) {
            folder = SystemPath(workFolder_) + "/" + kJobFolderPrefix + "XXXXXX";
            if (!::mkdtemp(folder.data()))
                break;
            // A batch starting at this moment may have taken the new folder
            // for a stale one; it removes it, and the job makes another.
            lock = LockJobFolder(folder);
            if (lock < 0)
                ::rmdir(folder.c_str());
        }
    }
    if (lock >= 0)
        work.folder = QFile::decodeName(QByteArray::fromStdString(folder));
    if (!work.folder.isEmpty()) {
        try {
            StageToolsLinked(stagedSet_, work);
        } catch (...) {
            // The tools that are missing keep each file from running: it
            // fails with the work folder named.
        }
    }
    const ScriptCommands commands = BuildScriptCommands(work);
    while (!processes_.Stopping()) {
        const size_t i = next_++;
        if (i >= sources_.size())
            break;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            inWork_ = sources_[i].path;
        }
        Finished done = work.folder.isEmpty()
                            ? Finished{sources_[i].path, Result::Failed, WorkFolderReason(workFolder_)}
                            : Convert(work, commands, sources_[i]);
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
    if (lock >= 0) {
        RemoveJobFolder(folder);
        ::close(lock);
    }
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

void BatchRun::Report(Finished finished) {
    switch (finished.result) {
        case Result::Converted:
            ++converted_;
            break;
        case Result::Skipped:
            ++skipped_;
            break;
        case Result::Failed:
            failures_.push_back(finished);
            break;
    }
    QString line;
    if (finished.result == Result::Failed)
        line = QStringLiteral("failed %1: %2").arg(finished.source, finished.detail);
    else if (options_.quiet || terminal_)
        return;
    else if (finished.result == Result::Converted)
        line = QStringLiteral("converted %1 -> %2").arg(finished.source, finished.detail);
    else
        line = QStringLiteral("skipped %1: %2 exists").arg(finished.source, finished.detail);
    if (statusShown_)
        std::fputs("\r\033[K", stderr);
    statusShown_ = false;
    PrintLine(line);
}

void BatchRun::PrintProgress(bool final) {
    if (!terminal_ || options_.quiet)
        return;
    const size_t total = sources_.size();
    const size_t done = static_cast<size_t>(converted_ + skipped_) + failures_.size();
    const double minutes = clock_.elapsed() / 60000.0;
    QString line = QStringLiteral("[%1/%2] %3%").arg(done).arg(total).arg(total ? done * 100 / total : 100);
    if (done > 0 && minutes > 0) {
        const double perMinute = done / minutes;
        line += QStringLiteral(", %1 files/min").arg(perMinute, 0, 'f', 1);
        if (!final)
            line += QStringLiteral(", %1 left")
                        .arg(Duration(static_cast<qint64>((total - done) / perMinute * 60.0)));
    }
    if (!final) {
        std::lock_guard<std::mutex> hold(mutex_);
        if (!inWork_.isEmpty())
            line += QStringLiteral(": ") + FileNameOfPath(inWork_);
    }
    struct winsize size {};
    const int width =
        ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col - 1 : 79;
    if (line.size() > width)
        line.truncate(width);
    std::fputs("\r\033[K", stderr);
    const QByteArray bytes = line.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    if (final)
        std::fputc('\n', stderr);
    std::fflush(stderr);
    statusShown_ = !final;
}

int BatchRun::Run(const sigset_t& stopSignals) {
    terminal_ = ::isatty(STDERR_FILENO) == 1;
    clock_.start();
    workFolder_ = WorkFolder();
    if (workFolder_.isEmpty())
        workFolder_ = WorkFolderForMessages();
    else if (MakePrivateFolder(workFolder_ + QStringLiteral("/batch-tools")))
        stagedSet_ = workFolder_ + QStringLiteral("/batch-tools");
    if (!stagedSet_.isEmpty())
        RemoveStaleJobFolders(workFolder_);
    if (!options_.outputFolder.isEmpty())
        QDir().mkpath(options_.outputFolder);

    const int jobs = static_cast<int>(
        std::min<size_t>(static_cast<size_t>(options_.jobs), std::max<size_t>(sources_.size(), 1)));
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
        PrintLine(QStringLiteral("brenvale: stopped (%1): converted %2, skipped %3, failed %4, not done %5")
                      .arg(QString::fromLocal8Bit(::strsignal(stopSignal)))
                      .arg(converted_)
                      .arg(skipped_)
                      .arg(failures_.size())
                      .arg(sources_.size() - static_cast<size_t>(converted_ + skipped_) - failures_.size()));
        return 128 + stopSignal;
    }
    PrintProgress(true);
    if (!options_.quiet) {
        PrintLine(QStringLiteral("Converted: %1, skipped: %2, failed: %3.")
                      .arg(converted_)
                      .arg(skipped_)
                      .arg(failures_.size()));
        for (const Finished& f : failures_)
            PrintLine(QStringLiteral("  %1: %2").arg(f.source, f.detail));
    }
    return failures_.empty() ? 0 : 1;
}

// The files the paths name: each FILE as it is, each FOLDER's tree walked
// for "*.wma" (any letter case) by the walk of "Add All WMA File(s) In
// Folder", with its rules for links, pseudo file systems and names.
std::vector<Source> CollectSources(const BatchOptions& options) {
    std::vector<Source> sources;
    TextDialogs dialogs;
    ErrorTrap trap(dialogs, QStringLiteral("in brenvale --convert "));
    const QString output = options.outputFolder;
    for (const QString& path : options.paths) {
        struct stat st;
        if (::stat(SystemPath(path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            sources.push_back({path, output});
            continue;
        }
        const QString root = path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
        QString lastFolder;
        QString lastTarget = output;
        AddAllFilesInTree(trap, dialogs, path, QStringLiteral("wma"), [&](const QString& file) {
            if (options.keepFolders) {
                // One text per folder, shared by its files.
                const QString folder = FolderOfPath(file);
                if (folder != lastFolder) {
                    lastFolder = folder;
                    lastTarget = folder.startsWith(root)
                                     ? NormalizePath(output + QLatin1Char('/') + folder.mid(root.size()))
                                     : output;
                }
            }
            sources.push_back({file, lastTarget});
        });
    }
    return sources;
}

}  // namespace

int RunBatch(const BatchOptions& options) {
    const std::vector<Source> sources = CollectSources(options);

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
        BatchRun run(options, sources);
        status = run.Run(stopSignals);
    }
    std::fflush(stderr);
    return status;
}

int RunBatchCommand(int argc, char* argv[]) {
    const BatchOptions options = ParseBatchOptions(ArgumentsOf(argc, argv), CurrentFolder(), UsableCores());
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
