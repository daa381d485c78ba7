// Parses arbitrary bytes as the line a mail client sends the POP3 proxy before its log-on,
// under settings the first two bytes choose (delimiter, connect method, non-proxy action).
// Besides crashes it checks that a log-on to pass on always names a usable target, that its
// description is the proxy's own, and that the line for the server is one line.

#include "Require.h"
#include "proxies/pop3/POP3Logon.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    SPOP3LogonSettings settings;
    settings.delimiter = static_cast<char>(data[0]);
    settings.connectMethod = data[1] & 0x07;
    settings.nonProxyAction = (data[1] >> 3) & 0x03;
    settings.nonProxyHost = "inside";
    settings.nonProxyPort = 110u + (data[1] >> 5);
    const std::string_view line(reinterpret_cast<const char*>(data + 2), size - 2);

    const SPOP3Logon logon = ParsePOP3Logon(line, settings);
    Require(logon.text.size() <= line.size());
    if (logon.outcome != EPOP3Logon::connect)
        return 0;
    Require(logon.description.rfind("POP3: ", 0) == 0);
    Require(!logon.user.empty());
    if (logon.piped) {
        Require(logon.nonProxy && logon.host.empty() && logon.port == 0 &&
                settings.connectMethod == 1);
    } else {
        Require(!logon.host.empty() && logon.port >= 1 && logon.port <= 65535);
        Require(logon.nonProxy || logon.host.find(':') == std::string::npos);
    }
    const std::string server = BuildServerUserLine(logon, settings.connectMethod);
    Require(server.rfind("USER ", 0) == 0 && server.size() >= 7);
    Require(server.compare(server.size() - 2, 2, "\r\n") == 0);
    return 0;
}
