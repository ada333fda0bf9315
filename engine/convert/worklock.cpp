#include "convert/worklock.h"

#include <QLockFile>

WorkFolderLock::WorkFolderLock() = default;

WorkFolderLock::~WorkFolderLock() {
    release();
}

WorkFolderLock::Outcome WorkFolderLock::acquire(const QString& workFolder) {
    release();
    // The lock lives in the work folder, which only this user can write, so
    // no other user can plant a lock that holds every run off.
    if (workFolder.isEmpty())
        return Unavailable;
    const QString path = workFolder + QLatin1Char('/') + QLatin1String(kWorkLockName);
    lock_ = std::make_unique<QLockFile>(path);
    // A run lasts as long as its files take; only a holder that is no longer
    // running makes a lock stale, never the lock's age.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0))
        return Acquired;
    const QLockFile::LockError error = lock_->error();
    lock_.reset();
    return error == QLockFile::LockFailedError ? HeldElsewhere : Unavailable;
}

void WorkFolderLock::release() {
    if (lock_) {
        lock_->unlock();
        lock_.reset();
    }
}

bool WorkFolderLock::held() const {
    return lock_ && lock_->isLocked();
}
