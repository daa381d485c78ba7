#pragma once
// The request variables a web session answers for request criteria, from its parsed request.
//
// The session's GetValue(index, data) is: GetWebRequestValue, and when that returns false the
// two-ended session's GetValue (client address, user, server, ...). Its GetVariable(name,
// data) is GetWebRequestVariable.

#include "engine/access/RequestVariables.h"
#include "foundation/NVDataObject.h"
#include "platform/kernel/Types.h"
#include "proxies/web/WWWRequest.h"

#include <string_view>

// Indexes of the request variables the web session supplies, from the shared request-variable
// table (engine/access/RequestVariables.h).
inline constexpr DWORD kVariableHTTPProtocol = RequestHTTPProtocol;
inline constexpr DWORD kVariableHTTPMethod = RequestHTTPMethod;
inline constexpr DWORD kVariableHTTPResource = RequestHTTPResource;
inline constexpr DWORD kVariableHTTPURL = RequestHTTPURL;
inline constexpr DWORD kVariableHTTPPostData = RequestHTTPPostData;
inline constexpr DWORD kVariableHTTPQuery = RequestHTTPQueryString;
inline constexpr DWORD kVariableHTTPHeaderField = RequestHTTPHeaderField;  // through GetVariable

// Sets `data` to a string for 12 protocol name ("" for a code without one), 13 method,
// 14 path, 15 cache key (host, optional ":" and port, path), 16 POST body and 17 query; leaves
// it unchanged for 18 (header fields come by name). True for those indexes, false for every
// other one (the session base answers it).
bool GetWebRequestValue(const CWWWRequest& request, DWORD index, CNVDataObject& data);

// Sets `data` to the string value of the first request header named `name` (any case), or "".
void GetWebRequestVariable(const CWWWRequest& request, std::string_view name, CNVDataObject& data);
