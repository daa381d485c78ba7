#include "proxies/web/ResponseDecision.h"

#include "proxies/web/HTTPDate.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

CWWWRequest Get() {
    CWWWRequest request;
    request.method = "GET";
    request.path = "/a";
    request.protocolCode = PROTOCOL_HTTP;
    return request;
}

CWWWResponse Response(DWORD code, std::vector<std::pair<std::string, std::string>> headers = {}) {
    CWWWResponse response;
    response.version = "HTTP/1.1";
    response.code = code;
    response.codeText = std::to_string(code);
    response.reason = code == 200 ? "OK" : "Other";
    for (auto& [name, value] : headers)
        response.headers.Add(name, value);
    return response;
}

TEST(ResponseDecisionTest, OkIsRelayedAndStoredWhenConsidered) {
    const CWWWResponse ok = Response(200, {{"Content-Type", "text/html"}, {"Content-Length", "5"}});
    for (ECacheState state : {kCacheFetch, kCacheRevalidate, kCachePassConditional}) {
        const SResponseDecision d = DecideResponse(state, true, Get(), ok, {true});
        EXPECT_EQ(d.action, EResponseAction::relay);
        EXPECT_EQ(d.state, kCacheFetch);
        EXPECT_TRUE(d.considered);
        EXPECT_FALSE(d.unhandledCode);
        EXPECT_TRUE(d.store);
        EXPECT_EQ(d.head,
                  "HTTP/1.1 200 OK\r\n"
                  "Content-Type: text/html\r\n"
                  "Content-Length: 5\r\n"
                  "Connection: close\r\n"
                  "Proxy-Connection: close\r\n"
                  "\r\n");
    }
    // Not considered, or storing off: relayed only.
    EXPECT_FALSE(DecideResponse(kCacheFetch, false, Get(), ok, {true}).store);
    EXPECT_FALSE(DecideResponse(kCacheFetch, true, Get(), ok, {false}).store);
}

TEST(ResponseDecisionTest, NotModifiedServesTheCopyOrAnswersTheClient) {
    const CWWWResponse notModified = Response(304);
    SResponseDecision d = DecideResponse(kCacheRevalidate, true, Get(), notModified, {true});
    EXPECT_EQ(d.action, EResponseAction::serveCached);
    EXPECT_EQ(d.state, kCacheServe);
    EXPECT_FALSE(d.considered);
    EXPECT_FALSE(d.store);
    EXPECT_EQ(d.head, "");

    d = DecideResponse(kCachePassConditional, true, Get(), notModified, {true});
    EXPECT_EQ(d.action, EResponseAction::notModified);
    EXPECT_EQ(d.state, kCacheNotModified);
    EXPECT_FALSE(d.considered);

    // Not asked for by the cache: the server's own 304 goes on as it is, never stored.
    d = DecideResponse(kCacheFetch, true, Get(), notModified, {true});
    EXPECT_EQ(d.action, EResponseAction::relay);
    EXPECT_EQ(d.state, kCacheFetch);
    EXPECT_FALSE(d.considered);
    EXPECT_FALSE(d.store);
    EXPECT_FALSE(d.unhandledCode);
    EXPECT_EQ(d.head,
              "HTTP/1.1 304 Other\r\nConnection: close\r\nProxy-Connection: close\r\n\r\n");
}

TEST(ResponseDecisionTest, OtherCodesAreRelayedAndNeverStored) {
    for (DWORD code : {0u, 1u, 99u, 206u, 301u, 404u, 500u, 1000u}) {
        const SResponseDecision d =
            DecideResponse(kCacheRevalidate, true, Get(), Response(code), {true});
        EXPECT_EQ(d.action, EResponseAction::relay) << code;
        EXPECT_EQ(d.state, kCacheFetch);
        EXPECT_FALSE(d.considered);
        EXPECT_FALSE(d.store);
        EXPECT_TRUE(d.unhandledCode);
    }
    // The code goes out right-aligned in three places.
    EXPECT_EQ(DecideResponse(kCacheFetch, false, Get(), Response(99), {true}).head,
              "HTTP/1.1  99 Other\r\nConnection: close\r\nProxy-Connection: close\r\n\r\n");
}

TEST(ResponseDecisionTest, ResponsesNoSharedCacheMayServeAreNeverStored) {
    const std::vector<std::pair<const char*, const char*>> responseHeaders = {
        {"Set-Cookie", "id=1"},
        {"set-cookie2", "id=1"},
        {"Cache-Control", "private"},
        {"Cache-Control", "max-age=60, Private=\"Set-Cookie\""},
        {"Cache-Control", "no-store"},
        {"cache-control", "public, NO-CACHE"},
        {"Pragma", "no-cache"},
        {"Transfer-Encoding", "chunked"},
        {"Content-Encoding", "gzip"},
        {"Vary", "Cookie"},
        {"Vary", "Accept-Encoding, User-Agent"},
        {"Vary", "*"},
        {"Content-Length", "12x"},
        {"Content-Length", "-1"},
        {"Content-Length", "4294967296"},
    };
    for (const auto& [name, value] : responseHeaders) {
        const CWWWResponse r = Response(200, {{name, value}});
        EXPECT_FALSE(IsStorableResponse(Get(), r)) << name << ": " << value;
        EXPECT_FALSE(DecideResponse(kCacheFetch, true, Get(), r, {true}).store);
    }
    for (const char* requestHeader : {"Authorization", "Cookie", "cookie"}) {
        CWWWRequest request = Get();
        request.headers.Add(requestHeader, "x");
        EXPECT_FALSE(IsStorableResponse(request, Response(200))) << requestHeader;
    }
    // Two lengths that disagree cannot be trusted either.
    EXPECT_FALSE(IsStorableResponse(
        Get(), Response(200, {{"Content-Length", "1"}, {"Content-Length", "2"}})));
}

TEST(ResponseDecisionTest, OrdinaryPublicResponsesMayBeStored) {
    const std::vector<std::vector<std::pair<std::string, std::string>>> cases = {
        {},
        {{"Content-Length", "4294967295"}},
        {{"Content-Length", "0"}, {"Content-Length", "0"}},
        {{"Cache-Control", "public, max-age=60"}},
        {{"Vary", "accept-encoding"}},
        {{"Pragma", "x-private"}},
        {{"Last-Modified", "Sun, 06 Nov 1994 08:49:37 GMT"}, {"Content-Type", "image/gif"}},
    };
    for (const auto& headers : cases) {
        CWWWResponse r = Response(200, headers);
        EXPECT_TRUE(IsStorableResponse(Get(), r)) << r.headers.Format();
    }
}

TEST(ResponseDecisionTest, LifetimesTheServerGives) {
    constexpr std::int64_t kNow = 1700000000;
    const auto date = [](std::int64_t offset) { return FormatHTTPDate(kNow + offset); };
    struct SCase {
        std::vector<std::pair<std::string, std::string>> headers;
        std::optional<std::int64_t> lifetime;
    };
    const SCase cases[] = {
        {{}, std::nullopt},
        {{{"Last-Modified", date(-9999)}, {"Cache-Control", "public"}}, std::nullopt},
        {{{"Cache-Control", "max-age=60"}}, 60},
        {{{"cache-control", "public, MAX-AGE=\"120\""}}, 120},
        {{{"Cache-Control", "max-age=60, s-maxage=5"}}, 5},  // a shared cache's own first
        {{{"Cache-Control", "max-age=6"}, {"Cache-Control", "max-age=9"}}, 6},
        {{{"Cache-Control", "max-age=1e3"}}, 0},
        {{{"Cache-Control", "max-age=99999999999999999999"}}, std::int64_t{1} << 31},
        {{{"Cache-Control", "max-age=0, must-revalidate"}}, 0},
        {{{"Cache-Control", "max-age=600, no-cache"}}, 0},
        {{{"Pragma", "no-cache"}, {"Expires", date(600)}}, 0},
        {{{"Cache-Control", "must-revalidate"}}, 0},
        {{{"Cache-Control", "proxy-revalidate, max-age=600"}}, 600},
        // Expires against the server's Date, else against the time it came.
        {{{"Date", date(-100)}, {"Expires", date(-40)}}, 60},
        {{{"Expires", date(30)}, {"Date", "soon"}}, 30},
        {{{"Date", date(0)}, {"Expires", date(-10)}}, 0},
        {{{"Expires", "0"}}, 0},
        {{{"Cache-Control", "max-age=7"}, {"Expires", date(1000)}}, 7},
    };
    for (const SCase& c : cases) {
        const CWWWResponse r = Response(200, c.headers);
        EXPECT_EQ(ExplicitLifetime(r.headers, kNow), c.lifetime) << r.headers.Format();
    }
}

TEST(ResponseDecisionTest, CopiesLiveNoLongerThanTheServerSays) {
    constexpr std::int64_t kPeriod = 2 * 86400;
    const SStoreConditions store{true, kPeriod, 1700000000};
    struct SCase {
        const char* cacheControl;  // nullptr: none
        bool outlives;
    };
    const SCase cases[] = {
        {nullptr, true},      {"max-age=172800", true}, {"max-age=172799", false},
        {"max-age=0", false}, {"no-cache", false},      {"must-revalidate", false},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.cacheControl ? c.cacheControl : "none");
        std::vector<std::pair<std::string, std::string>> headers;
        if (c.cacheControl)
            headers.emplace_back("Cache-Control", c.cacheControl);
        // A 200 is stored, or the copy it replaces goes (but not for a request the cache
        // took no part in).
        SResponseDecision d =
            DecideResponse(kCacheRevalidate, true, Get(), Response(200, headers), store);
        EXPECT_EQ(std::make_pair(d.store, d.dropCopy), std::make_pair(c.outlives, !c.outlives));
        EXPECT_FALSE(
            DecideResponse(kCacheFetch, false, Get(), Response(200, headers), store).dropCopy);
        // A 304 serves the copy, which goes afterwards when the server now says it is short-lived.
        d = DecideResponse(kCacheRevalidate, true, Get(), Response(304, headers), store);
        EXPECT_EQ(d.action, EResponseAction::serveCached);
        EXPECT_EQ(d.dropCopy, !c.outlives);
    }
    // Storing off: the copy the 200 replaces goes all the same.
    EXPECT_TRUE(
        DecideResponse(kCacheFetch, true, Get(), Response(200), {false, kPeriod, 0}).dropCopy);
}

}  // namespace
