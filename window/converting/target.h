#pragma once
// Where a converted file goes, and whether it got there.
#include "convert/formats.h"

#include <QString>
#include <QStringList>

#include <functional>

// The full path under which the result of source is stored:
// - option3 ("Save results to this folder:"): folderText, "/", the source's
//   file name with ".mp3" or ".wav" for its extension;
// - otherwise option4 ("Save results in folder of original file"): the
//   source's own folder, "/", that name;
// - otherwise that name next to the source.
// The extension is cut from the file name only: everything from its last "."
// on, unless that dot is the name's first character (".intro" gives
// ".intro.mp3"; a dot in a folder's name is never cut). The joined path is
// normalised, so a folder written with or without a trailing "/" gives the
// same result.
QString ResolveTargetPath(const QString& source, ConversionFormat format, bool option3, bool option4,
                          const QString& folderText);

// The path under which a result for target is saved so that it replaces
// nothing of taken (the results this run has written, the listed files, the
// source): target itself when it is none of them, otherwise "NAME (2).EXT",
// "NAME (3).EXT" and on, the first that is none of them. A path counts as
// one of taken when it has the same text, or names the same existing file
// however its folders are written; a link counts as itself, never as the
// file it leads to. Any other file (or link) at the path is replaced.
QString UntakenTarget(const QString& target, const QStringList& taken);
// The same numbering, with isTaken telling whether a path is taken (for a
// caller whose taken paths are too many to list).
QString UntakenTarget(const QString& target, const std::function<bool(const QString& path)>& isTaken);

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

// Saves the whole file result as target, as the window saves a result:
// whatever stands at target is replaced, atomically, where the folder lets
// the user do so (a link itself, never what it leads to), except a folder,
// anything that is no regular file once links are followed, a file its
// owner may not write and the source itself; the result is written whole
// under no name first, so that a failure leaves target as it was. The
// folder must exist. Never raises: the caller looks at target afterwards
// (HoldsNewCopy).
void SaveWindowResult(const QString& result, const QString& target, const QString& source);
