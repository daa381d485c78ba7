#include "proxies/web/ResponseDecision.h"

#include "proxies/web/ResponseHead.h"

#include <cstdint>
#include <initializer_list>
#include <limits>

namespace {

constexpr DWORD kCodeOK = 200;
constexpr DWORD kCodeNotModified = 304;

bool HasElement(const CHeaderList& headers, std::string_view name,
                std::initializer_list<std::string_view> values) {
    for (std::string_view element : HeaderElements(headers, name)) {
        // "private" also stands as private="field-names".
        const std::string_view directive = element.substr(0, element.find('='));
        for (std::string_view value : values)
            if (EqualsNoCase(directive, value))
                return true;
    }
    return false;
}

bool VariesOnlyByEncoding(const CHeaderList& headers) {
    for (std::string_view element : HeaderElements(headers, "Vary"))
        if (!EqualsNoCase(element, "Accept-Encoding"))
            return false;
    return true;
}

}  // namespace

bool IsStorableResponse(const CWWWRequest& request, const CWWWResponse& response) {
    const CHeaderList& in = request.headers;
    const CHeaderList& out = response.headers;
    if (in.Contains("Authorization") || in.Contains("Cookie") || out.Contains("Set-Cookie") ||
        out.Contains("Set-Cookie2"))
        return false;
    if (HasElement(out, "Cache-Control", {"private", "no-store", "no-cache"}) ||
        HasElement(out, "Pragma", {"no-cache"}))
        return false;
    if (out.Contains("Transfer-Encoding") || out.Contains("Content-Encoding") ||
        !VariesOnlyByEncoding(out))
        return false;
    std::uint64_t length = 0;
    switch (GetContentLength(out, length)) {
    case EContentLength::absent: return true;
    case EContentLength::valid: return length <= std::numeric_limits<DWORD>::max();
    case EContentLength::invalid: return false;
    }
    return false;
}

SResponseDecision DecideResponse(ECacheState state, bool considered, const CWWWRequest& request,
                                 const CWWWResponse& response, bool storingEnabled) {
    SResponseDecision decision;
    decision.state = state;
    decision.considered = considered;
    if (response.code == kCodeOK) {
        decision.state = kCacheFetch;
    } else if (response.code == kCodeNotModified) {
        if (state == kCacheRevalidate)
            decision.state = kCacheServe;
        else if (state == kCachePassConditional)
            decision.state = kCacheNotModified;
        decision.considered = false;
    } else {
        decision.unhandledCode = true;
        decision.state = kCacheFetch;
        decision.considered = false;
    }

    if (decision.state == kCacheNotModified) {
        decision.action = EResponseAction::notModified;
    } else if (decision.state == kCacheServe) {
        decision.action = EResponseAction::serveCached;
    } else {
        decision.action = EResponseAction::relay;
        decision.store =
            decision.considered && storingEnabled && IsStorableResponse(request, response);
        decision.head =
            BuildRelayedResponseHead(response.version, response.code, response.reason,
                                     response.headers);
    }
    return decision;
}
