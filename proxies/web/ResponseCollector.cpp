#include "proxies/web/ResponseCollector.h"

#include <algorithm>

namespace {

constexpr std::string_view kEndAfterLF = "\n\n";
constexpr std::string_view kEndAfterCRLF = "\n\r\n";
// The longest terminator less one: how far back a new search starts.
constexpr std::size_t kOverlap = kEndAfterCRLF.size() - 1;
constexpr std::string_view kBareNotModified = "HTTP/1.0 304";

// End (one past the terminator) of the earliest empty line at or after `from`, or 0.
std::size_t EarliestHeadEnd(std::string_view data, std::size_t from) {
    std::size_t end = 0;
    for (std::string_view terminator : {kEndAfterLF, kEndAfterCRLF}) {
        const std::size_t at = data.find(terminator, from);
        if (at != std::string_view::npos) {
            const std::size_t candidate = at + terminator.size();
            end = end == 0 ? candidate : std::min(end, candidate);
        }
    }
    return end;
}

}  // namespace

CResponseCollector::EState CResponseCollector::Append(const void* bytes, std::size_t count) {
    if (count == 0 || m_state == tooLarge)
        return m_state;
    if (m_state == complete) {
        m_body.append(static_cast<const char*>(bytes), count);
        return m_state;
    }
    m_data.append(static_cast<const char*>(bytes), count);
    FindHeadEnd();
    return m_state;
}

void CResponseCollector::FindHeadEnd() {
    const std::size_t from = m_scanned > kOverlap ? m_scanned - kOverlap : 0;
    m_scanned = m_data.size();
    std::size_t headLength = EarliestHeadEnd(m_data, from);
    if (headLength == 0 && m_data.size() <= kMaxHeadSize &&
        m_data.compare(0, kBareNotModified.size(), kBareNotModified) == 0)
        headLength = m_data.size();
    if (headLength == 0 ? m_data.size() > kMaxHeadSize : headLength > kMaxHeadSize) {
        m_state = tooLarge;
        m_data.clear();
        m_data.shrink_to_fit();
        return;
    }
    if (headLength == 0)
        return;
    m_body.assign(m_data, headLength);
    m_data.resize(headLength);
    m_state = complete;
}

std::string_view CResponseCollector::GetHead() const {
    return m_state == complete ? std::string_view(m_data) : std::string_view();
}

std::string CResponseCollector::TakeBody() {
    std::string body;
    body.swap(m_body);
    return body;
}

std::string CResponseCollector::TakeReceived() {
    std::string received;
    if (m_state == incomplete) {
        received.swap(m_data);
        m_scanned = 0;
    }
    return received;
}

void CResponseCollector::Reset() {
    m_data.clear();
    m_body.clear();
    m_scanned = 0;
    m_state = incomplete;
}
