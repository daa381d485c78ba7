#include "proxies/web/WWWVariables.h"

bool GetWebRequestValue(const CWWWRequest& request, DWORD index, CNVDataObject& data) {
    switch (index) {
    case kVariableHTTPProtocol: data.SetString(GetProtocolName(request.protocolCode)); break;
    case kVariableHTTPMethod: data.SetString(request.method); break;
    case kVariableHTTPResource: data.SetString(request.path); break;
    case kVariableHTTPURL: data.SetString(request.cacheKey); break;
    case kVariableHTTPPostData: data.SetString(request.postBody); break;
    case kVariableHTTPQuery: data.SetString(request.query); break;
    case kVariableHTTPHeaderField: break;
    default: return false;
    }
    return true;
}

void GetWebRequestVariable(const CWWWRequest& request, std::string_view name, CNVDataObject& data) {
    data.SetString(request.headers.Get(name));
}
