// Feeds arbitrary bytes to the web proxy's request handling as a browser would send them:
// collected in pieces, parsed under each non-proxy setting, and turned into the head that goes
// upstream. Besides crashes it checks that nothing a client sends can add a line to that head,
// reach the server in a header line it could split differently, or smuggle a line break into
// an FTP command.

#include "WebHeadChecks.h"
#include "proxies/web/ErrorPage.h"
#include "proxies/web/LocalFile.h"
#include "proxies/web/OutboundRequest.h"
#include "proxies/web/RequestCollector.h"
#include "proxies/web/WWWRequest.h"
#include "proxies/web/WWWVariables.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void CheckRequest(const CWWWRequest& request) {
    Require(request.ftpUser.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
    Require(request.ftpPassword.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
    Require(request.ftpPath.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
    Require(request.port <= 65535);
    // A header that reaches the server is split there as here: no control byte or blank in
    // its name, no CR or NUL in its value.
    for (const auto& [name, value] : request.headers.Entries()) {
        for (unsigned char c : name)
            Require(c > 0x20 && c != 0x7F);
        Require(value.find_first_of(std::string_view("\r\0", 2)) == std::string::npos);
    }
    for (bool throughProxy : {false, true}) {
        const std::string head = BuildOutboundHead(request, throughProxy);
        CheckHead(head);
        Require(head.find("\r\nConnection: close\r\n") != std::string::npos);
    }
    CBodyRelay relay(request);
    Require(relay.Take(100) <= 100);
    CNVDataObject value;
    for (DWORD index = 0; index < 26; ++index)
        GetWebRequestValue(request, index, value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    SNonProxySettings settings;
    settings.action = data[0] & 3;
    settings.prependResource = (data[0] >> 2) & 1;
    settings.port = (data[0] & 8) ? 8081 : 80;
    settings.host = "inner";
    settings.prependInfo = "pre";
    settings.redirectURL = "http://r/\r\nX: y";
    const std::size_t piece = 1 + data[1] % 97;
    const std::string_view input(reinterpret_cast<const char*>(data + 2), size - 2);

    CRequestCollector collector;
    for (std::size_t at = 0; at < input.size() && collector.GetState() != CRequestCollector::tooLarge;
         at += piece)
        collector.Append(input.data() + at, std::min(piece, input.size() - at));
    const std::string_view head =
        collector.GetState() == CRequestCollector::complete ? collector.GetHead() : input;
    const std::string body = collector.TakeBody();

    CWWWRequest request;
    switch (ParseRequest(head, body, settings, request)) {
    case EParseResult::proceed: CheckRequest(request); break;
    case EParseResult::redirect: CheckHead(request.answer); break;
    case EParseResult::internalResource:
    case EParseResult::serverRootFile: IsServablePath(request.localFile); break;
    default: break;
    }
    Require(HtmlEscape(input).find_first_of("<>\"'") == std::string::npos);
    return 0;
}
