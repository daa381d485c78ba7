#pragma once
// The kind of URL a web request names (its protocol code), from the URL's scheme. The codes
// are the session's own state and reach request criteria by name ("HTTP", "SSL", ...).

#include "platform/kernel/Types.h"

#include <string_view>

enum EProtocolCode : DWORD {
    PROTOCOL_NONE = 0,     // no scheme
    PROTOCOL_UNKNOWN = 1,  // a scheme not in this list
    PROTOCOL_HTTP = 2,
    PROTOCOL_HTTPS = 3,
    PROTOCOL_FTP = 4,
    PROTOCOL_GOPHER = 5,
    PROTOCOL_WAIS = 6,
    PROTOCOL_SSL = 7,  // the method "CONNECT"
};

// The code of a scheme text, compared without regard to case; an empty scheme is
// PROTOCOL_NONE, any unlisted one PROTOCOL_UNKNOWN.
DWORD GetProtocolCode(std::string_view scheme);

// "NONE", "UNKNOWN", "HTTP", "HTTPS", "FTP", "GOPHER", "WAIS" or "SSL"; "" for any other code.
const char* GetProtocolName(DWORD code);
