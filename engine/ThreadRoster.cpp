#include "engine/ThreadRoster.h"

#include "platform/kernel/Clock.h"

#include <algorithm>
#include <vector>

void CThreadRoster::Enter(const CThread& thread) {
    std::lock_guard<std::mutex> lock(m_mutex);
    // Pruned once the roster has doubled since the last pruning, not at every entry: a walk
    // per entry would cost each new session a look at every live one.
    if (m_threads.size() >= m_pruneAt) {
        for (auto it = m_threads.begin(); it != m_threads.end();)
            it = it->second->IsSignalled() ? m_threads.erase(it) : std::next(it);
        m_pruneAt = std::max(kMinPruneSize, 2 * m_threads.size());
    }
    m_threads[thread.ThreadId()] = thread.EndedEvent();
}

std::size_t CThreadRoster::WaitForAll(DWORD timeoutMs) const {
    const DWORD self = GetCurrentThreadId();
    std::vector<std::shared_ptr<CEvent>> events;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& [id, ended] : m_threads)
            if (id != self)
                events.push_back(ended);
    }
    const std::uint64_t deadline = GetTickCount64() + timeoutMs;
    std::size_t running = 0;
    for (const auto& ended : events) {
        const std::uint64_t now = GetTickCount64();
        const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        if (ended->Wait(left) != WAIT_OBJECT_0)
            ++running;
    }
    return running;
}

std::size_t CThreadRoster::CountRunning() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::size_t running = 0;
    for (const auto& entry : m_threads)
        if (!entry.second->IsSignalled())
            ++running;
    return running;
}
