#pragma once
// Whether the web cache answers a request, and how the request goes to the server when it
// does not (the web session's CheckCache).
//
// The session's CheckCache, run for protocol codes 2 and 3 before HTTPProcessRequest, is:
//   if MayUseCache(...):  look the request's cache key up (CWWWCache::Lookup); with an entry,
//                         fill an SCachedCopy (fresh = CWWWCache::IsFresh(entry, now));
//                         check = CheckCache(request, copy or null);
//                         check.markChecked: CWWWCache::MarkChecked(entry, now), and the
//                         session keeps the entry for the response side.
//   else: the state stays kCacheFetch and the response is not considered for the cache.

#include "platform/kernel/Types.h"
#include "proxies/web/WWWRequest.h"

#include <cstdint>
#include <optional>
#include <string>

// The session's cache state.
enum ECacheState : DWORD {
    kCacheFetch = 0,           // fetch from the server; store the response when it may be
    kCacheServe = 2,           // serve the cached copy
    kCacheNotModified = 3,     // answer kUseCachedCopyResponse ("304 Use cached copy")
    kCacheRevalidate = 4,      // the request carries If-Modified-Since with the copy's date
    kCachePassConditional = 5, // the request goes out with the client's own If-Modified-Since
};

// Whether the cache takes part at all: a proxy request (or a relative one when the service
// caches those, but not a handed-over one whose Host names another host), without a query, while the cache answers requests (CacheOptions bit value 2,
// CWWWCache::IsLookupEnabled) and the cache's own test admits it (CWWWCache::IsCacheable).
bool MayUseCache(const CWWWRequest& request, bool cacheNonProxyRequests, bool lookupEnabled,
                 bool cacheable);

// What the cache holds for the request's key.
struct SCachedCopy {
    std::int64_t lastModified = 0;  // the entry's last-modified time
    bool fresh = false;             // checked within its age limit (CWWWCache::IsFresh)
};

struct SCacheCheck {
    ECacheState state = kCacheFetch;
    bool considered = false;   // the response may be stored (the cache-considered flag)
    bool markChecked = false;  // set the entry's last-checked time to now
    // The client's own If-Modified-Since, as it sent it (none: it sent none). CheckCache may
    // replace or remove the header; RestoreClientRequest puts this back.
    std::optional<std::string> clientIfModifiedSince;
};

// The decision for a request that MayUseCache admitted, with the cached copy or null. Sets,
// replaces or removes the request's If-Modified-Since as the state needs:
//   "Pragma: no-cache", or Cache-Control  fetch, the client's If-Modified-Since removed
//   no-cache or max-age=0 (any case)
//   no copy                              pass-conditional with a client If-Modified-Since,
//                                        else fetch
//   no client date:     fresh            serve; stale: revalidate with the copy's date
//   client date later than the copy's    pass-conditional (nothing else changes)
//   client date equal                    fresh: not-modified; stale: pass-conditional
//   client date earlier or unreadable    fresh: serve; stale: revalidate with the copy's date
// markChecked is set wherever a copy was judged (every case with a copy but "later").
SCacheCheck CheckCache(CWWWRequest& request, const SCachedCopy* copy);

// Before the request goes out again without the cache (a copy that was to be served has
// vanished): puts the client's own If-Modified-Since back, so the cache's date never reaches
// the server on the client's behalf, and returns the state for the new fetch (kCacheFetch,
// considered, so that the new response replaces the lost copy). A client that sent no
// If-Modified-Since can then get no 304 that was meant for the cache.
SCacheCheck RestoreClientRequest(CWWWRequest& request, const SCacheCheck& check);
