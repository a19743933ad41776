// CCritSec: a recursive lock (a thread may take it again); CAutoLock
// holds one for a scope. Safe from any thread.
#pragma once

#include <mutex>

class CCritSec {
public:
    CCritSec() = default;
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;

    void Lock() { m_.lock(); }
    void Unlock() { m_.unlock(); }
    bool TryLock() { return m_.try_lock(); }
    // BasicLockable, so std::unique_lock / condition_variable_any work with it.
    void lock() { m_.lock(); }
    void unlock() { m_.unlock(); }

private:
    std::recursive_mutex m_;
};

class CAutoLock {
public:
    explicit CAutoLock(CCritSec* lock) : lock_(lock) { lock_->Lock(); }
    ~CAutoLock() { lock_->Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CCritSec* lock_;
};
