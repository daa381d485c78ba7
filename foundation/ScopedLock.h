#pragma once
// Holds anything with Lock() and Unlock() (the lockable containers, the machine map, and the
// configuration objects with mutexes of their own) for a scope, also when an exception passes.

template <class Lockable>
class CScopedLock {
public:
    explicit CScopedLock(Lockable& lockable) : m_lockable(lockable) { m_lockable.Lock(); }
    ~CScopedLock() { m_lockable.Unlock(); }
    CScopedLock(const CScopedLock&) = delete;
    CScopedLock& operator=(const CScopedLock&) = delete;

private:
    Lockable& m_lockable;
};
