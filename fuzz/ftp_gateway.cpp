// Feeds arbitrary bytes to the FTP gateway's readers, in pieces, as a hostile client and a
// hostile server would send them: the line splitter of the client's commands and the USER and
// PORT parsers on each line, and the reply splitter of the server's replies and the passive-
// reply parser on each 227. Besides crashes it checks that lines stay within their cap, that
// a parsed user and host can go on a command line as they are, and that every address and
// port parsed is one the gateway may send on (written back, it reads the same).

#include "engine/framework/OutboundTargetGuard.h"
#include "foundation/Format.h"
#include "proxies/common/LineReader.h"
#include "proxies/ftp/FTPClientCommand.h"
#include "proxies/ftp/FTPReply.h"
#include "proxies/ftp/FTPTexts.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

bool HasControlByte(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    }
    return false;
}

void CheckWrittenBack(const SFTPHostPort& parsed, const char* format,
                      std::optional<SFTPHostPort> (*parse)(std::string_view)) {
    Require(parsed.port != 0);
    const DWORD a = parsed.address;
    const std::string line = FormatText(format, (a >> 24) & 0xFF, (a >> 16) & 0xFF,
                                        (a >> 8) & 0xFF, a & 0xFF, (parsed.port >> 8) & 0xFF,
                                        parsed.port & 0xFF);
    const std::optional<SFTPHostPort> again = parse(line);
    Require(again && again->address == parsed.address && again->port == parsed.port);
}

std::optional<SFTPHostPort> ParseWrittenPort(std::string_view line) {
    return ParsePortLine(line.substr(0, line.size() - 2));
}

void CheckClientLine(const CLineReader::SLine& line, const SFTPNonProxyTarget& nonProxy) {
    Require(line.text.size() <= kFTPMaxLineLength);
    Require(line.text.find('\n') == std::string::npos);
    switch (ClassifyCommand(line.text)) {
    case EFTPClientCommand::user:
        if (const std::optional<SFTPUserTarget> target = ParseUserLine(line.text, nonProxy)) {
            Require(!target->user.empty() && !HasControlByte(target->user));
            Require(COutboundTargetGuard::IsAcceptableHostName(target->host));
            Require(target->port >= 1 && target->port <= 65535);
            Require(target->nonProxy ||
                    target->host.find_first_of("@:") == std::string::npos);
        }
        break;
    case EFTPClientCommand::port:
        if (const std::optional<SFTPHostPort> parsed = ParsePortLine(line.text))
            CheckWrittenBack(*parsed, kFTPPortLineFormat, ParseWrittenPort);
        break;
    default: break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::size_t piece = 1 + data[0] % 255;
    const SFTPNonProxyTarget nonProxy{data[0] & 1u, "nonproxy.example", 2121};
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

    CLineReader clientLines(kFTPMaxLineLength);
    CFTPReplyReader serverReplies;
    for (std::size_t at = 0; at < input.size(); at += piece) {
        const std::string_view bytes = input.substr(at, piece);
        for (const CLineReader::SLine& line : clientLines.Append(bytes))
            CheckClientLine(line, nonProxy);
        Require(clientLines.GetPending() <= kFTPMaxLineLength);
        for (const SFTPReplyLine& line : serverReplies.AppendLines(bytes)) {
            Require(line.text.size() <= CFTPReplyReader::kMaxLineLength);
            Require(line.code == 0 || (line.code >= 100 && line.code <= 599));
            if (line.code == 227 && line.last) {
                if (const std::optional<SFTPHostPort> parsed = ParsePassiveReply(line.text))
                    CheckWrittenBack(*parsed, kFTPPassiveReplyFormat, ParsePassiveReply);
            }
        }
    }
    if (const std::optional<CLineReader::SLine> last = clientLines.Flush())
        CheckClientLine(*last, nonProxy);
    if (const std::optional<SFTPReplyLine> last = serverReplies.Flush())
        Require(last->last && last->text.size() <= CFTPReplyReader::kMaxLineLength);
    return 0;
}
