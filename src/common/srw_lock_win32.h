// A lock for state that several threads touch for moments only, and its holder for one scope.
#pragma once

#include <windows.h>

class SrwLock {
public:
    SrwLock() = default;
    SrwLock(const SrwLock&) = delete;
    SrwLock& operator=(const SrwLock&) = delete;
    // An SRW lock needs no tearing down: one that is never released is only memory.
    void Lock() { AcquireSRWLockExclusive(&lock_); }
    void Unlock() { ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

class LockHeld {
public:
    explicit LockHeld(SrwLock& lock) : lock_(lock) { lock_.Lock(); }
    ~LockHeld() { lock_.Unlock(); }
    LockHeld(const LockHeld&) = delete;
    LockHeld& operator=(const LockHeld&) = delete;

private:
    SrwLock& lock_;
};
