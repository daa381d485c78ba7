#include "proxies/web/WWWRequest.h"

#include "proxies/web/WWWVariables.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

struct SParsed {
    EParseResult result;
    CWWWRequest request;
};

SParsed Parse(const std::string& head, const SNonProxySettings& settings = {},
              const std::string& body = {}) {
    SParsed parsed;
    parsed.result = ParseRequest(head, body, settings, parsed.request);
    return parsed;
}

SNonProxySettings Action(DWORD action) {
    SNonProxySettings settings;
    settings.action = action;
    return settings;
}

// One absolute URL and the fields the parser gives it, written out from the request forms.
struct SUrlCase {
    const char* head;
    const char* scheme;
    DWORD code;
    const char* host;
    const char* portText;
    DWORD port;
    const char* path;
    const char* query;
    const char* fullURL;
    const char* cacheKey;
};

TEST(WWWRequestTest, AbsoluteUrlsSplitIntoTheirParts) {
    const SUrlCase cases[] = {
        {"GET http://h:8080/a?b=1 HTTP/1.0\r\n\r\n", "http", PROTOCOL_HTTP, "h", "8080", 8080,
         "/a", "b=1", "http://h:8080/a", "h:8080/a"},
        {"GET http://h/ HTTP/1.0\r\n\r\n", "http", PROTOCOL_HTTP, "h", "", 80, "/", "",
         "http://h/", "h/"},
        // Without a path the host ends at the space and the path is "/".
        {"GET http://h HTTP/1.0\r\n\r\n", "http", PROTOCOL_HTTP, "h", "", 80, "/", "",
         "http://h/", "h/"},
        // A "?" with nothing after it stays in the path.
        {"GET http://h/a? HTTP/1.0\r\n\r\n", "http", PROTOCOL_HTTP, "h", "", 80, "/a?", "",
         "http://h/a?", "h/a?"},
        {"GET http://h/a?x?y HTTP/1.0\r\n\r\n", "http", PROTOCOL_HTTP, "h", "", 80, "/a", "x?y",
         "http://h/a", "h/a"},
        // An explicit port 80 is written in the full URL but not in the cache key.
        {"GET http://h:80/x HTTP/1.0\r\n\r\n", "http", PROTOCOL_HTTP, "h", "80", 80, "/x", "",
         "http://h:80/x", "h/x"},
        {"GET http://h:00080/x HTTP/1.0\r\n\r\n", "http", PROTOCOL_HTTP, "h", "00080", 80, "/x",
         "", "http://h:00080/x", "h/x"},
        {"GET HTTP://Host.Example/x HTTP/1.1\r\n\r\n", "HTTP", PROTOCOL_HTTP, "Host.Example", "",
         80, "/x", "", "HTTP://Host.Example/x", "Host.Example/x"},
        {"GET https://h/x HTTP/1.1\r\n\r\n", "https", PROTOCOL_HTTPS, "h", "", 80, "/x", "",
         "https://h/x", "h/x"},
        // ftp:// defaults to port 21; the cache key then has a colon and an empty port text.
        {"GET ftp://h/pub/x HTTP/1.0\r\n\r\n", "ftp", PROTOCOL_FTP, "h", "", 21, "/pub/x", "",
         "ftp://h/pub/x", "h:/pub/x"},
        {"GET ftp://h:2121/x HTTP/1.0\r\n\r\n", "ftp", PROTOCOL_FTP, "h", "2121", 2121, "/x", "",
         "ftp://h:2121/x", "h:2121/x"},
        // Schemes without a default port keep port 0.
        {"GET gopher://h/1 HTTP/1.0\r\n\r\n", "gopher", PROTOCOL_GOPHER, "h", "", 0, "/1", "",
         "gopher://h/1", "h:/1"},
        {"GET WAIS://h/ HTTP/1.0\r\n\r\n", "WAIS", PROTOCOL_WAIS, "h", "", 0, "/", "",
         "WAIS://h/", "h:/"},
        {"GET news://h/x HTTP/1.0\r\n\r\n", "news", PROTOCOL_UNKNOWN, "h", "", 0, "/x", "",
         "news://h/x", "h:/x"},
        {"CONNECT h:443 HTTP/1.1\r\n\r\n", "SSL", PROTOCOL_SSL, "h", "443", 443, "/", "",
         "SSL://h:443/", "h:443/"},
        {"CONNECT h HTTP/1.1\r\n\r\n", "SSL", PROTOCOL_SSL, "h", "", 80, "/", "", "SSL://h/",
         "h/"},
        // User information is cut off at the last "@" whatever the scheme.
        {"GET http://a@b@h/x HTTP/1.0\r\n\r\n", "http", PROTOCOL_HTTP, "h", "", 80, "/x", "",
         "http://h/x", "h/x"},
    };
    for (const SUrlCase& c : cases) {
        SCOPED_TRACE(c.head);
        SParsed p = Parse(c.head);
        ASSERT_EQ(p.result, EParseResult::proceed);
        EXPECT_EQ(p.request.scheme, c.scheme);
        EXPECT_EQ(p.request.protocolCode, c.code);
        EXPECT_EQ(p.request.host, c.host);
        EXPECT_EQ(p.request.portText, c.portText);
        EXPECT_EQ(p.request.port, c.port);
        EXPECT_EQ(p.request.path, c.path);
        EXPECT_EQ(p.request.query, c.query);
        EXPECT_EQ(p.request.fullURL, c.fullURL);
        EXPECT_EQ(p.request.cacheKey, c.cacheKey);
        EXPECT_FALSE(p.request.nonProxy);
    }
}

TEST(WWWRequestTest, MethodVersionAndHeaders) {
    SParsed p = Parse(
        "GET http://h/ HTTP/1.1\r\nAccept:   text/html \r\nX-Empty:\r\nUser-Agent: t\r\n\r\n");
    ASSERT_EQ(p.result, EParseResult::proceed);
    EXPECT_EQ(p.request.method, "GET");
    EXPECT_EQ(p.request.version, "HTTP/1.1");
    ASSERT_EQ(p.request.headers.Size(), 3u);
    // Leading white space is trimmed from a value, trailing white space is kept.
    EXPECT_EQ(p.request.headers.Entries()[0], CHeaderList::Entry("Accept", "text/html "));
    EXPECT_EQ(p.request.headers.Entries()[1], CHeaderList::Entry("X-Empty", ""));
    EXPECT_EQ(p.request.headers.Get("user-agent"), "t");
    EXPECT_EQ(ParseResultCode(p.result), 1);
}

TEST(WWWRequestTest, OnlyConnectInCapitalsOpensATunnel) {
    SParsed lower = Parse("connect http://h/ HTTP/1.0\r\n\r\n");
    ASSERT_EQ(lower.result, EParseResult::proceed);
    EXPECT_EQ(lower.request.method, "connect");
    EXPECT_EQ(lower.request.protocolCode, PROTOCOL_HTTP);
    // "h:443" read as a scheme has no "//" after its colon.
    EXPECT_EQ(Parse("connect h:443 HTTP/1.0\r\n\r\n").result, EParseResult::malformed);
    EXPECT_EQ(Parse("CONNECT h:443 HTTP/1.0\r\n\r\n").request.protocolCode, PROTOCOL_SSL);
}

TEST(WWWRequestTest, FtpLogOnFromUserInformation) {
    SParsed p = Parse("GET ftp://u:p@h/pub HTTP/1.0\r\n\r\n");
    ASSERT_EQ(p.result, EParseResult::proceed);
    EXPECT_EQ(p.request.ftpUser, "u");
    EXPECT_EQ(p.request.ftpPassword, "p");
    EXPECT_EQ(p.request.host, "h");
    EXPECT_EQ(p.request.port, 21u);
    EXPECT_EQ(p.request.ftpPath, "/pub");

    // Split at the last "@", percent-decoded; a password may hold "@" and ":".
    p = Parse("GET ftp://me%40home:p%3Aw@d@h:2121/a%20b HTTP/1.0\r\n\r\n");
    ASSERT_EQ(p.result, EParseResult::proceed);
    EXPECT_EQ(p.request.ftpUser, "me@home");
    EXPECT_EQ(p.request.ftpPassword, "p:w@d");
    EXPECT_EQ(p.request.host, "h");
    EXPECT_EQ(p.request.port, 2121u);
    EXPECT_EQ(p.request.path, "/a%20b");
    EXPECT_EQ(p.request.ftpPath, "/a b");

    p = Parse("GET ftp://bob@h/ HTTP/1.0\r\n\r\n");
    EXPECT_EQ(p.request.ftpUser, "bob");
    EXPECT_EQ(p.request.ftpPassword, "Pelwick@");
    p = Parse("GET ftp://h/ HTTP/1.0\r\n\r\n");
    EXPECT_EQ(p.request.ftpUser, "anonymous");
    EXPECT_EQ(p.request.ftpPassword, "Pelwick@");
    // Other schemes drop the user information.
    p = Parse("GET http://u:p@h/ HTTP/1.0\r\n\r\n");
    EXPECT_EQ(p.request.ftpUser, "anonymous");
    EXPECT_EQ(p.request.host, "h");

    // Nothing that decodes to a line break or NUL reaches an FTP command.
    for (const char* head : {"GET ftp://u%0d%0aDELE%20x:p@h/ HTTP/1.0\r\n\r\n",
                             "GET ftp://u:p%0A@h/ HTTP/1.0\r\n\r\n",
                             "GET ftp://u%00:p@h/ HTTP/1.0\r\n\r\n",
                             "GET ftp://h/a%0d%0aDELE%20b HTTP/1.0\r\n\r\n",
                             "GET ftp://h/a%00 HTTP/1.0\r\n\r\n"}) {
        SCOPED_TRACE(head);
        EXPECT_EQ(Parse(head).result, EParseResult::malformed);
    }
    // An http path may hold the same escapes: it is sent on as written.
    EXPECT_EQ(Parse("GET http://h/a%0d%0a HTTP/1.0\r\n\r\n").result, EParseResult::proceed);
}

TEST(WWWRequestTest, NonProxyRequestsFollowTheAction) {
    const std::string head = "GET /a/b.html?q=1 HTTP/1.0\r\nHost: proxy\r\n\r\n";

    EXPECT_EQ(Parse(head, Action(0)).result, EParseResult::malformed);
    EXPECT_EQ(ParseResultCode(Parse(head, Action(0)).result), 0);
    EXPECT_EQ(Parse(head, Action(4)).result, EParseResult::malformed);

    SNonProxySettings redirect = Action(2);
    redirect.redirectURL = "http://elsewhere/";
    SParsed p = Parse(head, redirect);
    ASSERT_EQ(p.result, EParseResult::redirect);
    EXPECT_EQ(ParseResultCode(p.result), -1);
    EXPECT_EQ(p.request.answer, "HTTP/1.0 302 Found\r\nLocation: http://elsewhere/\r\n\r\n");
    // A stored address cannot add header lines.
    redirect.redirectURL = "http://x/\r\nSet-Cookie: a=b";
    EXPECT_EQ(Parse(head, redirect).request.answer,
              "HTTP/1.0 302 Found\r\nLocation: http://x/\r\n\r\n");

    SNonProxySettings forward = Action(1);
    forward.host = "inner";
    p = Parse(head, forward);
    ASSERT_EQ(p.result, EParseResult::proceed);
    EXPECT_TRUE(p.request.nonProxy);
    EXPECT_EQ(p.request.scheme, "http");
    EXPECT_EQ(p.request.protocolCode, PROTOCOL_HTTP);
    EXPECT_EQ(p.request.host, "inner");
    EXPECT_EQ(p.request.port, 80u);
    EXPECT_EQ(p.request.path, "/a/b.html");
    EXPECT_EQ(p.request.query, "q=1");
    EXPECT_EQ(p.request.fullURL, "http://inner/a/b.html");
    EXPECT_EQ(p.request.cacheKey, "inner/a/b.html");

    forward.port = 8081;
    forward.prependResource = 1;
    forward.prependInfo = "site";
    p = Parse(head, forward);
    ASSERT_EQ(p.result, EParseResult::proceed);
    EXPECT_EQ(p.request.path, "/site/a/b.html");
    EXPECT_EQ(p.request.portText, "8081");
    EXPECT_EQ(p.request.port, 8081u);
    EXPECT_EQ(p.request.fullURL, "http://inner:8081/site/a/b.html");
    EXPECT_EQ(p.request.cacheKey, "inner:8081/site/a/b.html");

    p = Parse(head, Action(3));
    ASSERT_EQ(p.result, EParseResult::serverRootFile);
    EXPECT_EQ(p.request.localFile, "a/b.html");
    EXPECT_EQ(p.request.fullURL, "http:///a/b.html");
    EXPECT_EQ(Parse("GET /a/../../etc/passwd HTTP/1.0\r\n\r\n", Action(3)).result,
              EParseResult::accessDenied);

    // Text before the first "/" is neither a scheme nor a path.
    EXPECT_EQ(Parse("GET abc/def HTTP/1.0\r\n\r\n", Action(1)).result, EParseResult::malformed);
}

TEST(WWWRequestTest, AHandedOverRequestConnectsToTheCheckedAddressAndIsCachedOnlyForItsHost) {
    SNonProxySettings handOver = Action(1);
    handOver.host = "www.example";
    handOver.port = 8080;
    handOver.connectAddress = "192.0.2.7";
    const struct {
        const char* hostHeader;  // nullptr: none
        bool foreign;
    } cases[] = {{nullptr, false},           {"www.example:8080", false},
                 {" WWW.Example:8080 ", false}, {"www.example", true},  // port 80
                 {"other.example:8080", true}, {"www.example:x", true}};
    for (const auto& c : cases) {
        const std::string head = "GET /a HTTP/1.1\r\n" +
                                 (c.hostHeader ? "Host:"s + c.hostHeader + "\r\n" : ""s) + "\r\n";
        SParsed p = Parse(head, handOver);
        ASSERT_EQ(p.result, EParseResult::proceed) << head;
        EXPECT_EQ(p.request.connectHost, "192.0.2.7");
        EXPECT_EQ(p.request.cacheKey, "www.example:8080/a");
        EXPECT_EQ(p.request.foreignHost, c.foreign) << head;
    }
    // Every other request connects to the host it names.
    SParsed p = Parse("GET http://h:81/ HTTP/1.0\r\nHost: elsewhere\r\n\r\n");
    EXPECT_EQ(p.request.connectHost, "h");
    EXPECT_FALSE(p.request.foreignHost);
}

TEST(WWWRequestTest, InternalHostNamesAFileOfTheProxy) {
    SParsed p = Parse("GET http://norvane-internal/Resources/Default.gif HTTP/1.0\r\n\r\n");
    ASSERT_EQ(p.result, EParseResult::internalResource);
    EXPECT_EQ(p.request.localFile, "Resources/Default.gif");
    EXPECT_EQ(ParseResultCode(p.result), -1);
    p = Parse("GET http://Norvane-Internal:8080/Resources/x.gif?v=2 HTTP/1.0\r\n\r\n");
    ASSERT_EQ(p.result, EParseResult::internalResource);
    EXPECT_EQ(p.request.localFile, "Resources/x.gif");
    EXPECT_EQ(Parse("GET http://norvane-internal.example/ HTTP/1.0\r\n\r\n").result,
              EParseResult::proceed);
}

TEST(WWWRequestTest, ConnectionHeadersNeverReachTheServer) {
    SParsed p = Parse(
        "GET http://h/ HTTP/1.1\r\nconnection: keep-alive\r\nAccept: a\r\n"
        "PROXY-CONNECTION: keep-alive\r\nConnection: Upgrade\r\nProxy-Connection: x\r\n\r\n");
    ASSERT_EQ(p.result, EParseResult::proceed);
    ASSERT_EQ(p.request.headers.Size(), 1u);
    EXPECT_EQ(p.request.headers.Entries()[0].first, "Accept");
}

TEST(WWWRequestTest, HeaderLineWithoutColonIsDropped) {
    SParsed p = Parse("GET http://h/ HTTP/1.0\r\nBogus line\r\nAccept: x\r\n: nameless\r\n\r\n");
    ASSERT_EQ(p.result, EParseResult::proceed);
    ASSERT_EQ(p.request.headers.Size(), 1u);
    EXPECT_EQ(p.request.headers.Entries()[0], CHeaderList::Entry("Accept", "x"));
}

TEST(WWWRequestTest, HeaderLinesAServerCouldSplitDifferentlyAreRefused) {
    // A control byte or blank in a name, a CR that does not end its line, or a NUL anywhere.
    for (const std::string& headers :
         {"X\x1bY: 1\r\n"s, "X\tY: 1\r\n"s, "Bogus\x01line\r\n"s, "A: 1\rB: 2\r\n"s,
          "A: 1\r\r\n"s, "A: x\0y\r\n"s, "\rA: 1\r\n"s, "A: 1\r\n X: 2\r\n"s, "X : 1\r\n"s}) {
        SCOPED_TRACE(headers);
        EXPECT_EQ(Parse("GET http://h/ HTTP/1.0\r\n" + headers + "\r\n").result,
                  EParseResult::malformed);
    }
    // Bare LF line ends, blanks and tabs in values, and a last line without its end are fine.
    SParsed p = Parse("GET http://h/ HTTP/1.0\nA:\t x y\t\nB: 2");
    ASSERT_EQ(p.result, EParseResult::proceed);
    EXPECT_EQ(p.request.headers.Get("A"), "x y\t");
    EXPECT_EQ(p.request.headers.Get("B"), "2");
}

TEST(WWWRequestTest, LineBreaksEndTheRequestLineAndControlBytesRefuseIt) {
    // A CR or LF inside the URL ends the request line; what follows is a header of the
    // client's own, never part of the request line.
    SParsed p = Parse("GET http://h/a\rX-Injected: 1\r\n\r\n");
    ASSERT_EQ(p.result, EParseResult::proceed);
    EXPECT_EQ(p.request.path, "/a");
    EXPECT_EQ(p.request.version, "");
    EXPECT_EQ(p.request.headers.Get("X-Injected"), "1");
    p = Parse("GET http://h/a?q\nX: 1\n\n");
    ASSERT_EQ(p.result, EParseResult::proceed);
    EXPECT_EQ(p.request.query, "q");
    EXPECT_EQ(p.request.headers.Get("X"), "1");
    // A versionless request.
    p = Parse("GET http://h/x?\r\n");
    ASSERT_EQ(p.result, EParseResult::proceed);
    EXPECT_EQ(p.request.path, "/x?");
    EXPECT_EQ(p.request.version, "");

    for (const std::string& head :
         {"GET http://h/a\x01 HTTP/1.0\r\n\r\n"s, "G\tET http://h/ HTTP/1.0\r\n\r\n"s,
          "GET http://h\0/ HTTP/1.0\r\n\r\n"s, "GET http://h/?a\x7f HTTP/1.0\r\n\r\n"s,
          "GET http://h/ HTTP/1.0\x0b\r\n\r\n"s, "GET ht\x1btp://h/ HTTP/1.0\r\n\r\n"s}) {
        SCOPED_TRACE(head);
        EXPECT_EQ(Parse(head).result, EParseResult::malformed);
    }
}

TEST(WWWRequestTest, BrokenRequestLinesAreMalformed) {
    for (const std::string& head :
         {""s, "\r\n\r\n"s, "GET\r\n\r\n"s, "GET http\r\n\r\n"s, " http://h/ HTTP/1.0\r\n\r\n"s,
          "GET  http://h/ HTTP/1.0\r\n\r\n"s, "GET * HTTP/1.1\r\n\r\n"s,
          "GET mailto:x HTTP/1.0\r\n\r\n"s, "GET http:/h/ HTTP/1.0\r\n\r\n"s,
          "GET http: HTTP/1.0\r\n\r\n"s, "GET ://h/ HTTP/1.0\r\n\r\n"s,
          "GET http:///x HTTP/1.0\r\n\r\n"s, "CONNECT :443 HTTP/1.0\r\n\r\n"s,
          "GET http://u@/x HTTP/1.0\r\n\r\n"s}) {
        SCOPED_TRACE(head);
        EXPECT_EQ(Parse(head).result, EParseResult::malformed);
    }
}

TEST(WWWRequestTest, PortTextMustBeDigitsInRange) {
    for (const char* port : {"1", "65535", "080", "0000000000443"}) {
        SCOPED_TRACE(port);
        EXPECT_EQ(Parse("GET http://h:"s + port + "/ HTTP/1.0\r\n\r\n").result,
                  EParseResult::proceed);
    }
    for (const char* port : {"", "0", "00", "65536", "99999999999", "8a", "-1", "+80", " 80",
                             "80:90", "0x50"}) {
        SCOPED_TRACE(port);
        EXPECT_EQ(Parse("GET http://h:"s + port + "/ HTTP/1.0\r\n\r\n").result,
                  EParseResult::malformed);
    }
    EXPECT_EQ(Parse("GET http://h:0000000000443/ HTTP/1.0\r\n\r\n").request.port, 443u);
}

TEST(WWWRequestTest, BodyPlan) {
    auto plan = [](const std::string& head) {
        SParsed p = Parse(head);
        return std::make_pair(p.result, std::make_pair(p.request.bodyKind, p.request.bodyLength));
    };
    using Plan = std::pair<EParseResult, std::pair<EBodyKind, std::uint64_t>>;
    EXPECT_EQ(plan("GET http://h/ HTTP/1.0\r\n\r\n"),
              Plan(EParseResult::proceed, {EBodyKind::none, 0}));
    EXPECT_EQ(plan("POST http://h/ HTTP/1.0\r\n\r\n"),
              Plan(EParseResult::proceed, {EBodyKind::none, 0}));
    EXPECT_EQ(plan("DELETE http://h/ HTTP/1.0\r\nContent-Length: 12 \r\n\r\n"),
              Plan(EParseResult::proceed, {EBodyKind::length, 12}));
    EXPECT_EQ(plan("PUT http://h/ HTTP/1.0\r\ncontent-length: 7\r\nContent-Length: 007\r\n\r\n"),
              Plan(EParseResult::proceed, {EBodyKind::length, 7}));
    EXPECT_EQ(plan("PATCH http://h/ HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"),
              Plan(EParseResult::proceed, {EBodyKind::untilClose, 0}));
    EXPECT_EQ(plan("CONNECT h:443 HTTP/1.1\r\n\r\n"),
              Plan(EParseResult::proceed, {EBodyKind::untilClose, 0}));
    for (const char* head :
         {"POST http://h/ HTTP/1.0\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n",
          "POST http://h/ HTTP/1.0\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n",
          "POST http://h/ HTTP/1.0\r\nContent-Length: -5\r\n\r\n",
          "POST http://h/ HTTP/1.0\r\nContent-Length: 5, 5\r\n\r\n",
          "POST http://h/ HTTP/1.0\r\nContent-Length:\r\n\r\n",
          "POST http://h/ HTTP/1.0\r\nContent-Length: 9999999999999999999\r\n\r\n"}) {
        SCOPED_TRACE(head);
        EXPECT_EQ(Parse(head).result, EParseResult::malformed);
    }
}

TEST(WWWRequestTest, PostBodyIsTheBodyThatCameWithTheHead) {
    const std::string head = "POST http://h/f HTTP/1.0\r\nContent-Length: 7\r\n\r\n";
    EXPECT_EQ(Parse(head, {}, "a=1&b=2").request.postBody, "a=1&b=2");
    EXPECT_EQ(Parse("post http://h/f HTTP/1.0\r\n\r\n", {}, "x").request.postBody, "x");
    EXPECT_EQ(Parse("GET http://h/f HTTP/1.0\r\n\r\n", {}, "x").request.postBody, "");
}

TEST(WWWRequestTest, ParsingStartsAfresh) {
    CWWWRequest request;
    ASSERT_EQ(ParseRequest("GET http://a/x?q HTTP/1.0\r\nA: 1\r\n\r\n", "", {}, request),
              EParseResult::proceed);
    ASSERT_EQ(ParseRequest("GET http://b/ HTTP/1.0\r\n\r\n", "", {}, request),
              EParseResult::proceed);
    EXPECT_EQ(request.host, "b");
    EXPECT_EQ(request.query, "");
    EXPECT_TRUE(request.headers.Empty());
}

TEST(WWWRequestTest, VariablesForRequestCriteria) {
    SParsed p = Parse("POST http://h:81/p/q?x=1 HTTP/1.0\r\nCookie: c=1\r\n\r\n", {}, "body");
    ASSERT_EQ(p.result, EParseResult::proceed);
    const std::pair<DWORD, const char*> answered[] = {
        {12, "HTTP"}, {13, "POST"}, {14, "/p/q"}, {15, "h:81/p/q"}, {16, "body"}, {17, "x=1"},
    };
    for (const auto& [index, text] : answered) {
        CNVDataObject data(DWORD{7});
        EXPECT_TRUE(GetWebRequestValue(p.request, index, data)) << index;
        EXPECT_EQ(data.DataType, CNVDataObject::TypeString) << index;
        EXPECT_EQ(data.strData, text) << index;
    }
    CNVDataObject data(DWORD{7});
    EXPECT_TRUE(GetWebRequestValue(p.request, 18, data));
    for (DWORD index : {0u, 2u, 11u, 19u, 24u, 1000u})
        EXPECT_FALSE(GetWebRequestValue(p.request, index, data)) << index;
    EXPECT_EQ(data.DataType, CNVDataObject::TypeDWORD);
    EXPECT_EQ(data.dwData, 7u);
    GetWebRequestVariable(p.request, "COOKIE", data);
    EXPECT_EQ(data.DataType, CNVDataObject::TypeString);
    EXPECT_EQ(data.strData, "c=1");
    GetWebRequestVariable(p.request, "Referer", data);
    EXPECT_EQ(data.strData, "");

    p.request.protocolCode = 99;
    GetWebRequestValue(p.request, 12, data);
    EXPECT_EQ(data.strData, "");
    p.request.protocolCode = PROTOCOL_SSL;
    GetWebRequestValue(p.request, 12, data);
    EXPECT_EQ(data.strData, "SSL");
}

TEST(WWWRequestTest, ProtocolCodesByScheme) {
    const std::pair<const char*, DWORD> codes[] = {
        {"", PROTOCOL_NONE},       {"x", PROTOCOL_UNKNOWN},  {"http", PROTOCOL_HTTP},
        {"HtTpS", PROTOCOL_HTTPS}, {"ftp", PROTOCOL_FTP},    {"Gopher", PROTOCOL_GOPHER},
        {"wais", PROTOCOL_WAIS},   {"ssl", PROTOCOL_SSL},    {"NONE", PROTOCOL_UNKNOWN},
        {"httpx", PROTOCOL_UNKNOWN},
    };
    for (const auto& [scheme, code] : codes)
        EXPECT_EQ(GetProtocolCode(scheme), code) << scheme;
    const char* names[] = {"NONE", "UNKNOWN", "HTTP", "HTTPS", "FTP", "GOPHER", "WAIS", "SSL"};
    for (DWORD code = 0; code < 8; ++code)
        EXPECT_STREQ(GetProtocolName(code), names[code]);
    EXPECT_STREQ(GetProtocolName(8), "");
}

TEST(WWWRequestTest, HeaderListOperations) {
    CHeaderList list;
    list.Add("A", "1");
    list.Add("b", "2");
    list.Add("a", "3");
    EXPECT_EQ(list.Get("a"), "1");
    EXPECT_EQ(list.Count("A"), 2u);
    list.Set("B", "4");
    EXPECT_EQ(list.Format(), "A: 1\r\nb: 4\r\na: 3\r\n");
    list.Set("C", "5");
    EXPECT_EQ(list.Format(), "A: 1\r\nb: 4\r\na: 3\r\nC: 5\r\n");
    EXPECT_TRUE(list.Remove("a"));
    EXPECT_EQ(list.Format(), "b: 4\r\na: 3\r\nC: 5\r\n");
    list.Add("A", "6");
    list.SetUnique("a", "7");
    EXPECT_EQ(list.Format(), "b: 4\r\na: 7\r\nC: 5\r\n");
    EXPECT_EQ(list.RemoveAll("c"), 1u);
    EXPECT_FALSE(list.Remove("c"));
    EXPECT_EQ(list.Get("c"), "");
}

}  // namespace
