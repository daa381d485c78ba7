// Feeds arbitrary bytes, in pieces, to the FTP gateway's readers as a hostile client and a
// hostile server would send them: the client's lines with the USER and PORT parsers on each,
// the server's replies with the passive-reply parser on each 227. Besides crashes it checks
// that lines stay within their cap, that a parsed user and host can go on a command line as
// they are, and that every address and port parsed reads the same once written back.

#include "engine/framework/OutboundTargetGuard.h"
#include "foundation/Format.h"
#include "proxies/common/LineReader.h"
#include "proxies/ftp/FTPClientCommand.h"
#include "proxies/ftp/FTPReply.h"
#include "proxies/ftp/FTPTexts.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

void CheckWrittenBack(const SFTPHostPort& parsed, const char* format, bool passive) {
    const DWORD a = parsed.address;
    std::string line = FormatText(format, (a >> 24) & 0xFF, (a >> 16) & 0xFF, (a >> 8) & 0xFF,
                                  a & 0xFF, (parsed.port >> 8) & 0xFF, parsed.port & 0xFF);
    line.resize(line.size() - 2);  // the line end
    const auto again = passive ? ParsePassiveReply(line) : ParsePortLine(line);
    Require(parsed.port != 0 && again && again->address == a && again->port == parsed.port);
}

void CheckClientLine(const CLineReader::SLine& line, const SFTPNonProxyTarget& nonProxy) {
    Require(line.text.size() <= kFTPMaxLineLength);
    const EFTPClientCommand command = ClassifyCommand(line.text);
    if (command == EFTPClientCommand::user) {
        if (const auto target = ParseUserLine(line.text, nonProxy)) {
            for (char c : target->user)
                Require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
            Require(!target->user.empty() && target->port >= 1 && target->port <= 65535);
            Require(COutboundTargetGuard::IsAcceptableHostName(target->host));
            Require(target->nonProxy || target->host.find_first_of("@:") == std::string::npos);
        }
    } else if (command == EFTPClientCommand::port) {
        if (const auto parsed = ParsePortLine(line.text))
            CheckWrittenBack(*parsed, kFTPPortLineFormat, false);
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
        for (const SFTPReplyLine& line : serverReplies.AppendLines(bytes)) {
            Require(line.text.size() <= CFTPReplyReader::kMaxLineLength);
            Require(line.code == 0 || (line.code >= 100 && line.code <= 599));
            if (const auto parsed = line.code == 227 ? ParsePassiveReply(line.text) : std::nullopt)
                CheckWrittenBack(*parsed, kFTPPassiveReplyFormat, true);
        }
    }
    if (const auto last = clientLines.Flush())
        CheckClientLine(*last, nonProxy);
    if (const auto last = serverReplies.Flush())
        Require(last->last && last->text.size() <= CFTPReplyReader::kMaxLineLength);
    return 0;
}
