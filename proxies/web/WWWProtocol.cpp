#include "proxies/web/WWWProtocol.h"

#include "proxies/web/HeaderList.h"

#include <array>

namespace {

constexpr std::array<const char*, 8> kProtocolNames = {
    "NONE", "UNKNOWN", "HTTP", "HTTPS", "FTP", "GOPHER", "WAIS", "SSL",
};

}  // namespace

DWORD GetProtocolCode(std::string_view scheme) {
    if (scheme.empty())
        return PROTOCOL_NONE;
    for (DWORD code = PROTOCOL_HTTP; code < kProtocolNames.size(); ++code)
        if (EqualsNoCase(scheme, kProtocolNames[code]))
            return code;
    return PROTOCOL_UNKNOWN;
}

const char* GetProtocolName(DWORD code) {
    return code < kProtocolNames.size() ? kProtocolNames[code] : "";
}
