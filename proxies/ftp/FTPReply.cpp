#include "proxies/ftp/FTPReply.h"

namespace {

constexpr std::size_t kCodeLength = 3;
constexpr std::size_t kTextStart = 4;  // the fifth character
constexpr std::size_t kHostPortNumbers = 6;
constexpr unsigned kMaxHostPortNumber = 255;
constexpr std::size_t kMaxNumberDigits = 4;
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

std::vector<SFTPReplyLine> CFTPReplyReader::AppendLines(std::string_view bytes) {
    std::vector<SFTPReplyLine> lines;
    for (const CLineReader::SLine& line : m_lines.Append(bytes)) {
        if (std::optional<SFTPReplyLine> taken = TakeLine(line.text))
            lines.push_back(std::move(*taken));
    }
    return lines;
}

std::optional<SFTPReplyLine> CFTPReplyReader::Flush() {
    const std::optional<CLineReader::SLine> line = m_lines.Flush();
    if (!line)
        return std::nullopt;
    std::optional<SFTPReplyLine> taken = TakeLine(line->text);
    m_pending = 0;
    if (taken)
        taken->last = true;
    return taken;
}

std::optional<SFTPReplyLine> CFTPReplyReader::TakeLine(std::string_view line) {
    SFTPReply reply;
    const bool last = AddLine(line, reply);
    if (!last && m_pending == 0)
        return std::nullopt;
    SFTPReplyLine taken;
    taken.text.assign(line.substr(0, kMaxLineLength));
    taken.code = last ? reply.code : m_pending;
    taken.last = last;
    return taken;
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

std::optional<SFTPHostPort> ParseHostPort(std::string_view text, std::size_t* end) {
    std::size_t at = 0;
    unsigned numbers[kHostPortNumbers] = {};
    for (std::size_t i = 0; i < kHostPortNumbers; ++i) {
        if (i > 0) {
            if (at >= text.size() || text[at] != ',')
                return std::nullopt;
            ++at;
        }
        while (at < text.size() && IsSpace(text[at]))
            ++at;
        const std::size_t start = at;
        while (at < text.size() && IsDigit(text[at]) && at - start < kMaxNumberDigits) {
            numbers[i] = numbers[i] * 10 + static_cast<unsigned>(text[at] - '0');
            ++at;
        }
        if (at == start || numbers[i] > kMaxHostPortNumber)
            return std::nullopt;
    }
    const unsigned port = numbers[4] * 256 + numbers[5];
    if (port == 0)
        return std::nullopt;
    if (end)
        *end = at;
    return SFTPHostPort{(numbers[0] << 24) | (numbers[1] << 16) | (numbers[2] << 8) | numbers[3],
                        static_cast<WORD>(port)};
}

std::optional<SFTPHostPort> ParsePassiveReply(std::string_view line) {
    const std::size_t open = line.find('(');
    if (open == 0)
        return std::nullopt;
    std::size_t start = open + 1;
    if (open == std::string_view::npos) {
        // RFC 1123: the numbers begin at the first digit of the reply's text.
        if (line.size() <= kTextStart)
            return std::nullopt;
        start = line.find_first_of("0123456789", kTextStart);
        if (start == std::string_view::npos)
            return std::nullopt;
    }
    std::size_t end = 0;
    const std::optional<SFTPHostPort> parsed = ParseHostPort(line.substr(start), &end);
    if (!parsed)
        return std::nullopt;
    if (open != std::string_view::npos &&
        (start + end >= line.size() || line[start + end] != ')'))
        return std::nullopt;
    return parsed;
}

std::optional<WORD> ParsePassivePort(std::string_view line) {
    const std::optional<SFTPHostPort> parsed = ParsePassiveReply(line);
    if (!parsed)
        return std::nullopt;
    return parsed->port;
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
