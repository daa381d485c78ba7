#include "remote/RCPMessageQueue.h"

bool CRCPMessageQueue::Push(std::unique_ptr<CNVRCPMessage> message) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_messages.size() >= m_limit)
        return false;
    m_messages.push_back(std::move(message));
    return true;
}

std::unique_ptr<CNVRCPMessage> CRCPMessageQueue::Pop() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_messages.empty())
        return nullptr;
    std::unique_ptr<CNVRCPMessage> message = std::move(m_messages.front());
    m_messages.pop_front();
    return message;
}

bool CRCPMessageQueue::IsEmpty() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages.empty();
}

std::size_t CRCPMessageQueue::GetCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages.size();
}

void CRCPMessageQueue::Clear() {
    std::deque<std::unique_ptr<CNVRCPMessage>> gone;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        gone.swap(m_messages);
    }
}
