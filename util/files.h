#pragma once
// File tests and single-file operations. Most of them never raise: callers
// learn of a failure by testing for the file afterwards.
#include <QByteArray>
#include <QString>

#include <functional>
#include <string>
#include <unordered_map>

#include <sys/types.h>

struct stat;

// A path as the system calls take it (QFile::encodeName).
std::string SystemPath(const QString& path);

// Attribute bits of a path.
enum FileAttribute : int {
    kAttrReadOnly = 1,  // the owner may not write it
    kAttrHidden = 2,    // the name begins with "."
    kAttrSystem = 4,    // a folder of a kernel pseudo file system
    kAttrDirectory = 16,
    kAttrArchive = 32,         // every regular file
    kAttrReparsePoint = 1024,  // a symbolic link
};

// A folder of a kernel pseudo file system, or a symbolic link to a folder,
// counts as a hidden system folder: exactly these two values.
inline constexpr int kAttrHiddenSystemFolder = kAttrDirectory | kAttrSystem | kAttrHidden;  // 22
inline constexpr int kAttrHiddenSystemLink = kAttrHiddenSystemFolder | kAttrReparsePoint;   // 1046

// The attribute value of a path, read with lstat on the path without its
// trailing "/". Raises 53 (or 76 when the parent folder is missing), 70 when
// access is denied.
int FileAttributes(const QString& path);

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

// FileAttributes, asking kinds about the file systems of folders.
int FileAttributes(const QString& path, FileSystemKinds& kinds);

// The same, or -1 when the attributes cannot be read; never raises. st
// receives what lstat read.
int TryFileAttributes(const QString& path, FileSystemKinds& kinds, struct stat& st);

// The same, or fallback when the attributes cannot be read.
int TryFileAttributes(const QString& path, int fallback = -1);

// True when the path names an existing file or folder (it can be stat'ed);
// false for every failure, the empty text included. Never raises.
bool FileExists(const QString& path);

// True when the attributes can be read and include the directory bit.
bool IsFolder(const QString& path);

// True when both paths name one existing file (the same inode on the same
// device), however the paths are written: "." and ".." parts, doubled
// separators, links. False when either does not exist.
bool IsSameFile(const QString& a, const QString& b);

// True for a regular file (after links) that can be opened for reading;
// false for folders, devices, FIFOs, sockets, missing and unreadable paths.
bool IsExistingFile(const QString& path);

// Yields to the event loop once, then deletes the file; when that fails,
// DeleteFileForced; every failure is ignored.
void DeleteFileQuiet(const QString& path);

// Deletes the file, read-only ones too. Raises on failure.
void DeleteFileForced(const QString& path);

// Copies only an existing file into an existing folder; never raises. Empty
// or blank arguments do nothing; both paths are normalised first. "?" and "*"
// are ordinary characters of a name.
void CopyFileChecked(const QString& source, const QString& destination);

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

// Copies source to destination (a destination ending in "/" names a folder
// that receives the file under its own name), replacing an existing file
// unless that file is read-only. The copy is written under a temporary name
// and renamed into place, so an existing destination is never left half
// written. Every failure is ignored.
void CopyFileQuiet(const QString& source, const QString& destination);

// Writes all of bytes to an open file descriptor, going on after partial
// writes and interruptions. Returns 0, or the errno of the failure.
int WriteFully(int fd, const QByteArray& bytes);

// Writes the bytes as the whole content of the file, creating it when
// missing. Raises on failure.
void WriteBytesToFile(const QByteArray& bytes, const QString& path);
