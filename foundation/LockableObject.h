#pragma once
// The base of the configuration objects shared between threads (users, groups, locations,
// filter components, client machines). It carries a reader/writer lock; the classes derived
// from it guard their data with mutexes of their own, and nothing in the system takes this
// lock, but it is provided and works.
//
// Lock(mode, timeoutMs): mode 0 shares the lock with other readers, mode 1 takes it
// exclusively (and again, nested, by the thread that holds it exclusively; that thread cannot
// also take it shared). Returns 0 when
// the lock is held, WAIT_TIMEOUT (258) when the time-out passed first, and -1 for any other
// mode (nothing changes). A writer that announces itself (its wait for the readers to leave
// succeeded) keeps new readers out until it has the lock or gives up, so writers are not
// starved. A writer whose second wait times out withdraws its announcement, so the lock stays
// usable. Unlock(mode) returns FALSE for an unlock that has no matching lock (nothing changes).
// The counters and both waits sit under one internal mutex, so they are consistent between
// threads.
//
// Archive form: none of its own (the root's, which writes nothing). Copies get a fresh,
// unlocked lock.

#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <condition_variable>
#include <mutex>
#include <thread>

class CLockableObject : public CObject {
    DECLARE_SERIAL(CLockableObject)
public:
    static constexpr int kShared = 0;
    static constexpr int kExclusive = 1;

    CLockableObject() = default;
    CLockableObject(const CLockableObject& other) : CObject(other) {}
    CLockableObject& operator=(const CLockableObject& other) {
        CObject::operator=(other);
        return *this;
    }

    int Lock(int mode, DWORD timeoutMs = INFINITE);
    BOOL Unlock(int mode);

    // The state of the lock, for diagnostics and tests.
    int GetReaderCount() const;
    int GetWaitingWriterCount() const;
    // True while no writer holds or has announced itself (readers may enter).
    bool IsNoWriterSet() const;

private:
    template <class Ready>
    bool WaitUntil(std::unique_lock<std::mutex>& lock, DWORD timeoutMs, Ready ready);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_readers = 0;
    int m_waitingWriters = 0;
    bool m_noWriter = true;       // the no-writer event
    std::thread::id m_writer;     // the holder of the exclusive lock...
    unsigned m_writerDepth = 0;   // ...and how often it took it
};
