#include "foundation/LockableObject.h"

#include <chrono>

IMPLEMENT_SERIAL(CLockableObject, CObject, 1)

template <class Ready>
bool CLockableObject::WaitUntil(std::unique_lock<std::mutex>& lock, DWORD timeoutMs,
                                Ready ready) {
    if (timeoutMs == INFINITE) {
        m_changed.wait(lock, ready);
        return true;
    }
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
}

int CLockableObject::Lock(int mode, DWORD timeoutMs) {
    if (mode != kShared && mode != kExclusive)
        return -1;
    const auto self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(m_mutex);
    if (mode == kShared) {
        if (!WaitUntil(lock, timeoutMs, [this] { return m_noWriter; }))
            return static_cast<int>(WAIT_TIMEOUT);
        ++m_readers;
        return static_cast<int>(WAIT_OBJECT_0);
    }
    // Exclusive: first wait for the readers to leave; a time-out here changes nothing.
    if (!WaitUntil(lock, timeoutMs, [this] { return m_readers == 0; }))
        return static_cast<int>(WAIT_TIMEOUT);
    m_noWriter = false;
    ++m_waitingWriters;
    const bool acquired = WaitUntil(lock, timeoutMs, [this, self] {
        return m_writerDepth == 0 || m_writer == self;
    });
    --m_waitingWriters;
    if (!acquired) {
        if (m_waitingWriters == 0 && m_writerDepth == 0) {
            m_noWriter = true;
            m_changed.notify_all();
        }
        return static_cast<int>(WAIT_TIMEOUT);
    }
    m_writer = self;
    ++m_writerDepth;
    return static_cast<int>(WAIT_OBJECT_0);
}

BOOL CLockableObject::Unlock(int mode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (mode == kShared) {
        if (m_readers == 0)
            return FALSE;
        if (--m_readers == 0)
            m_changed.notify_all();
        return TRUE;
    }
    if (mode != kExclusive || m_writerDepth == 0 || m_writer != std::this_thread::get_id())
        return FALSE;
    if (--m_writerDepth == 0) {
        m_writer = std::thread::id();
        // Readers come back only when no other writer waits for its turn.
        if (m_waitingWriters == 0)
            m_noWriter = true;
        m_changed.notify_all();
    }
    return TRUE;
}

int CLockableObject::GetReaderCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_readers;
}

int CLockableObject::GetWaitingWriterCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_waitingWriters;
}

bool CLockableObject::IsNoWriterSet() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_noWriter;
}
