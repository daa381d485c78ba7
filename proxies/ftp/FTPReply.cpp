#include "proxies/ftp/FTPReply.h"

namespace {

constexpr std::size_t kCodeLength = 3;
constexpr std::size_t kTextStart = 4;  // the fifth character
constexpr std::size_t kPassiveNumbers = 6;
constexpr unsigned kMaxPassiveNumber = 255;
constexpr std::size_t kMaxSizeDigits = 18;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string_view TrimTrailingSpace(std::string_view text) {
    while (!text.empty() && IsSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

}  // namespace

DWORD FTPReplyCode(std::string_view line) {
    if (line.size() < kCodeLength || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2]))
        return 0;
    const DWORD code = static_cast<DWORD>((line[0] - '0') * 100 + (line[1] - '0') * 10 +
                                          (line[2] - '0'));
    return code >= 100 && code <= 599 ? code : 0;
}

std::vector<SFTPReply> CFTPReplyReader::Append(std::string_view bytes) {
    std::vector<SFTPReply> replies;
    for (const CLineReader::SLine& line : m_lines.Append(bytes)) {
        SFTPReply reply;
        if (AddLine(line.text, reply))
            replies.push_back(std::move(reply));
    }
    return replies;
}

bool CFTPReplyReader::AddLine(std::string_view line, SFTPReply& reply) {
    if (line.size() > kMaxLineLength)
        line = line.substr(0, kMaxLineLength);
    const DWORD code = FTPReplyCode(line);
    const bool opensOrContinues = code != 0 && line.size() > kCodeLength && line[kCodeLength] == '-';
    if (m_pending == 0) {
        if (opensOrContinues) {
            m_collected.clear();
            m_pending = code;
            Collect(line.substr(kTextStart));
            return false;
        }
        if (TrimTrailingSpace(line).empty())
            return false;
    } else {
        // Inside a multi-line reply only a line with its code and a space (or nothing) ends
        // it; lines with another code are text.
        if (code != m_pending || opensOrContinues) {
            Collect(code == m_pending ? line.substr(kTextStart) : line);
            return false;
        }
        m_pending = 0;
    }
    reply.code = code;
    reply.line.assign(line);
    reply.collected = m_collected;
    return true;
}

void CFTPReplyReader::Collect(std::string_view text) {
    if (m_collected.size() + text.size() + 2 > kMaxCollected)
        return;
    m_collected.append(text);
    m_collected.append("\r\n");
}

std::optional<WORD> ParsePassivePort(std::string_view line) {
    const std::size_t open = line.find('(');
    if (open == std::string_view::npos || open == 0)
        return std::nullopt;
    std::size_t at = open + 1;
    unsigned numbers[kPassiveNumbers] = {};
    for (std::size_t i = 0; i < kPassiveNumbers; ++i) {
        if (i > 0) {
            if (at >= line.size() || line[at] != ',')
                return std::nullopt;
            ++at;
        }
        while (at < line.size() && IsSpace(line[at]))
            ++at;
        const std::size_t start = at;
        while (at < line.size() && IsDigit(line[at]) && at - start < 4) {
            numbers[i] = numbers[i] * 10 + static_cast<unsigned>(line[at] - '0');
            ++at;
        }
        if (at == start || numbers[i] > kMaxPassiveNumber)
            return std::nullopt;
    }
    if (at >= line.size() || line[at] != ')')
        return std::nullopt;
    const unsigned port = numbers[4] * 256 + numbers[5];
    if (port == 0)
        return std::nullopt;
    return static_cast<WORD>(port);
}

std::optional<std::uint64_t> ParseSizeReply(std::string_view line) {
    if (line.size() <= kTextStart)
        return std::nullopt;
    const std::string_view text = TrimTrailingSpace(line.substr(kTextStart));
    if (text.empty() || text.size() > kMaxSizeDigits)
        return std::nullopt;
    std::uint64_t size = 0;
    for (char c : text) {
        if (!IsDigit(c))
            return std::nullopt;
        size = size * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return size;
}
