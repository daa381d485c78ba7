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

#include "proxies/web/CacheCheck.h"
#include "proxies/web/WWWRequest.h"
#include "proxies/web/WWWResponse.h"

#include <string>

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
    std::string head;            // relay: the head for the client
};

// The decision for `response` to `request` under the session's cache state and
// cache-considered flag; `storingEnabled` is CWWWCache::IsStoringEnabled (CacheOptions bit
// value 1, among others).
//   200: kCacheFetch; stored when considered, storingEnabled and IsStorableResponse.
//   304: kCacheRevalidate (the cache asked) serves the copy, kCachePassConditional (the client
//        asked, the copy is of no use) answers the client's own 304; any other state relays
//        it. The response is never considered for the cache.
//   any other code: relayed, never stored, kCacheFetch.
SResponseDecision DecideResponse(ECacheState state, bool considered, const CWWWRequest& request,
                                 const CWWWResponse& response, bool storingEnabled);

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
