#pragma once
// The path and file helpers of the window: file tests and single-file
// operations with the runtime's attribute values and error numbers. Most of
// them never raise: callers learn of a failure by testing for the file
// afterwards.
#include "system/fileio.h"

#include <QByteArray>
#include <QString>

struct stat;

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

// Copies source to destination (a destination ending in "/" names a folder
// that receives the file under its own name), replacing an existing file
// unless that file is read-only. The copy is written under a temporary name
// and renamed into place, so an existing destination is never left half
// written. Every failure is ignored.
void CopyFileQuiet(const QString& source, const QString& destination);

// Writes the bytes as the whole content of the file, creating it when
// missing. Raises on failure.
void WriteBytesToFile(const QByteArray& bytes, const QString& path);
