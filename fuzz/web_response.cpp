// Feeds arbitrary bytes to the web proxy's response handling as a server would send them:
// collected in pieces, parsed, and decided on under each cache state.
// Besides crashes it checks that the head the client gets is well formed whatever the server
// sent (no header line can be added, the head ends at its only blank line), that the
// collector never holds more than its cap, and that nothing the server gives a shorter
// lifetime than the recheck period is stored.

#include "WebHeadChecks.h"
#include "proxies/web/CacheCheck.h"
#include "proxies/web/ResponseCollector.h"
#include "proxies/web/ResponseDecision.h"
#include "proxies/web/WWWResponse.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::size_t piece = 1 + data[0] % 251;
    const bool considered = data[1] & 1;
    const bool storing = data[1] & 2;
    const std::string_view input(reinterpret_cast<const char*>(data + 2), size - 2);

    CResponseCollector collector;
    for (std::size_t at = 0; at < input.size(); at += piece) {
        collector.Append(input.data() + at, std::min(piece, input.size() - at));
        Require(collector.GetHead().size() <= CResponseCollector::kMaxHeadSize);
    }
    if (collector.GetState() != CResponseCollector::complete) {
        const std::string received = collector.TakeReceived();
        Require(received.size() <= input.size());
        Require(collector.GetState() == CResponseCollector::tooLarge || received == input);
        return 0;
    }
    const std::string_view head = collector.GetHead();
    Require(collector.TakeBody().size() + head.size() == input.size());

    CWWWResponse response;
    ParseResponse(head, response);
    Require(!response.headers.Contains("Connection"));
    for (const CHeaderList::Entry& entry : response.headers.Entries()) {
        Require(!entry.first.empty());
        Require(entry.first.find_first_of(":\r\n") == std::string::npos);
        Require(entry.second.find_first_of("\r\n") == std::string::npos);
    }
    CWWWRequest request;
    request.method = "GET";
    request.path = "/x";
    // A recheck period of 0 to 63 days, at a fixed time.
    const SStoreConditions store{storing, std::int64_t{data[1] >> 2} * 86400, 1700000000};
    const std::optional<std::int64_t> lifetime = ExplicitLifetime(response.headers, store.now);
    Require(!lifetime || *lifetime >= 0);
    for (ECacheState state :
         {kCacheFetch, kCacheServe, kCacheNotModified, kCacheRevalidate, kCachePassConditional}) {
        const SResponseDecision decision =
            DecideResponse(state, considered, request, response, store);
        Require(!(decision.store && decision.dropCopy));
        if (decision.action == EResponseAction::relay) {
            CheckHead(decision.head);
            Require(!decision.store || (response.code == 200 && considered && storing &&
                                        (!lifetime || *lifetime >= store.recheckPeriod)));
        }
    }
    return 0;
}
