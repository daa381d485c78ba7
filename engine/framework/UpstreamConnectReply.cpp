#include "engine/framework/UpstreamConnectReply.h"

#include "engine/framework/OutboundFormat.h"

#include <cctype>
#include <string_view>

using namespace OutboundFormat;

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

bool CUpstreamConnectReply::IsGrantingStatusLine(std::string_view line) {
    constexpr std::string_view prefix = kConnectStatusPrefix;
    constexpr std::string_view status = kConnectStatusGranted;
    const std::size_t statusAt = prefix.size() + 1;  // after the minor version digit
    const std::size_t end = statusAt + status.size();
    if (line.size() < end)
        return false;
    if (!EqualsIgnoringCase(line.substr(0, prefix.size()), prefix))
        return false;
    if (!std::isdigit(static_cast<unsigned char>(line[prefix.size()])))
        return false;
    if (line.substr(statusAt, status.size()) != status)
        return false;
    return line.size() == end || line[end] == ' ' || line[end] == '\r' || line[end] == '\n';
}

bool CUpstreamConnectReply::IsEmptyLine(std::string_view line) {
    return line == "\r\n" || line == "\n";
}

std::size_t CUpstreamConnectReply::RemainingBytes() const {
    if (m_state != State::NeedLine)
        return 0;
    return kMaxConnectReplyHead - m_headBytes;
}

CUpstreamConnectReply::State CUpstreamConnectReply::AddLine(std::string_view line) {
    if (m_state != State::NeedLine)
        return m_state;
    if (line.size() > RemainingBytes() || line.empty() || line.back() != '\n')
        return m_state = State::Refused;
    m_headBytes += line.size();
    if (!m_statusSeen) {
        m_statusSeen = true;
        if (!IsGrantingStatusLine(line))
            m_state = State::Refused;
    } else if (IsEmptyLine(line)) {
        m_state = State::Granted;
    }
    return m_state;
}
