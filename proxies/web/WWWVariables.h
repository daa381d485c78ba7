#pragma once
// The request variables a web session answers for request criteria, from its parsed request.
//
// The session's GetValue(index, data) asks GetWebRequestValue first: `answered` puts the text
// into the data object as a string, `unchanged` leaves the data object as it is, and `base`
// hands the index to the two-ended session's GetValue (client address, user, server, ...).
// GetVariable(name, data) puts GetWebRequestVariable's text into the data object as a string.

#include "platform/kernel/Types.h"
#include "proxies/web/WWWRequest.h"

#include <string>
#include <string_view>

// Indexes of the request variables the web session supplies (the shared request-variable
// table numbers them so).
inline constexpr DWORD kVariableHTTPProtocol = 12;
inline constexpr DWORD kVariableHTTPMethod = 13;
inline constexpr DWORD kVariableHTTPResource = 14;
inline constexpr DWORD kVariableHTTPURL = 15;
inline constexpr DWORD kVariableHTTPPostData = 16;
inline constexpr DWORD kVariableHTTPQuery = 17;
inline constexpr DWORD kVariableHTTPHeaderField = 18;  // answered through GetVariable

enum class EWebValue {
    answered,   // `value` holds the string
    unchanged,  // index 18: header fields come through GetWebRequestVariable
    base,       // not a web variable
};

// 12 protocol name ("" for a code without one), 13 method, 14 path, 15 cache key
// (host, optional ":" and port, path), 16 POST body, 17 query.
EWebValue GetWebRequestValue(const CWWWRequest& request, DWORD index, std::string& value);

// The value of the first request header named `name` (any case), or "".
std::string GetWebRequestVariable(const CWWWRequest& request, std::string_view name);
