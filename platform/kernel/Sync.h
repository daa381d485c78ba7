#pragma once
// Events and re-entrant mutexes with millisecond time-outs. Every wait returns WAIT_OBJECT_0
// (signalled or acquired), WAIT_TIMEOUT (258) or WAIT_FAILED; INFINITE waits forever.

#include "platform/kernel/Types.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// A manual-reset event stays signalled until Reset(); an auto-reset event releases exactly one
// waiter per Set() and is unsignalled again when that waiter returns.
class CEvent {
public:
    explicit CEvent(bool manualReset = false, bool initiallySignalled = false);
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set();
    void Reset();
    DWORD Wait(DWORD timeoutMs = INFINITE);
    bool IsSignalled() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    const bool m_manualReset;
    bool m_signalled;
};

// A recursive mutex: the owning thread may lock it again, and must unlock it as often.
// Unlock by a thread that does not own it fails (returns false) and changes nothing.
// Locking and unlocking without contention cost one atomic operation each; a thread that
// must wait sleeps in the kernel on the lock word itself, and the owner wakes one waiter only
// when there is one.
class CMutex {
public:
    CMutex() = default;
    CMutex(const CMutex&) = delete;
    CMutex& operator=(const CMutex&) = delete;

    // A finite time-out other than 0 is waited in steps of a millisecond.
    DWORD Lock(DWORD timeoutMs = INFINITE);
    bool Unlock();
    // True when the calling thread holds the mutex (for assertions and lock-order checks).
    bool IsHeldByCurrentThread() const;

private:
    bool TryAcquire();
    void Acquire();
    void Release();

    // 0 free, 1 held, 2 held and a thread may be waiting.
    std::atomic<int> m_state{0};
    // Written only by the thread that holds the lock word; a thread reads its own id here only
    // while it owns the mutex.
    std::atomic<std::thread::id> m_owner{};
    unsigned m_depth = 0;  // the owner's
};

// Holds a CMutex for a scope, also when an exception passes.
class CMutexLock {
public:
    explicit CMutexLock(CMutex& mutex) : m_mutex(mutex) { m_mutex.Lock(); }
    ~CMutexLock() { m_mutex.Unlock(); }
    CMutexLock(const CMutexLock&) = delete;
    CMutexLock& operator=(const CMutexLock&) = delete;

private:
    CMutex& m_mutex;
};
