#pragma once
// File operations of the engine: paths as the system takes them, opening a
// source safely, copying into new files, and what the file systems are.
// Failures are told by return values and errno.
#include <QByteArray>
#include <QString>

#include <functional>
#include <string>
#include <unordered_map>

#include <sys/types.h>

struct stat;

// A path as the system calls take it (QFile::encodeName).
std::string SystemPath(const QString& path);

// count characters drawn at random from alphabet, for the name of a file
// the program makes and removes again: no other file is to have it.
QByteArray RandomLetters(int count, const char* alphabet);

// What the attribute values and the folder listings need to know of the file
// systems that folders lie on, remembered per device: a walk over thousands
// of folders asks the system once per device instead of once per folder.
class FileSystemKinds {
public:
    // True when the folder at path (st: its lstat) counts as a system
    // folder: it lies on a kernel pseudo file system; of a devtmpfs mount
    // only the top counts (the walk never goes below a system folder).
    bool IsSystemFolder(const std::string& path, const struct stat& st);

    // True when an open folder lies anywhere on a kernel pseudo file system:
    // a listing of it holds no files. The second form is for a folder whose
    // device is known already.
    bool IsOnPseudoFileSystem(int folderFd);
    bool IsOnPseudoFileSystem(int folderFd, dev_t device);

private:
    enum Kind { kReal, kPseudo, kTmpfs, kDevtmpfs };
    // The kind of device's file system: remembered, or learnt from statfs of
    // path (fstatfs of fd when path is null) and remembered. False when the
    // system cannot tell.
    bool KnownKind(dev_t device, const char* path, int fd, Kind& kind);
    std::unordered_map<dev_t, Kind> kinds_;
};

// Opens path for reading when it is a regular file (links followed) that
// holds data: never a FIFO, device or socket, nor a file of a kernel pseudo
// file system such as /proc, whose reads can wait for ever. Nothing else is
// ever opened. Returns the descriptor (close-on-exec), or -1 with errno set.
int OpenRegularSource(const QString& path);
// The same for a path as the system's bytes.
int OpenRegularSource(const char* path);

// How CopyIntoNewFile ended.
enum class NewCopy {
    Made,
    SourceUnusable,     // the source is not a regular file with data, or cannot be read
    DestinationFailed,  // the copy cannot be made or written whole (no room, no permission, name taken)
};

// Copies source (opened as OpenRegularSource does) into a file that it makes
// at destination, mode 0600. The name must be free: an existing file or
// symbolic link there is never written to or through. On failure nothing is
// left at destination. When between is given, the copy goes in chunks of a
// few MiB and between is called after each, so that a caller on the window's
// thread can let the window answer during a long copy.
NewCopy CopyIntoNewFile(const QString& source, const QString& destination,
                        const std::function<void()>& between = {});
// The same from a descriptor of such a file, read from its start; the
// descriptor stays open.
NewCopy CopyDescriptorIntoNewFile(int sourceFd, const QString& destination,
                                  const std::function<void()>& between = {});

// Writes all of data to an open file descriptor, going on after partial
// writes and interruptions. Returns 0, or the errno of the failure. Makes
// no call but write(), so a child may call it between fork and exec.
int WriteFully(int fd, const void* data, size_t size);
int WriteFully(int fd, const QByteArray& bytes);

// Reads up to size bytes at offset (pread: the descriptor's own offset
// stays), fewer only at the end of the file. Returns the bytes read, or -1
// with errno set.
ssize_t ReadAt(int fd, void* buffer, size_t size, off_t offset);

// Copies everything from in to out, both read and written from where they
// stand (the caller has them at their start). Returns 0, or the errno of the
// failure; readFailed tells a failed read from a failed write. between, when
// given, is called after every few MiB.
int CopyContents(int in, int out, bool& readFailed, const std::function<void()>& between = {});

// The current folder as the shell shows it: $PWD when it names the current
// folder (so a folder reached through a symbolic link keeps its name),
// otherwise the folder as the system resolves it; the system's bytes.
QByteArray CurrentFolderBytes();
