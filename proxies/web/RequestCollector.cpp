#include "proxies/web/RequestCollector.h"

namespace {

constexpr std::string_view kHeadEnd = "\r\n\r\n";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kVersionMark = "HTTP/";

}  // namespace

CRequestCollector::EState CRequestCollector::Append(const void* bytes, std::size_t count) {
    if (count == 0 || m_state == tooLarge)
        return m_state;
    if (m_state == complete) {
        m_body.append(static_cast<const char*>(bytes), count);
        return m_state;
    }
    if (!m_buffer.Append(bytes, count)) {
        m_state = tooLarge;
        return m_state;
    }
    FindHeadEnd();
    return m_state;
}

void CRequestCollector::FindHeadEnd() {
    const std::string_view data(reinterpret_cast<const char*>(m_buffer.GetData()),
                                m_buffer.GetLength());
    // A terminator may straddle the previous end of the data: search again from a little
    // before it, so each byte is looked at a bounded number of times.
    const std::size_t from = m_scanned >= kHeadEnd.size() ? m_scanned - (kHeadEnd.size() - 1) : 0;
    m_scanned = data.size();

    if (m_lineEnd == 0) {
        const std::size_t lineEnd = data.find(kLineEnd, from);
        if (lineEnd != std::string_view::npos) {
            m_lineEnd = lineEnd + kLineEnd.size();
            m_versionless = data.substr(0, lineEnd).find(kVersionMark) == std::string_view::npos;
        }
    }
    std::size_t headLength = 0;
    if (m_lineEnd != 0 && m_versionless) {
        headLength = m_lineEnd;
    } else {
        const std::size_t headEnd = data.find(kHeadEnd, from);
        if (headEnd != std::string_view::npos)
            headLength = headEnd + kHeadEnd.size();
    }
    if (headLength == 0) {
        if (data.size() > kMaxHeadSize)
            m_state = tooLarge;
        return;
    }
    if (headLength > kMaxHeadSize) {
        m_state = tooLarge;
        return;
    }
    m_body.assign(data.substr(headLength));
    m_buffer.RemoveTail(data.size() - headLength);
    m_state = complete;
}

std::string_view CRequestCollector::GetHead() const {
    if (m_state != complete)
        return {};
    return std::string_view(reinterpret_cast<const char*>(m_buffer.GetData()),
                            m_buffer.GetLength());
}

std::string CRequestCollector::TakeBody() {
    std::string body;
    body.swap(m_body);
    return body;
}
