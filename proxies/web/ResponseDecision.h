#pragma once
// What the web session does with a server's response once its head is parsed (the decisions
// of its ProcessResponse), and which responses the cache may keep.
//
// The session's ProcessResponse is: log kLogProcessingResponse; decision = DecideResponse(...);
// log kLogUnhandledResponseCode when decision.unhandledCode; take decision.state and
// decision.considered; then by decision.action:
//   notModified  send kUseCachedCopyResponse to the client and end the session;
//   serveCached  SendCachedResource; when the copy is gone, write kErrorLineCacheGone, take
//                RestoreClientRequest(...), reset the response side (CResponseCollector::
//                Reset, an empty CWWWResponse), close the remote socket and run
//                HTTPProcessRequest again;
//   relay        when decision.store: CWWWCache::AllocateEntry(cache key) and, when the entry
//                has a file name, CCacheDownload::Open on its content path; then send
//                decision.head and relay the body (CCacheDownload::Write first, then the
//                client).
// Then, when decision.dropCopy, CWWWCache::RemoveEntry(cache key).
//
// Freshness. The cache serves a copy without asking its server for a recheck period by its
// type (CWWWCache::GetRecheckPeriod), counted from the copy's last check, which every hit
// moves on. A lifetime the server gives (ExplicitLifetime) cannot be kept in the index's
// record, so a response whose lifetime is shorter than the period is not stored, and a copy
// the server's 304 gives such a lifetime goes once it has been served: the server is asked
// at every request while its answers say so, and the period stays the longest a copy lives.

#include "proxies/web/CacheCheck.h"
#include "proxies/web/WWWRequest.h"
#include "proxies/web/WWWResponse.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class EResponseAction {
    notModified,  // answer "304 Use cached copy" and end
    serveCached,  // send the cached copy instead of the response
    relay,        // send the response on
};

struct SResponseDecision {
    EResponseAction action = EResponseAction::relay;
    ECacheState state = kCacheFetch;
    bool considered = false;
    bool unhandledCode = false;  // neither 200 nor 304
    bool store = false;          // store the body while it is relayed
    bool dropCopy = false;       // the key's cached copy goes (after it is served)
    std::string head;            // relay: the head for the client
};

// What a decision to store depends on besides the exchange.
struct SStoreConditions {
    bool enabled = false;  // CWWWCache::IsStoringEnabled (CacheOptions bit value 1, ...)
    // CWWWCache::GetRecheckPeriod of the type of the copy the response is about: the cached
    // one for a 304, the one a 200 would make (StoredContentType) otherwise.
    std::int64_t recheckPeriod = 0;
    std::int64_t now = 0;  // when the response arrived
};

// The decision for `response` to `request` under the session's cache state and
// cache-considered flag.
//   200: kCacheFetch; stored when considered, storing is enabled, IsStorableResponse, and
//        OutlivesRecheck. A considered 200 that is not stored drops the copy it replaces.
//   304: kCacheRevalidate (the cache asked) serves the copy, and drops it unless
//        OutlivesRecheck; kCachePassConditional (the client asked, the copy is of no use)
//        answers the client's own 304; any other state relays it. The response is never
//        considered for the cache.
//   any other code: relayed, never stored, kCacheFetch.
SResponseDecision DecideResponse(ECacheState state, bool considered, const CWWWRequest& request,
                                 const CWWWResponse& response, const SStoreConditions& store);

// The lifetime the server gives a response, in seconds from `now`: 0 for Cache-Control
// no-cache or no-store, or Pragma no-cache; else Cache-Control s-maxage, else max-age (a
// shared cache takes s-maxage first), else Expires less Date (less `now` without a readable
// Date; an Expires that cannot be read has passed); else 0 for must-revalidate or
// proxy-revalidate. None when the response gives none of these.
std::optional<std::int64_t> ExplicitLifetime(const CHeaderList& headers, std::int64_t now);
// A copy of the response may be served for the whole recheck period: it gives no lifetime,
// or one at least that long.
bool OutlivesRecheck(const CHeaderList& headers, std::int64_t recheckPeriod, std::int64_t now);

// The content type a cache entry of the response records: its Content-Type, or the type of
// the request's path.
std::string StoredContentType(const CHeaderList& headers, std::string_view requestPath);

// Whether a cached copy of this response could be served to anyone who asks for its URL. The
// cache stores only the body and generates the head it serves it with, and it is shared by a
// whole network. So never for:
//   a request with Authorization or Cookie, a response with Set-Cookie (one user's page);
//   Cache-Control private, no-store or no-cache, or Pragma no-cache in the response;
//   Transfer-Encoding or Content-Encoding (the stored bytes would be served without them);
//   a Vary on anything but Accept-Encoding (the copy would go to requests it was not made
//   for);
//   a Content-Length that cannot be trusted, or beyond the 32-bit size the index records.
bool IsStorableResponse(const CWWWRequest& request, const CWWWResponse& response);
