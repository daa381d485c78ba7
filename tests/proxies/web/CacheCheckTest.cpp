#include "proxies/web/CacheCheck.h"

#include "proxies/web/ResponseDecision.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

// The copy's last-modified time and the texts of it and of the dates around it.
constexpr std::int64_t kCopyDate = 784111777;
constexpr const char* kCopyDateText = "Sun, 06 Nov 1994 08:49:37 GMT";
constexpr const char* kLaterText = "Sun, 06 Nov 1994 08:49:38 GMT";
constexpr const char* kEarlierText = "Sat, 05 Nov 1994 08:49:37 GMT";
constexpr const char* kUnreadableText = "yesterday";

CWWWRequest Request(std::optional<std::string> ifModifiedSince) {
    CWWWRequest request;
    request.method = "GET";
    request.scheme = "http";
    request.host = "h";
    request.path = "/a.html";
    request.cacheKey = "h/a.html";
    request.protocolCode = PROTOCOL_HTTP;
    request.headers.Add("Accept", "*/*");
    if (ifModifiedSince)
        request.headers.Add("If-Modified-Since", *ifModifiedSince);
    return request;
}

std::optional<std::string> IfModifiedSince(const CWWWRequest& request) {
    if (!request.headers.Contains("If-Modified-Since"))
        return std::nullopt;
    EXPECT_EQ(request.headers.Count("If-Modified-Since"), 1u);
    return request.headers.Get("If-Modified-Since");
}

TEST(CacheCheckTest, OnlyProxyRequestsWithoutAQueryWhileTheCacheAnswers) {
    CWWWRequest request = Request(std::nullopt);
    EXPECT_TRUE(MayUseCache(request, false, true, true));
    EXPECT_FALSE(MayUseCache(request, false, false, true));  // CacheOptions bit value 2 off
    EXPECT_FALSE(MayUseCache(request, false, true, false));  // the cache's own test refuses
    request.query = "q=1";
    EXPECT_FALSE(MayUseCache(request, true, true, true));
    request.query.clear();
    request.nonProxy = true;
    EXPECT_FALSE(MayUseCache(request, false, true, true));
    EXPECT_TRUE(MayUseCache(request, true, true, true));  // CacheNonProxyRequests
    request.foreignHost = true;  // a hand-over whose Host names another host
    EXPECT_FALSE(MayUseCache(request, true, true, true));
}

TEST(CacheCheckTest, DecisionTableWithACopy) {
    struct SCase {
        std::optional<std::string> client;
        bool fresh;
        ECacheState state;
        std::optional<std::string> sent;  // If-Modified-Since that goes to the server
        bool markChecked;
    };
    const SCase cases[] = {
        {std::nullopt, true, kCacheServe, std::nullopt, true},
        {std::nullopt, false, kCacheRevalidate, kCopyDateText, true},
        {kLaterText, true, kCachePassConditional, kLaterText, false},
        {kLaterText, false, kCachePassConditional, kLaterText, false},
        {kCopyDateText, true, kCacheNotModified, kCopyDateText, true},
        {kCopyDateText, false, kCachePassConditional, kCopyDateText, true},
        {kEarlierText, true, kCacheServe, kEarlierText, true},
        {kEarlierText, false, kCacheRevalidate, kCopyDateText, true},
        {kUnreadableText, true, kCacheServe, kUnreadableText, true},
        {kUnreadableText, false, kCacheRevalidate, kCopyDateText, true},
        // The same date in another form is the same date.
        {"Sunday, 06-Nov-94 08:49:37 GMT", true, kCacheNotModified,
         "Sunday, 06-Nov-94 08:49:37 GMT", true},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.client.value_or("(none)") + (c.fresh ? " fresh" : " stale"));
        CWWWRequest request = Request(c.client);
        const SCachedCopy copy{kCopyDate, c.fresh};
        const SCacheCheck check = CheckCache(request, &copy);
        EXPECT_EQ(check.state, c.state);
        EXPECT_TRUE(check.considered);
        EXPECT_EQ(check.markChecked, c.markChecked);
        EXPECT_EQ(check.clientIfModifiedSince, c.client);
        EXPECT_EQ(IfModifiedSince(request), c.sent);
        EXPECT_EQ(request.headers.Get("Accept"), "*/*");
    }
}

TEST(CacheCheckTest, WithoutACopyTheClientsOwnDateDecides) {
    CWWWRequest plain = Request(std::nullopt);
    SCacheCheck check = CheckCache(plain, nullptr);
    EXPECT_EQ(check.state, kCacheFetch);
    EXPECT_TRUE(check.considered);
    EXPECT_FALSE(check.markChecked);
    EXPECT_EQ(IfModifiedSince(plain), std::nullopt);

    CWWWRequest conditional = Request(kEarlierText);
    check = CheckCache(conditional, nullptr);
    EXPECT_EQ(check.state, kCachePassConditional);
    EXPECT_EQ(IfModifiedSince(conditional), kEarlierText);
}

TEST(CacheCheckTest, NoCacheFetchesAndDropsTheClientsDate) {
    struct SCase {
        const char* name;
        const char* value;
        bool noCache;  // the copy is passed over
    };
    const SCase cases[] = {
        {"Pragma", "No-Cache", true},          {"Pragma", "foo, no-cache", true},
        {"Cache-Control", "no-cache", true},   {"cache-control", "Max-Age=0", true},
        {"Cache-Control", "max-age=x", true},  {"Cache-Control", "max-age=\"0\"", true},
        {"Cache-Control", "max-age=5", false}, {"Cache-Control", "no-store", false},
    };
    for (const SCase& c : cases) {
        for (bool fresh : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + ": " + c.value + (fresh ? " fresh" : " stale"));
            CWWWRequest request = Request(kEarlierText);
            request.headers.Add(c.name, c.value);
            const SCachedCopy copy{kCopyDate, fresh};
            const SCacheCheck check = CheckCache(request, &copy);
            EXPECT_EQ(check.state, c.noCache ? kCacheFetch
                                   : fresh   ? kCacheServe
                                             : kCacheRevalidate);
            EXPECT_TRUE(check.considered);  // its 200 replaces the copy
            EXPECT_EQ(check.markChecked, !c.noCache);
            const std::optional<std::string> sent = fresh ? kEarlierText : kCopyDateText;
            EXPECT_EQ(IfModifiedSince(request), c.noCache ? std::nullopt : sent);
        }
    }
}

TEST(CacheCheckTest, AVanishedCopyIsFetchedWithTheClientsOwnHeaders) {
    // The cache asked with its own date; the copy is gone when the 304 comes.
    CWWWRequest request = Request(std::nullopt);
    const SCachedCopy stale{kCopyDate, false};
    SCacheCheck check = CheckCache(request, &stale);
    ASSERT_EQ(check.state, kCacheRevalidate);
    const SCacheCheck fetch = RestoreClientRequest(request, check);
    EXPECT_EQ(fetch.state, kCacheFetch);
    EXPECT_TRUE(fetch.considered);
    EXPECT_EQ(IfModifiedSince(request), std::nullopt);

    // A client that sent an older date gets its own date back.
    CWWWRequest older = Request(kEarlierText);
    check = CheckCache(older, &stale);
    ASSERT_EQ(IfModifiedSince(older), kCopyDateText);
    RestoreClientRequest(older, check);
    EXPECT_EQ(IfModifiedSince(older), kEarlierText);
}

TEST(CacheCheckTest, AClientWithoutADateNeverHearsTheCachesNotModified) {
    CWWWResponse notModified;
    notModified.version = "HTTP/1.1";
    notModified.code = 304;
    for (bool fresh : {true, false}) {
        for (bool hasCopy : {true, false}) {
            CWWWRequest request = Request(std::nullopt);
            const SCachedCopy copy{kCopyDate, fresh};
            const SCacheCheck check = CheckCache(request, hasCopy ? &copy : nullptr);
            EXPECT_NE(check.state, kCacheNotModified);
            const SResponseDecision decision =
                DecideResponse(check.state, check.considered, request, notModified, {true});
            EXPECT_NE(decision.action, EResponseAction::notModified);
            if (decision.action == EResponseAction::serveCached) {
                // The copy is gone: the request that goes out again carries no date at all.
                RestoreClientRequest(request, check);
                EXPECT_EQ(IfModifiedSince(request), std::nullopt);
            }
        }
    }
}

}  // namespace
