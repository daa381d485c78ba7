#include "proxies/web/OutboundRequest.h"

#include "proxies/web/ResponseHead.h"

#include <gtest/gtest.h>

#include <string>

namespace {

CWWWRequest Parsed(const std::string& head, const SNonProxySettings& settings = {}) {
    CWWWRequest request;
    EXPECT_EQ(ParseRequest(head, "", settings, request), EParseResult::proceed) << head;
    return request;
}

TEST(OutboundRequestTest, DirectRequestsUseTheRelativeLine) {
    const CWWWRequest request = Parsed(
        "GET http://h:8080/a?b=1 HTTP/1.1\r\nHost: elsewhere\r\nConnection: keep-alive\r\n"
        "Proxy-Connection: keep-alive\r\nAccept: */*\r\nHost: third\r\n\r\n");
    EXPECT_EQ(BuildOutboundHead(request, false),
              "GET /a?b=1 HTTP/1.1\r\nHost: h:8080\r\nAccept: */*\r\nConnection: close\r\n\r\n");
}

TEST(OutboundRequestTest, UpstreamProxyGetsTheAbsoluteUrl) {
    EXPECT_EQ(BuildOutboundHead(Parsed("GET http://h:8080/a?b=1 HTTP/1.1\r\nAccept: x\r\n\r\n"),
                                true),
              "GET http://h:8080/a?b=1 HTTP/1.1\r\nAccept: x\r\nHost: h:8080\r\n"
              "Connection: close\r\n\r\n");
    // The scheme goes out in lower case; port 80 is not written.
    EXPECT_EQ(BuildOutboundHead(Parsed("GET HTTP://h:80/a HTTP/1.0\r\n\r\n"), true),
              "GET http://h/a HTTP/1.0\r\nHost: h\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(BuildOutboundHead(Parsed("GET https://h/x? HTTP/1.0\r\n\r\n"), true),
              "GET https://h/x? HTTP/1.0\r\nHost: h\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(BuildOutboundHead(Parsed("CONNECT h:443 HTTP/1.1\r\nHost: h:443\r\n"
                                       "Proxy-Connection: Keep-Alive\r\n\r\n"),
                                true),
              "CONNECT h:443 HTTP/1.1\r\nHost: h:443\r\nConnection: close\r\n\r\n");
}

TEST(OutboundRequestTest, FtpThroughAnUpstreamProxyCarriesTheLogOn) {
    EXPECT_EQ(BuildOutboundHead(Parsed("GET ftp://h/pub/ HTTP/1.0\r\n\r\n"), true),
              "GET ftp://h/pub/ HTTP/1.0\r\nHost: h\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(BuildOutboundHead(Parsed("GET ftp://u:p@h:2121/pub HTTP/1.0\r\n\r\n"), true),
              "GET ftp://u:p@h:2121/pub HTTP/1.0\r\nHost: h:2121\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(BuildOutboundHead(Parsed("GET ftp://me%40home:a%2Fb@h/x HTTP/1.0\r\n\r\n"), true),
              "GET ftp://me%40home:a%2Fb@h/x HTTP/1.0\r\nHost: h\r\nConnection: close\r\n\r\n");
    // The anonymous default is left out only when both parts are the default, in exact case.
    EXPECT_EQ(BuildOutboundHead(Parsed("GET ftp://ANONYMOUS:Pelwick%40@h/ HTTP/1.0\r\n\r\n"), true),
              "GET ftp://ANONYMOUS:Pelwick%40@h/ HTTP/1.0\r\nHost: h\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(BuildOutboundHead(Parsed("GET ftp://anonymous:Pelwick%40@h/ HTTP/1.0\r\n\r\n"), true),
              "GET ftp://h/ HTTP/1.0\r\nHost: h\r\nConnection: close\r\n\r\n");
}

TEST(OutboundRequestTest, VersionlessAndNonProxyRequests) {
    EXPECT_EQ(BuildOutboundHead(Parsed("GET http://h/x\r\n"), false),
              "GET /x HTTP/1.0\r\nHost: h\r\nConnection: close\r\n\r\n");
    SNonProxySettings forward;
    forward.action = 1;
    forward.host = "inner";
    forward.port = 8081;
    forward.prependResource = 1;
    forward.prependInfo = "site";
    EXPECT_EQ(BuildOutboundHead(Parsed("POST /f?x HTTP/1.0\r\nHost: proxy:8080\r\n"
                                       "Content-Length: 3\r\n\r\n",
                                       forward),
                                false),
              "POST /site/f?x HTTP/1.0\r\nHost: inner:8081\r\nContent-Length: 3\r\n"
              "Connection: close\r\n\r\n");
}

TEST(OutboundRequestTest, HeadOfAnyLength) {
    const std::string path(20000, 'p');
    const std::string cookie(30000, 'c');
    const CWWWRequest request =
        Parsed("GET http://h/" + path + " HTTP/1.0\r\nCookie: " + cookie + "\r\n\r\n");
    EXPECT_EQ(BuildOutboundHead(request, false),
              "GET /" + path + " HTTP/1.0\r\nCookie: " + cookie +
                  "\r\nHost: h\r\nConnection: close\r\n\r\n");
}

TEST(OutboundRequestTest, BodyRelayForwardsOnlyTheBody) {
    CBodyRelay none(Parsed("POST http://h/ HTTP/1.0\r\n\r\n"));
    EXPECT_FALSE(none.RelaysClientData());
    EXPECT_EQ(none.Take(100), 0u);
    EXPECT_FALSE(none.IsComplete());

    CBodyRelay sized(Parsed("GET http://h/ HTTP/1.0\r\nContent-Length: 10\r\n\r\n"));
    EXPECT_TRUE(sized.RelaysClientData());
    EXPECT_EQ(sized.Take(4), 4u);
    EXPECT_FALSE(sized.IsComplete());
    EXPECT_EQ(sized.Take(100), 6u);  // the rest would be a second request: dropped
    EXPECT_TRUE(sized.IsComplete());
    EXPECT_EQ(sized.Take(5), 0u);

    CBodyRelay empty(Parsed("POST http://h/ HTTP/1.0\r\nContent-Length: 0\r\n\r\n"));
    EXPECT_TRUE(empty.IsComplete());
    EXPECT_EQ(empty.Take(3), 0u);

    CBodyRelay chunked(Parsed("POST http://h/ HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"));
    EXPECT_TRUE(chunked.RelaysClientData());
    EXPECT_EQ(chunked.Take(100000), 100000u);
    CBodyRelay tunnel(Parsed("CONNECT h:443 HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(tunnel.Take(7), 7u);
    EXPECT_FALSE(tunnel.IsComplete());
}

TEST(OutboundRequestTest, RelayedResponseHeadAnnouncesTheClose) {
    CHeaderList headers;
    headers.Add("Content-Type", "text/html");
    headers.Add("connection", "keep-alive");
    headers.Add("Proxy-Connection", "keep-alive");
    headers.Add("Content-Length", "5");
    EXPECT_EQ(BuildRelayedResponseHead("HTTP/1.1", 200, "OK", headers),
              "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5\r\n"
              "Connection: close\r\nProxy-Connection: close\r\n\r\n");
    EXPECT_EQ(BuildRelayedResponseHead("HTTP/1.0", 99, "Odd", CHeaderList()),
              "HTTP/1.0  99 Odd\r\nConnection: close\r\nProxy-Connection: close\r\n\r\n");
}

}  // namespace
