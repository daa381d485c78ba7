// Feeds arbitrary reply lines to the passive-mode and SIZE reply readers of the web proxy's
// FTP client. Besides crashes it checks that a port taken is never 0, that a reply that opens
// a parenthesis closes it, and that a size is only ever read from digits.

#include "WebHeadChecks.h"
#include "proxies/ftp/FTPReply.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    if (const auto port = ParsePassivePort(line)) {
        Require(*port != 0);
        Require(line.find('(') == std::string_view::npos || line.find(')') != std::string_view::npos);
    }
    if (const auto length = ParseSizeReply(line)) {
        // The number is the text after the code, less trailing blanks and leading zeros.
        Require(size > 4);
        std::string_view digits = line.substr(4);
        while (!digits.empty() && (digits.back() == ' ' || (digits.back() >= '\t' && digits.back() <= '\r')))
            digits.remove_suffix(1);
        while (digits.size() > 1 && digits.front() == '0')
            digits.remove_prefix(1);
        Require(digits == std::to_string(*length));
    }
    const DWORD code = FTPReplyCode(line);
    Require(code == 0 || (code >= 100 && code <= 599));
    return 0;
}
