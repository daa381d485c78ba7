#include "platform/kernel/Sync.h"

#include <chrono>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The lock word's sleeping and waking, straight on the kernel's futex. std::atomic::wait
// spins first, yielding the processor again and again: under contention that costs more than
// the sleep it tries to avoid.
static_assert(sizeof(std::atomic<int>) == sizeof(int) && std::atomic<int>::is_always_lock_free);

int* FutexWord(std::atomic<int>& word) { return reinterpret_cast<int*>(&word); }

// Sleeps while `word` holds `value` (returns at once when it no longer does, or on a signal).
void FutexWait(std::atomic<int>& word, int value) {
    syscall(SYS_futex, FutexWord(word), FUTEX_WAIT_PRIVATE, value, nullptr, nullptr, 0);
}

void FutexWakeOne(std::atomic<int>& word) {
    syscall(SYS_futex, FutexWord(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

// Waits on `cv` until `ready()` or the time-out; returns whether `ready()` held.
template <typename Pred>
bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, DWORD timeoutMs,
             Pred ready) {
    if (timeoutMs == INFINITE) {
        cv.wait(lock, ready);
        return true;
    }
    return cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
}

}  // namespace

CEvent::CEvent(bool manualReset, bool initiallySignalled)
    : m_manualReset(manualReset), m_signalled(initiallySignalled) {}

void CEvent::Set() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = true;
    if (m_manualReset)
        m_cv.notify_all();
    else
        m_cv.notify_one();
}

void CEvent::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = false;
}

DWORD CEvent::Wait(DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!WaitFor(m_cv, lock, timeoutMs, [this] { return m_signalled; }))
        return WAIT_TIMEOUT;
    if (!m_manualReset)
        m_signalled = false;
    return WAIT_OBJECT_0;
}

bool CEvent::IsSignalled() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_signalled;
}

bool CMutex::TryAcquire() {
    int expected = 0;
    return m_state.compare_exchange_strong(expected, 1, std::memory_order_acquire);
}

void CMutex::Acquire() {
    int state = 0;
    if (m_state.compare_exchange_strong(state, 1, std::memory_order_acquire))
        return;
    // Contended: mark the word as having a waiter, and sleep until it is let go.
    if (state != 2)
        state = m_state.exchange(2, std::memory_order_acquire);
    while (state != 0) {
        FutexWait(m_state, 2);
        state = m_state.exchange(2, std::memory_order_acquire);
    }
}

void CMutex::Release() {
    if (m_state.exchange(0, std::memory_order_release) == 2)
        FutexWakeOne(m_state);
}

DWORD CMutex::Lock(DWORD timeoutMs) {
    const auto self = std::this_thread::get_id();
    if (m_owner.load(std::memory_order_relaxed) == self) {
        ++m_depth;
        return WAIT_OBJECT_0;
    }
    if (timeoutMs == INFINITE) {
        Acquire();
    } else if (!TryAcquire()) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (std::chrono::steady_clock::now() >= deadline)
                return WAIT_TIMEOUT;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (TryAcquire())
                break;
        }
    }
    m_owner.store(self, std::memory_order_relaxed);
    m_depth = 1;
    return WAIT_OBJECT_0;
}

bool CMutex::Unlock() {
    if (m_owner.load(std::memory_order_relaxed) != std::this_thread::get_id())
        return false;
    if (--m_depth == 0) {
        m_owner.store(std::thread::id(), std::memory_order_relaxed);
        Release();
    }
    return true;
}

bool CMutex::IsHeldByCurrentThread() const {
    return m_owner.load(std::memory_order_relaxed) == std::this_thread::get_id();
}
