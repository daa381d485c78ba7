#pragma once
// The outgoing queue of a remote-control session: protocol messages waiting to be sent by the
// session's thread, in the order they were queued. Any thread may add; the session's thread
// takes them one at a time. The queue owns what it holds.
//
// Lock: one mutex of the queue's own, held only inside these operations (a leaf: the engine's
// console-list mutex may be held around Push, never the reverse).

#include "remote/NVRCPMessage.h"
#include "remote/RCPFormat.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>

class CRCPMessageQueue {
public:
    explicit CRCPMessageQueue(std::size_t limit = RCPFormat::kMaxQueuedMessages)
        : m_limit(limit) {}
    CRCPMessageQueue(const CRCPMessageQueue&) = delete;
    CRCPMessageQueue& operator=(const CRCPMessageQueue&) = delete;

    // Appends the message; false (the message dropped) when `limit` messages already wait.
    bool Push(std::unique_ptr<CNVRCPMessage> message);
    // The oldest message, or null when none waits.
    std::unique_ptr<CNVRCPMessage> Pop();
    bool IsEmpty() const;
    std::size_t GetCount() const;
    // Deletes every waiting message.
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::deque<std::unique_ptr<CNVRCPMessage>> m_messages;
    std::size_t m_limit;
};
