#include "proxies/web/WWWVariables.h"

EWebValue GetWebRequestValue(const CWWWRequest& request, DWORD index, std::string& value) {
    switch (index) {
    case kVariableHTTPProtocol: value = GetProtocolName(request.protocolCode); break;
    case kVariableHTTPMethod: value = request.method; break;
    case kVariableHTTPResource: value = request.path; break;
    case kVariableHTTPURL: value = request.cacheKey; break;
    case kVariableHTTPPostData: value = request.postBody; break;
    case kVariableHTTPQuery: value = request.query; break;
    case kVariableHTTPHeaderField: return EWebValue::unchanged;
    default: return EWebValue::base;
    }
    return EWebValue::answered;
}

std::string GetWebRequestVariable(const CWWWRequest& request, std::string_view name) {
    return request.headers.Get(name);
}
