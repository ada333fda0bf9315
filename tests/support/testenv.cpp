#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryFile>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>

TestEnvironment::TestEnvironment() : dir_(std::make_unique<QTemporaryDir>()) {
    const QString r = dir_->path();
    QDir().mkpath(r + QStringLiteral("/config"));
    QDir().mkpath(r + QStringLiteral("/home/Desktop"));
    QDir().mkpath(r + QStringLiteral("/work"));
    QDir().mkpath(r + QStringLiteral("/cache"));
    qputenv("HOME", home().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (r + QStringLiteral("/config")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (r + QStringLiteral("/cache")).toLocal8Bit());
    qputenv("XDG_DESKTOP_DIR", desktop().toLocal8Bit());
    qputenv("TEMP", work().toLocal8Bit());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, r + QStringLiteral("/config"));
}

TestEnvironment::~TestEnvironment() = default;

QString TestEnvironment::home() const {
    return dir_->path() + QStringLiteral("/home");
}

QString TestEnvironment::desktop() const {
    return home() + QStringLiteral("/Desktop");
}

QString TestEnvironment::work() const {
    return dir_->path() + QStringLiteral("/work");
}

void MakeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

void MakeProgram(const QString& path, const QByteArray& bytes) {
    QFile::remove(path);
    MakeFile(path, bytes);
    ::chmod(QFile::encodeName(path).constData(), 0700);
}

QByteArray HalfWritingEncoder(const QByteArray& ending) {
    return "#!/bin/sh\nsize=$(wc -c < \"$1\")\nhead -c $((size / 2)) \"$1\" > \"$2\"\n" + ending + "\n";
}

QString BuildProgramFolder() {
    return QStringLiteral(BRENVALE_BUILD_DIR);
}

QByteArray CaptureStdout(const std::function<void()>& body) {
    std::fflush(stdout);
    QTemporaryFile capture;
    if (!capture.open())
        qFatal("cannot make a capture file");
    const int saved = ::dup(1);
    ::dup2(capture.handle(), 1);
    body();
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    capture.seek(0);
    return capture.readAll();
}

TmpfsMount::TmpfsMount(const QString& folder, const QString& options, bool noexec) : folder_(folder) {
    mounted_ = ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", noexec ? MS_NOEXEC : 0,
                       QFile::encodeName(options).constData()) == 0;
}

TmpfsMount::~TmpfsMount() {
    if (mounted_)
        ::umount2(QFile::encodeName(folder_).constData(), MNT_DETACH);
}

void StartAsOrdinaryUser(QProcess& process, const QString& program, const QStringList& arguments) {
    if (::geteuid() == 0) {
        process.start(QStringLiteral("setpriv"),
                      QStringList({QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                   QStringLiteral("--clear-groups"), QStringLiteral("--"), program}) +
                          arguments);
    } else {
        process.start(program, arguments);
    }
}

std::optional<QByteArray> RunAsOrdinaryUser(const QString& program, const QStringList& arguments,
                                            const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    StartAsOrdinaryUser(process, program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}
