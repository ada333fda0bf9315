#pragma once
// The work folder: where the tools run and the working files live. It is
// chosen (a folder of the user's own that no one else may write or swap),
// locked by a window's run for its fixed-name working files, and holds a
// private folder for each job of a batch, locked while the job works there.
#include "common/uniquefd.h"

#include <QString>

#include <memory>
#include <string>

class QLockFile;

// The work folder: a folder that the current user owns, that neither group
// nor others may write, and that no other user can rename away or replace
// (every folder on the way to it belongs to the user or to root and is
// closed to others' writes or sticky). Links are resolved: the path returned
// is the folder's real path. Chosen afresh at every call, the first that
// serves of:
// - $TEMP, when it is set, absolute and such a folder itself;
// - otherwise (TEMP shared, like /tmp, or not the user's) "brenvale-UID"
//   inside $TEMP, made with mode 0700; one that exists and is not the user's
//   own is not used;
// - $XDG_CACHE_HOME/brenvale/work (default ~/.cache/brenvale/work), made with
//   mode 0700.
// A folder of the program's own making that the user owns but others may
// write (brenvale-UID, the cache folder) is closed to mode 0700 first; $TEMP
// itself is never changed. Returns "" when no folder serves.
QString WorkFolder();

// The folder that messages about the work folder name: the work folder, or
// when there is none the last one tried.
QString WorkFolderForMessages();

// The work folder, "/" and name, joined as plain strings; "" when there is no
// work folder.
QString WorkPath(const QString& name);

// The lock file's name in the work folder.
inline constexpr const char kWorkLockName[] = "brenvale.lock";

class WorkFolderLock {
public:
    enum Outcome {
        Acquired,       // this run holds the lock
        HeldElsewhere,  // another live program holds it
        Unavailable,    // the lock file cannot be made (no work folder, or one that cannot be written)
    };

    WorkFolderLock();
    ~WorkFolderLock();
    WorkFolderLock(const WorkFolderLock&) = delete;
    WorkFolderLock& operator=(const WorkFolderLock&) = delete;

    // Takes the lock in the work folder (the run's) without waiting. A lock
    // left by a program that has died is taken over; a live holder's lock is
    // never taken, however long it has been held.
    Outcome acquire(const QString& workFolder);

    // Gives the lock up (removes the lock file); nothing when not held.
    void release();

    bool held() const;

private:
    std::unique_ptr<QLockFile> lock_;
};

// A batch job's private folder under the work folder, made (mode 0700) and
// locked (flock on the folder) for as long as the object lives, then
// removed with what is in it. A batch starting meanwhile never takes a
// locked folder for a stale one.
class JobFolder {
public:
    // Makes one under workFolder; path() is "" when none could be made.
    explicit JobFolder(const QString& workFolder);
    ~JobFolder();
    JobFolder(const JobFolder&) = delete;
    JobFolder& operator=(const JobFolder&) = delete;

    const QString& path() const { return path_; }

private:
    QString path_;
    UniqueFd lock_;
};

// Removes the job folders that batches killed outright (SIGKILL, a crash, a
// power cut) left under workFolder: every one whose lock can be taken, never
// one that a running batch works in.
void RemoveStaleJobFolders(const QString& workFolder);

// A folder of the user's own, closed to everyone else: made (mode 0700)
// when missing. True when folder is such a folder.
bool MakePrivateFolder(const QString& folder);
