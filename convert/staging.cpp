#include "convert/staging.h"

#include "app/errorreport.h"
#include "util/files.h"
#include "util/shell.h"

#include <QFile>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <string>

namespace {

constexpr char kWorkingWma[] = "working.wma";
constexpr char kWorkingWav[] = "working.wav";
constexpr char kWorkingMp3[] = "working.mp3";
constexpr char kMarker[] = "working.nfo";
constexpr char kMp3Script[] = "wma2mp3.sh";
constexpr char kWavScript[] = "wma2wav.sh";

QString HomeFolder() {
    const QString home = QFile::decodeName(qgetenv("HOME"));
    if (!home.isEmpty())
        return home;
    if (const struct passwd* pw = ::getpwuid(::getuid()))
        return QFile::decodeName(pw->pw_dir);
    return QString();
}

// Creates each missing folder of path with mode 0700.
void MakePrivateFolders(const QString& path) {
    QString sofar;
    const QStringList parts = path.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        sofar += parts.at(i);
        if (!parts.at(i).isEmpty())
            ::mkdir(SystemPath(sofar).c_str(), 0700);
        if (i + 1 < parts.size())
            sofar += QLatin1Char('/');
    }
}

// The directory listing's test for a normal file: found when it exists and is
// neither a folder nor hidden nor a system file.
bool NormalFileListed(const QString& path) {
    const int attributes = TryFileAttributes(path, -1);
    return attributes >= 0 && (attributes & (kAttrDirectory | kAttrHidden | kAttrSystem)) == 0;
}

// A staged file may be used as it is only when nobody but the current user
// can have put it there or changed it since, and it can serve its purpose: a
// regular file of the current user's, which neither group nor others may
// write, and which its owner may execute.
bool UsableAsStaged(const QString& path) {
    struct stat st;
    if (::lstat(SystemPath(path).c_str(), &st) != 0)
        return false;
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 &&
           (st.st_mode & S_IXUSR) != 0;
}

// Writes bytes as the file at path, mode 0700: first under a temporary name
// in the same folder, then renamed over path. The file is therefore never
// seen half written nor executable by anyone else, and whatever stood at path
// before (another user's file included) is replaced, not written into.
void WriteStagedFile(const QByteArray& bytes, const QString& path) {
    const QString folder = path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
    std::string temp = SystemPath(folder) + ".brenvale-stage-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        const int err = errno;
        RaiseErrno(err, err == ENOENT || err == ENOTDIR);
    }
    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(temp.c_str());
        RaiseErrno(err);
    };
    if (::fchmod(fd, 0700) != 0)
        fail(errno);
    if (const int err = WriteFully(fd, bytes))
        fail(err);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        RaiseErrno(err);
    }
    if (::rename(temp.c_str(), SystemPath(path).c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        RaiseErrno(err);
    }
}

}  // namespace

QString WorkFolder() {
    const QString temp = QFile::decodeName(qgetenv("TEMP"));
    if (!temp.isEmpty())
        return temp;

    // XDG asks to ignore a relative XDG_CACHE_HOME.
    QString cache = QFile::decodeName(qgetenv("XDG_CACHE_HOME"));
    if (!cache.startsWith(QLatin1Char('/')))
        cache = HomeFolder() + QStringLiteral("/.cache");
    const QString folder = cache + QStringLiteral("/brenvale/work");

    const std::string f = SystemPath(folder);
    struct stat st;
    if (::lstat(f.c_str(), &st) != 0) {
        MakePrivateFolders(folder);
    } else if (S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 07777) != 0700) {
        ::chmod(f.c_str(), 0700);
    }
    return folder;
}

QString WorkPath(const QString& name) {
    return WorkFolder() + QLatin1Char('/') + name;
}

QByteArray ConversionResource(int resourceId) {
    QFile resource(QStringLiteral(":/CUSTOM/%1").arg(resourceId));
    if (!resource.open(QIODevice::ReadOnly))
        return QByteArray();
    return resource.readAll();
}

void StageTools() {
    for (const StagedTool& tool : kStagedTools) {
        const QString path = WorkPath(QLatin1String(tool.fileName));
        if (FileExists(path) && UsableAsStaged(path))
            continue;
        WriteStagedFile(ConversionResource(tool.resourceId), path);
    }
}

void RemoveStagedTools() {
    for (const StagedTool& tool : kStagedTools)
        DeleteFileQuiet(WorkPath(QLatin1String(tool.fileName)));
}

void PrepareWorkingFiles(const QString& source) {
    DeleteFileQuiet(WorkPath(QLatin1String(kWorkingWma)));
    CopyFileChecked(source, WorkPath(QLatin1String(kWorkingWma)));
    DeleteFileQuiet(WorkPath(QLatin1String(kWorkingWav)));
    DeleteFileQuiet(WorkPath(QLatin1String(kWorkingMp3)));
    DeleteFileQuiet(WorkPath(QLatin1String(kMarker)));
    CopyFileChecked(WorkPath(QLatin1String(kWorkingWma)), WorkPath(QLatin1String(kMarker)));
}

ScriptCommands BuildScriptCommands() {
    const QString quote = QStringLiteral("\"");
    return {quote + WorkPath(QLatin1String(kMp3Script)) + quote,
            quote + WorkPath(QLatin1String(kWavScript)) + quote};
}

void RunConversionScript(ConversionFormat format, const ScriptCommands& commands) {
    RunAndWait(format == ConversionFormat::MP3 ? commands.mp3 : commands.wav, SW_HIDE, WorkFolder());

    // The script deletes the marker when its tools have ended, and only the
    // script ever deletes it. RunAndWait returns only once the script's
    // process has ended or could not be started, so by now the marker is
    // either gone or will stay for good: waiting on for it could only hang.
    // The wait for the marker therefore ends here.
}

QString ResultFilePath(ConversionFormat format) {
    return WorkPath(QLatin1String(format == ConversionFormat::MP3 ? kWorkingMp3 : kWorkingWav));
}

bool ResultFilePresent(ConversionFormat format) {
    return NormalFileListed(ResultFilePath(format));
}
