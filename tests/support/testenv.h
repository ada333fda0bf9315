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
// Runs body with this process's standard output sent to a file, and returns
// what was written there (by this process or by a child that inherited it).
QByteArray CaptureStdout(const std::function<void()>& body);

// The program folder of the build: the built executable's folder.
QString BuildProgramFolder();

// Runs program with arguments as an ordinary user, in the given environment:
// as uid and gid 65534 (through setpriv) when this process is root, else as
// this process's own user. Returns what it wrote to its standard output;
// none when it could not be run as that user or did not exit with 0.
std::optional<QByteArray> RunAsOrdinaryUser(const QString& program, const QStringList& arguments,
                                            const QProcessEnvironment& environment);
