#pragma once
// The worker threads the process must let finish before it ends: session threads, UDP service
// threads, dialer worker threads. Each enters itself once it runs (from its InitInstance, on
// its own thread, so that an auto-delete object is certainly alive at that moment); the
// roster keeps only the thread's id and its shared "ended" event, never the object, so a thread
// object may delete itself at any time. Ended threads are pruned as new ones enter, whenever
// the roster has doubled since the last pruning, so it stays within twice the number of live
// threads (and a few dozen).

#include "platform/kernel/Sync.h"
#include "platform/kernel/Thread.h"
#include "platform/kernel/Types.h"

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>

class CThreadRoster {
public:
    CThreadRoster() = default;
    CThreadRoster(const CThreadRoster&) = delete;
    CThreadRoster& operator=(const CThreadRoster&) = delete;

    // Enters a thread that has started (call on that thread, or while it certainly runs).
    void Enter(const CThread& thread);

    // Waits until every entered thread except the calling one has ended, at most `timeoutMs`
    // in all. Returns how many are still running (0: all ended).
    std::size_t WaitForAll(DWORD timeoutMs) const;

    // Threads entered that have not ended.
    std::size_t CountRunning() const;

private:
    static constexpr std::size_t kMinPruneSize = 64;

    mutable std::mutex m_mutex;
    std::map<DWORD, std::shared_ptr<CEvent>> m_threads;
    std::size_t m_pruneAt = kMinPruneSize;  // the size at which Enter prunes next
};
