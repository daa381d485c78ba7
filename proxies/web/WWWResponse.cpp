#include "proxies/web/WWWResponse.h"

namespace {

enum EState {
    stateVersion,
    stateCode,
    stateReason,
    stateHeaderName,
    stateHeaderValue,
};

constexpr std::size_t kMaxCodeDigits = 9;

DWORD CodeValue(std::string_view text) {
    if (text.empty() || text.size() > kMaxCodeDigits ||
        text.find_first_not_of("0123456789") != std::string_view::npos)
        return 0;
    DWORD value = 0;
    for (char c : text)
        value = value * 10 + static_cast<DWORD>(c - '0');
    return value;
}

void AddHeader(CWWWResponse& response, std::string& name, std::string& value) {
    std::size_t start = 0;
    while (start < value.size() && (value[start] == ' ' || value[start] == '\t'))
        ++start;
    if (!name.empty())
        response.headers.Add(std::move(name), value.substr(start));
    name.clear();
    value.clear();
}

}  // namespace

void ParseResponse(std::string_view head, CWWWResponse& response) {
    response = CWWWResponse();
    CWWWResponse& r = response;
    EState state = stateVersion;
    std::string name, value;
    for (char c : head) {
        if (c == '\r')
            continue;
        switch (state) {
        case stateVersion:
            if (c == ' ')
                state = stateCode;
            else if (c == '\n')
                state = stateHeaderName;
            else
                r.version += c;
            break;
        case stateCode:
            if (c == ' ')
                state = stateReason;
            else if (c == '\n')
                state = stateHeaderName;
            else
                r.codeText += c;
            break;
        case stateReason:
            if (c == '\n')
                state = stateHeaderName;
            else
                r.reason += c;
            break;
        case stateHeaderName:
            if (c == ':')
                state = stateHeaderValue;
            else if (c == '\n')
                name.clear();  // a line without ":" is dropped
            else
                name += c;
            break;
        case stateHeaderValue:
            if (c == '\n') {
                AddHeader(r, name, value);
                state = stateHeaderName;
            } else {
                value += c;
            }
            break;
        }
    }
    if (state == stateHeaderValue)
        AddHeader(r, name, value);
    r.code = CodeValue(r.codeText);
    r.headers.RemoveAll("connection");
}
