#include "proxies/web/ResponseDecision.h"

#include "proxies/web/HTTPDate.h"
#include "proxies/web/MimeTypes.h"
#include "proxies/web/ResponseHead.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

constexpr DWORD kCodeOK = 200;
constexpr DWORD kCodeNotModified = 304;

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
    if (HasDirective(out, "Cache-Control", {"private", "no-store", "no-cache"}) ||
        HasDirective(out, "Pragma", {"no-cache"}))
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

std::optional<std::int64_t> ExplicitLifetime(const CHeaderList& headers, std::int64_t now) {
    if (HasDirective(headers, "Cache-Control", {"no-cache", "no-store"}) ||
        HasDirective(headers, "Pragma", {"no-cache"}))
        return 0;
    std::optional<std::int64_t> lifetime = CacheControlSeconds(headers, "s-maxage");
    if (!lifetime)
        lifetime = CacheControlSeconds(headers, "max-age");
    if (!lifetime && headers.Contains("Expires")) {
        std::int64_t expires = 0;
        std::int64_t date = now;
        if (!ParseHTTPDate(headers.Get("Date"), date))
            date = now;
        lifetime = ParseHTTPDate(headers.Get("Expires"), expires)
                       ? std::max<std::int64_t>(expires - date, 0)
                       : 0;
    }
    if (!lifetime &&
        HasDirective(headers, "Cache-Control", {"must-revalidate", "proxy-revalidate"}))
        lifetime = 0;
    return lifetime;
}

bool OutlivesRecheck(const CHeaderList& headers, std::int64_t recheckPeriod, std::int64_t now) {
    const std::optional<std::int64_t> lifetime = ExplicitLifetime(headers, now);
    return !lifetime || *lifetime >= recheckPeriod;
}

std::string StoredContentType(const CHeaderList& headers, std::string_view requestPath) {
    return headers.Contains("Content-Type") ? headers.Get("Content-Type")
                                            : GetMimeType(requestPath);
}

SResponseDecision DecideResponse(ECacheState state, bool considered, const CWWWRequest& request,
                                 const CWWWResponse& response, const SStoreConditions& store) {
    SResponseDecision decision;
    decision.state = state;
    decision.considered = considered;
    if (response.code == kCodeOK) {
        decision.state = kCacheFetch;
    } else if (response.code == kCodeNotModified) {
        if (state == kCacheRevalidate) {
            decision.state = kCacheServe;
            decision.dropCopy = !OutlivesRecheck(response.headers, store.recheckPeriod, store.now);
        } else if (state == kCachePassConditional)
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
        decision.store = decision.considered && store.enabled &&
                         IsStorableResponse(request, response) &&
                         OutlivesRecheck(response.headers, store.recheckPeriod, store.now);
        // The server has answered anew: a copy that cannot be replaced is out of date.
        decision.dropCopy = decision.considered && response.code == kCodeOK && !decision.store;
        decision.head =
            BuildRelayedResponseHead(response.version, response.code, response.reason,
                                     response.headers);
    }
    return decision;
}
