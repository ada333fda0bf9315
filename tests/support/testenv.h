#pragma once
// Test environment: a private settings store, HOME and work folder, so that
// no test touches the user's own files.
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>

class QProcess;

class TestEnvironment {
public:
    // Points the settings store, HOME, XDG folders and TEMP at a fresh
    // temporary folder. Call again for a clean store.
    TestEnvironment();
    ~TestEnvironment();

    QString root() const { return dir_->path(); }
    QString settingsFile() const;  // the INI file the store writes
    QString home() const;
    QString desktop() const;  // exists
    QString work() const;     // TEMP

    // Writes a key of the program's section directly into the store file.
    void storeRaw(const QString& key, const QString& value);
    bool storeContains(const QString& key) const;

private:
    std::unique_ptr<QTemporaryDir> dir_;
};

// Makes a file with the given bytes, creating its folders.
void MakeFile(const QString& path, const QByteArray& bytes = QByteArray("x"));
// Makes (or replaces) a program of this user's own: the bytes, mode 0700.
// Staging keeps such a file in place of its own tool or script.
void MakeProgram(const QString& path, const QByteArray& bytes);
// A stand-in encoder script: it writes half of its input file to its output
// file and then ends as ending says ("exit 1", "kill -KILL $$"), as an
// encoder does that runs out of room or is killed.
QByteArray HalfWritingEncoder(const QByteArray& ending);
// Runs body with this process's standard output sent to a file, and returns
// what was written there (by this process or by a child that inherited it).
QByteArray CaptureStdout(const std::function<void()>& body);

// The program folder of the build: the built executable's folder.
QString BuildProgramFolder();

// A small tmpfs mounted on an existing folder for as long as the object
// lives; options are tmpfs's own (for example "size=1m,mode=0700"), and
// noexec forbids running programs from it. mounted() is false when the
// system refused, as it does for an ordinary user; the caller then skips
// with the reason.
class TmpfsMount {
public:
    TmpfsMount(const QString& folder, const QString& options, bool noexec = false);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;
    bool mounted() const { return mounted_; }

private:
    QString folder_;
    bool mounted_ = false;
};

// Starts program with arguments in process as an ordinary user: as uid and
// gid 65534 (through setpriv) when this process is root, else as this
// process's own user. The caller sets the process up before and waits for it.
void StartAsOrdinaryUser(QProcess& process, const QString& program, const QStringList& arguments);
// Runs program with arguments as StartAsOrdinaryUser starts it, in the given
// environment. Returns what it wrote to its standard output; none when it
// could not be run as that user or did not exit with 0.
std::optional<QByteArray> RunAsOrdinaryUser(const QString& program, const QStringList& arguments,
                                            const QProcessEnvironment& environment);
