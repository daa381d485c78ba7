#include "proxies/web/WWWResponse.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

CWWWResponse Parse(const std::string& head) {
    CWWWResponse response;
    ParseResponse(head, response);
    return response;
}

TEST(WWWResponseTest, StatusLineAndHeaders) {
    const CWWWResponse r = Parse(
        "HTTP/1.1 200 Document follows here\r\n"
        "Content-Type: text/html\r\n"
        "Content-Length:   12\r\n"
        "X-Empty:\r\n"
        "Set-Cookie: a=1\r\n"
        "Set-Cookie: b=2\r\n"
        "\r\n");
    EXPECT_EQ(r.version, "HTTP/1.1");
    EXPECT_EQ(r.codeText, "200");
    EXPECT_EQ(r.code, 200u);
    EXPECT_EQ(r.reason, "Document follows here");
    EXPECT_EQ(r.headers.Entries(), (Headers{{"Content-Type", "text/html"},
                                            {"Content-Length", "12"},
                                            {"X-Empty", ""},
                                            {"Set-Cookie", "a=1"},
                                            {"Set-Cookie", "b=2"}}));
}

TEST(WWWResponseTest, LineFeedsAloneAndMissingParts) {
    const CWWWResponse lf = Parse("HTTP/1.0 404 Not Found\nServer: x\n\n");
    EXPECT_EQ(lf.code, 404u);
    EXPECT_EQ(lf.reason, "Not Found");
    EXPECT_EQ(lf.headers.Entries(), (Headers{{"Server", "x"}}));

    // A status line without a reason, and one without a code.
    const CWWWResponse noReason = Parse("HTTP/1.0 304\r\nA: b\r\n\r\n");
    EXPECT_EQ(noReason.code, 304u);
    EXPECT_EQ(noReason.reason, "");
    EXPECT_EQ(noReason.headers.Get("A"), "b");
    const CWWWResponse noCode = Parse("HTTP/1.0\r\nA: b\r\n\r\n");
    EXPECT_EQ(noCode.version, "HTTP/1.0");
    EXPECT_EQ(noCode.code, 0u);
    EXPECT_EQ(noCode.headers.Get("A"), "b");

    // A head cut after a header value (a bare 304 head) keeps that header.
    const CWWWResponse cut = Parse("HTTP/1.0 304 Not Modified\r\nDate: x");
    EXPECT_EQ(cut.headers.Entries(), (Headers{{"Date", "x"}}));
}

TEST(WWWResponseTest, LinesWithoutAColonAreDroppedNotJoinedToTheNext) {
    const CWWWResponse r = Parse(
        "HTTP/1.1 200 OK\r\n"
        "garbage line\r\n"
        "Content-Type: text/plain\r\n"
        ": no name\r\n"
        "X\r\n"
        "Y: z\r\n"
        "\r\n");
    EXPECT_EQ(r.headers.Entries(), (Headers{{"Content-Type", "text/plain"}, {"Y", "z"}}));
}

TEST(WWWResponseTest, CarriageReturnsNeverReachAField) {
    const CWWWResponse r = Parse("HTTP/1.1\r 200\r OK\r\r\nA\r: b\rc\r\n\r\n");
    EXPECT_EQ(r.version, "HTTP/1.1");
    EXPECT_EQ(r.code, 200u);
    EXPECT_EQ(r.reason, "OK");
    EXPECT_EQ(r.headers.Entries(), (Headers{{"A", "bc"}}));
}

TEST(WWWResponseTest, ConnectionHeadersAreRemoved) {
    const CWWWResponse r =
        Parse("HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nA: 1\r\nCONNECTION: x\r\n\r\n");
    EXPECT_EQ(r.headers.Entries(), (Headers{{"A", "1"}}));
}

TEST(WWWResponseTest, CodesAreDecimalDigitsOnly) {
    const std::pair<const char*, DWORD> cases[] = {
        {"HTTP/1.0 200 OK\r\n\r\n", 200},       {"HTTP/1.0 099 x\r\n\r\n", 99},
        {"HTTP/1.0 2x0 x\r\n\r\n", 0},          {"HTTP/1.0 -1 x\r\n\r\n", 0},
        {"HTTP/1.0 999999999 x\r\n\r\n", 999999999},
        {"HTTP/1.0 9999999999 x\r\n\r\n", 0},   {"HTTP/1.0  200 x\r\n\r\n", 0},
    };
    for (const auto& [head, code] : cases)
        EXPECT_EQ(Parse(head).code, code) << head;
}

TEST(WWWResponseTest, ParsingResetsTheResponse) {
    CWWWResponse response;
    ParseResponse("HTTP/1.1 500 Bad\r\nA: b\r\n\r\n", response);
    ParseResponse("HTTP/1.0 200 OK\r\n\r\n", response);
    EXPECT_EQ(response.code, 200u);
    EXPECT_EQ(response.reason, "OK");
    EXPECT_TRUE(response.headers.Empty());
}

}  // namespace
