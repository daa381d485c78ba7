#include "proxies/common/LineReader.h"

std::vector<CLineReader::SLine> CLineReader::Append(std::string_view bytes) {
    std::vector<SLine> lines;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        std::string_view part = bytes.substr(0, end);
        // A CR held back from the previous piece belongs to the line unless an LF follows.
        if (m_heldCR && end != 0)
            Keep("\r");
        m_heldCR = false;
        if (!part.empty() && part.back() == '\r') {
            part.remove_suffix(1);
            m_heldCR = end == std::string_view::npos;
        }
        Keep(part);
        if (end == std::string_view::npos)
            break;
        lines.push_back(Finish());
        bytes.remove_prefix(end + 1);
    }
    return lines;
}

std::optional<CLineReader::SLine> CLineReader::Flush() {
    m_heldCR = false;
    if (m_line.empty() && !m_overLong)
        return std::nullopt;
    return Finish();
}

void CLineReader::Keep(std::string_view part) {
    const std::size_t room = m_maxLine - m_line.size();
    if (part.size() > room)
        m_overLong = true;
    m_line.append(part.substr(0, room));
}

CLineReader::SLine CLineReader::Finish() {
    SLine result;
    result.text.swap(m_line);
    result.overLong = m_overLong;
    m_overLong = false;
    return result;
}
