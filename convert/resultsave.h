#pragma once
// Saving a finished result into the user's folder, whole or not at all. The
// result is written as a file without a name (or, where the file system has
// no such files, under a temporary name that a later save removes when its
// writer is gone) and given its name only once it is whole, so that no
// partial file is ever seen under a result's name nor left in the folder.
// The name is taken without replacing anything (a link that fails when the
// name exists), so two batches writing into one folder never replace each
// other's results. Each result records the source it was made from, which
// tells a result of this source from another source's of the same name.
#include <QByteArray>

#include <functional>

// The extended attribute that holds a result's source path.
inline constexpr char kResultSourceAttribute[] = "user.brenvale.source";

// A temporary name in an output folder: this prefix and six characters.
inline constexpr char kResultPartPrefix[] = ".brenvale-part-";

// The source that the entry name in the folder open at folder was made
// from, as its attribute records; "" when it records none (another
// program's file, a file system without extended attributes) or is not the
// user's regular file.
QByteArray ResultSourceOf(int folder, const QByteArray& name);

enum class SaveStatus {
    Saved,
    NoSpace,         // the output disk is full (or the user's quota used up)
    ForeignEntry,    // another user's file or link, or a folder, stands at the name
    Failed,          // any other failure; problem says what
};

struct SaveOutcome {
    SaveStatus status = SaveStatus::Failed;
    QByteArray name;     // the name the result was saved under
    QByteArray problem;  // what went wrong, for the failures
};

// Copies the whole file open at result (read from its start) into the
// folder open at folder (an O_PATH descriptor will do) as name, recording
// source. Where name is taken:
// - by this source's own earlier result, or by a file of the user's that
//   records no source: it is replaced, atomically;
// - by another source's result: the result takes the next free name
//   "STEM (2).EXT", "STEM (3).EXT" ..., never one for which reserved says
//   true (the names other sources of the run are to get);
// - by another user's file or link, or a folder: nothing is saved.
SaveOutcome SaveResultFile(int folder, const QByteArray& name, int result, const QByteArray& source,
                           const std::function<bool(const QByteArray& name)>& reserved);

// Removes the temporary names that saves killed half-way left in the
// folder: only the user's own, and only those whose writer has gone (a save
// holds a lock on its file for as long as the name stands).
void RemoveStaleParts(int folder);
