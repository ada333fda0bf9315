#pragma once
// Where a converted file goes, and whether it got there.
#include "convert/staging.h"

#include <QString>

// The full path under which the result of source is stored:
// - option3 ("Save results to this folder:"): folderText, "/", the source's
//   base name with ".mp3" or ".wav";
// - otherwise option4 ("Save results in folder of original file"): the
//   source's own folder, "/", that name;
// - otherwise the source's path with its extension replaced.
// The base name is the source without everything from its last "." on (a dot
// in a folder name counts when the file name has none). The joined path is
// normalised, so a folder written with or without a trailing "/" gives the
// same result.
QString ResolveTargetPath(const QString& source, ConversionFormat format, bool option3, bool option4,
                          const QString& folderText);

// True when both paths name one existing file (the same inode on the same
// device), however the paths are written: "." and ".." parts, doubled
// separators, links. False when either does not exist.
bool IsSameFile(const QString& a, const QString& b);

// What a path held at one moment, so that a later look can tell whether a
// copy has replaced it.
struct FileStamp {
    bool exists = false;
    bool regular = false;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 changeSec = 0;
    qint64 changeNsec = 0;
};
FileStamp StampOf(const QString& path);

// True when target now holds a copy of result made after before was taken:
// a regular file with result's exact bytes that either did not exist before
// or has been replaced or rewritten since. A file that was left as it was (a
// read-only one, or one in a folder that cannot be written) does not count,
// even when its bytes happen to match.
bool HoldsNewCopy(const QString& target, const FileStamp& before, const QString& result);
