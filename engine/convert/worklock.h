#pragma once
// The lock that keeps two programs from sharing the work folder's fixed-name
// working files: a conversion run holds it from staging the tools to
// removing them.
#include <QString>

#include <memory>

class QLockFile;

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
