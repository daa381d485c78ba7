#include "proxies/web/CacheCheck.h"

#include "proxies/web/HTTPDate.h"

namespace {

constexpr std::string_view kIfModifiedSince = "If-Modified-Since";

// "Pragma: no-cache", "Cache-Control: no-cache" or "Cache-Control: max-age=0": the client
// wants the server's own answer.
bool AsksForNoCache(const CHeaderList& headers) {
    return HasDirective(headers, "Pragma", {"no-cache"}) ||
           HasDirective(headers, "Cache-Control", {"no-cache"}) ||
           CacheControlSeconds(headers, "max-age") == 0;
}

}  // namespace

bool MayUseCache(const CWWWRequest& request, bool cacheNonProxyRequests, bool lookupEnabled,
                 bool cacheable) {
    return (!request.nonProxy || cacheNonProxyRequests) && !request.foreignHost &&
           request.query.empty() && lookupEnabled && cacheable;
}

SCacheCheck CheckCache(CWWWRequest& request, const SCachedCopy* copy) {
    SCacheCheck check;
    check.considered = true;
    if (request.headers.Contains(kIfModifiedSince))
        check.clientIfModifiedSince = request.headers.Get(kIfModifiedSince);

    if (AsksForNoCache(request.headers)) {
        request.headers.RemoveAll(kIfModifiedSince);
        check.state = kCacheFetch;
        return check;
    }
    if (!copy) {
        check.state = check.clientIfModifiedSince ? kCachePassConditional : kCacheFetch;
        return check;
    }

    const auto revalidate = [&] {
        request.headers.SetUnique(kIfModifiedSince, FormatHTTPDate(copy->lastModified));
        return kCacheRevalidate;
    };
    if (!check.clientIfModifiedSince) {
        check.state = copy->fresh ? kCacheServe : revalidate();
        check.markChecked = true;
        return check;
    }
    std::int64_t clientDate = 0;
    const bool readable = ParseHTTPDate(*check.clientIfModifiedSince, clientDate);
    if (readable && clientDate > copy->lastModified) {
        check.state = kCachePassConditional;
        return check;
    }
    const bool equal = readable && clientDate == copy->lastModified;
    if (copy->fresh)
        check.state = equal ? kCacheNotModified : kCacheServe;
    else
        check.state = equal ? kCachePassConditional : revalidate();
    check.markChecked = true;
    return check;
}

SCacheCheck RestoreClientRequest(CWWWRequest& request, const SCacheCheck& check) {
    request.headers.RemoveAll(kIfModifiedSince);
    if (check.clientIfModifiedSince)
        request.headers.Add(std::string(kIfModifiedSince), *check.clientIfModifiedSince);
    SCacheCheck fetch;
    fetch.considered = true;
    fetch.clientIfModifiedSince = check.clientIfModifiedSince;
    return fetch;
}
