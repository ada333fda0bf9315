#include "convert/staging.h"

#include "workfolder/workfolder.h"

#include "tags/tags.h"
#include "system/fileio.h"
#include "system/supervisor.h"
#include "system/systemerror.h"
#include "asf/asfheader.h"
#include "wmawav/decoder.h"
#include "audioenc/encoder.h"

#include <QCoreApplication>
#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kWorkingWma[] = "working.wma";
constexpr char kWorkingWav[] = "working.wav";
constexpr char kWorkingMp3[] = "working.mp3";
constexpr char kMarker[] = "working.nfo";
constexpr char kWmawav[] = "wmawav";
// The name under which the MP3 script has the encoder write (renamed to
// working.mp3 when the encoder succeeds).
constexpr char kEncoderTemp[] = ".working.mp3.part";
// Every fixed-name file that one file's conversion leaves in the work folder.
constexpr const char* kWorkingFiles[] = {kWorkingWma, kWorkingWav, kWorkingMp3, kMarker, kEncoderTemp};
// A staged file being written: this prefix and six random characters.
constexpr char kStagingPrefix[] = ".brenvale-stage-";
// Temporary names made with mkstemp: the decoder's and the encoder's output, a staged file
// being written and a result being tagged. A killed program leaves them behind.
constexpr const char* kTemporaryPrefixes[] = {kTempPrefix, kEncoderTempPrefix, kStagingPrefix, kTagsTempPrefix};
constexpr size_t kRandomSuffixLength = 6;

bool IsUsersRegularFile(const struct stat& st) {
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

// True when nothing at all stands at path (not even a dangling link).
bool NothingAt(const QString& path) {
    struct stat st;
    return ::lstat(SystemPath(path).c_str(), &st) != 0 && errno == ENOENT;
}

// Removes what killed tools left in the folder under their temporary names.
void RemoveTemporaryOutputs(const QString& folder) {
    const std::string f = SystemPath(folder);
    DIR* dir = ::opendir(f.c_str());
    if (!dir)
        return;
    std::vector<std::string> leftovers;
    while (const struct dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        for (const char* prefix : kTemporaryPrefixes) {
            const size_t length = std::strlen(prefix);
            if (name.size() == length + kRandomSuffixLength && name.compare(0, length, prefix) == 0)
                leftovers.push_back(name);
        }
    }
    ::closedir(dir);
    for (const std::string& name : leftovers)
        ::unlink((f + "/" + name).c_str());
}

// Writes bytes as the file at path, mode 0700: first under a temporary name
// in the same folder, then renamed over path. The file is therefore never
// seen half written nor executable by anyone else, and whatever stood at path
// before (another user's file included) is replaced, not written into.
void WriteStagedFile(const QByteArray& bytes, const QString& path) {
    const QString folder = path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
    std::string temp = SystemPath(folder) + kStagingPrefix + "XXXXXX";
    // Closed on exec: a program started meanwhile must not hold the file
    // open for writing, or the system refuses to run it (ETXTBSY).
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        throw SystemError(err, "staging " + SystemPath(path), err == ENOENT || err == ENOTDIR);
    }
    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw SystemError(err, "staging " + SystemPath(path));
    };
    if (::fchmod(fd, 0700) != 0)
        fail(errno);
    if (const int err = WriteFully(fd, bytes))
        fail(err);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        throw SystemError(err, "staging " + SystemPath(path));
    }
    if (::rename(temp.c_str(), SystemPath(path).c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        throw SystemError(err, "staging " + SystemPath(path));
    }
}

// True for the errors of a source that is no longer where the list says, or
// that this user may no longer read.
bool IsSourceGone(int err) {
    return err == ENOENT || err == ENOTDIR || err == EACCES || err == EPERM || err == ELOOP ||
           err == ENAMETOOLONG || err == EIO || err == ESTALE;
}

// What the first bytes of an open source say: Ready when they begin as an
// ASF file does (after an ID3v2 tag, if any), SourceUnusable when they do not
// (an empty file included), SourceGone when they cannot be read.
Preparation SniffSource(int fd) {
    uint8_t start[16];
    const ssize_t got = ReadAt(fd, start, 10, 0);
    if (got < 0)
        return Preparation::SourceGone;
    const uint64_t prefix = Id3v2PrefixLength(start, static_cast<size_t>(got));
    const ssize_t head = ReadAt(fd, start, sizeof start, static_cast<off_t>(prefix));
    if (head < 0)
        return Preparation::SourceGone;
    // A file cut short inside the GUID still goes to the decoder, which
    // tells it as damaged.
    return ScanAsfHeader(start, static_cast<size_t>(head)) == AsfScan::NotAsf ? Preparation::SourceUnusable
                                                                               : Preparation::Ready;
}

// Removes a file, whatever it is, after letting a window answer; a file
// that stays is found by the caller's test for it.
void RemoveQuietly(const WorkContext& work, const QString& path) {
    if (work.between)
        work.between();
    ::unlink(SystemPath(path).c_str());
}

QString Quoted(const QString& path) {
    return QLatin1Char('"') + path + QLatin1Char('"');
}

}  // namespace

bool UsableAsStaged(const QString& path) {
    struct stat st;
    if (path.isEmpty() || ::lstat(SystemPath(path).c_str(), &st) != 0)
        return false;
    return IsUsersRegularFile(st) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 && (st.st_mode & S_IXUSR) != 0;
}

QByteArray ConversionResource(int resourceId) {
    QFile resource(QStringLiteral(":/CUSTOM/%1").arg(resourceId));
    if (!resource.open(QIODevice::ReadOnly))
        return QByteArray();
    return resource.readAll();
}

WorkContext UserWorkContext() {
    // A run in the program's own event loop lets it answer while it works.
    return WorkContext{WorkFolder(), {}, {}, [] { QCoreApplication::processEvents(); }};
}

void StageTools(const WorkContext& work) {
    const QString& folder = work.folder;
    if (folder.isEmpty())
        return;  // each file of the run fails for want of a work folder
    for (const StagedTool& tool : kStagedTools) {
        if (!tool.window)
            continue;
        const QString path = folder + QLatin1Char('/') + QLatin1String(tool.fileName);
        if (UsableAsStaged(path))
            continue;
        WriteStagedFile(ConversionResource(tool.resourceId), path);
    }
}

namespace {

// True when the file at path holds exactly bytes.
bool HoldsBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() != bytes.size())
        return false;
    return file.readAll() == bytes;
}

}  // namespace

void StageToolSet(const QString& stagedSet) {
    for (const StagedTool& tool : kStagedTools) {
        const QString staged = stagedSet + QLatin1Char('/') + QLatin1String(tool.fileName);
        const QByteArray bytes = ConversionResource(tool.resourceId);
        if (!UsableAsStaged(staged) || !HoldsBytes(staged, bytes))
            WriteStagedFile(bytes, staged);
    }
}

void StageToolsLinked(const QString& stagedSet, const WorkContext& work) {
    for (const StagedTool& tool : kStagedTools) {
        const QString name = QLatin1Char('/') + QLatin1String(tool.fileName);
        const QString staged = stagedSet + name;
        const QString linked = work.folder + name;
        ::unlink(SystemPath(linked).c_str());
        if (::link(SystemPath(staged).c_str(), SystemPath(linked).c_str()) != 0 || !UsableAsStaged(linked))
            WriteStagedFile(ConversionResource(tool.resourceId), linked);
    }
}

void RemoveStagedTools(const WorkContext& work) {
    if (work.folder.isEmpty())
        return;
    for (const StagedTool& tool : kStagedTools) {
        if (tool.window)
            RemoveQuietly(work, work.folder + QLatin1Char('/') + QLatin1String(tool.fileName));
    }
}

void RemoveWorkingFiles(const WorkContext& work) {
    if (work.folder.isEmpty())
        return;
    for (const char* name : kWorkingFiles)
        RemoveQuietly(work, work.folder + QLatin1Char('/') + QLatin1String(name));
    RemoveTemporaryOutputs(work.folder);
}

Preparation PrepareWorkingFiles(const WorkContext& work, const QString& source) {
    const QString& folder = work.folder;
    if (folder.isEmpty())
        return Preparation::WorkFolderFailed;
    const auto path = [&folder](const char* name) { return folder + QLatin1Char('/') + QLatin1String(name); };

    // A stale working file that cannot be removed would stand in for this
    // file's own: the file fails instead.
    bool cleared = true;
    for (const char* stale : kWorkingFiles) {
        RemoveQuietly(work, path(stale));
        cleared = NothingAt(path(stale)) && cleared;
    }
    RemoveTemporaryOutputs(folder);
    if (!cleared)
        return Preparation::WorkFolderFailed;

    const int in = OpenRegularSource(source);
    if (in < 0)
        return IsSourceGone(errno) ? Preparation::SourceGone : Preparation::SourceUnusable;
    const Preparation looked = SniffSource(in);
    const NewCopy copy = looked == Preparation::Ready
                             ? CopyDescriptorIntoNewFile(in, path(kWorkingWma), work.between)
                             : NewCopy::Made;
    ::close(in);
    if (looked != Preparation::Ready)
        return looked;
    switch (copy) {
        case NewCopy::Made:
            break;
        case NewCopy::SourceUnusable:
            return Preparation::SourceGone;  // a read failed half-way
        case NewCopy::DestinationFailed:
            return Preparation::WorkFolderFailed;
    }
    if (CopyIntoNewFile(path(kWorkingWma), path(kMarker), work.between) != NewCopy::Made) {
        ::unlink(SystemPath(path(kWorkingWma)).c_str());
        return Preparation::WorkFolderFailed;
    }
    return Preparation::Ready;
}

ScriptCommands BuildScriptCommands(const WorkContext& work) {
    ScriptCommands commands;
    for (const FormatRow& row : kFormats)
        commands.commands[static_cast<size_t>(row.id)] =
            Quoted(work.folder.isEmpty() ? QString() : work.folder + QLatin1Char('/') + QLatin1String(row.script));
    return commands;
}

int RunConversionScript(const WorkContext& work, ConversionFormat format, const ScriptCommands& commands) {
    const QString& folder = work.folder;
    if (folder.isEmpty())
        return kScriptNotRun;
    const FormatRow& row = FormatOf(format);
    const QString script = folder + QLatin1Char('/') + QLatin1String(row.script);
    // Only what lies in the folder checked now is run: the user's own files
    // in a folder that only the user can change, so nothing can be swapped
    // in between this look and the start.
    const bool runnable = commands.of(format) == Quoted(script) && UsableAsStaged(script) &&
                          UsableAsStaged(folder + QLatin1Char('/') + QLatin1String(kWmawav)) &&
                          (!row.encoder || UsableAsStaged(folder + QLatin1Char('/') + QLatin1String(row.encoder)));

    // The script deletes the marker when its tools have ended, and only the
    // script ever deletes it. RunAndWait returns only once the script's
    // process has ended or could not be started, so by now the marker is
    // either gone or will stay for good: waiting on for it could only hang.
    // The wait for the marker therefore ends here.
    const QStringList arguments = row.encoder ? work.encoderOptions : QStringList();
    int status = kScriptNotRun;
    if (runnable && work.runScript) {
        status = work.runScript(script, arguments, folder);
    } else if (runnable) {
        PipelineCommand command;
        command.programs = {{script, arguments}};
        command.folder = folder;
        SupervisedPipeline pipeline;
        status = pipeline.Start(command) ? pipeline.Wait(work.between).front().status : kScriptNotStarted;
    }

    // A script that never ran removed nothing: the copies of the source go
    // here, so that nothing of this file stays in the work folder.
    if (status == kScriptNotRun || status < -1) {
        for (const char* name : {kWorkingWma, kMarker})
            ::unlink(SystemPath(folder + QLatin1Char('/') + QLatin1String(name)).c_str());
    }
    return status;
}

QString WorkingSourcePath(const WorkContext& work) {
    return work.folder.isEmpty() ? QString() : work.folder + QLatin1Char('/') + QLatin1String(kWorkingWma);
}

QString ResultFilePath(const WorkContext& work, ConversionFormat format) {
    if (work.folder.isEmpty())
        return QString();
    return work.folder + QLatin1Char('/') + QLatin1String(FormatOf(format).workingResult);
}

bool ResultFilePresent(const WorkContext& work, ConversionFormat format) {
    const QString path = ResultFilePath(work, format);
    struct stat st;
    return !path.isEmpty() && ::lstat(SystemPath(path).c_str(), &st) == 0 && IsUsersRegularFile(st);
}
