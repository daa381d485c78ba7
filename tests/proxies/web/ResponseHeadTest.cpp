#include "proxies/web/ResponseHead.h"

#include <gtest/gtest.h>

namespace {

constexpr std::int64_t kNow = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT

TEST(ResponseHeadTest, CachedCopyHead) {
    EXPECT_EQ(BuildCachedResourceHead(kNow, "text/html", 0, 1234),
              "HTTP/1.0 200 Document Follows\r\n"
              "Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
              "Server: Norvane Engine\r\n"
              "Content-Type: text/html\r\n"
              "Last-Modified: Thu, 01 Jan 1970 00:00:00 GMT\r\n"
              "Content-Length: 1234\r\n"
              "\r\n");
    // Sizes beyond 31 bits are written unsigned.
    EXPECT_EQ(BuildCachedResourceHead(kNow, "image/gif", kNow, 4294967295u),
              "HTTP/1.0 200 Document Follows\r\n"
              "Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
              "Server: Norvane Engine\r\n"
              "Content-Type: image/gif\r\n"
              "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
              "Content-Length: 4294967295\r\n"
              "\r\n");
}

TEST(ResponseHeadTest, DocumentHeadsWriteOnlyWhatTheyKnow) {
    EXPECT_EQ(BuildDocumentHead({.now = kNow,
                                 .contentType = "text/html",
                                 .lastModified = std::nullopt,
                                 .contentLength = std::nullopt}),
              "HTTP/1.0 200 Document Follows\r\n"
              "Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
              "Server: Norvane Engine\r\n"
              "Content-Type: text/html\r\n"
              "\r\n");
    EXPECT_EQ(BuildDocumentHead({.now = 0,
                                 .contentType = "application/unknown",
                                 .lastModified = std::nullopt,
                                 .contentLength = 0}),
              "HTTP/1.0 200 Document Follows\r\n"
              "Date: Thu, 01 Jan 1970 00:00:00 GMT\r\n"
              "Server: Norvane Engine\r\n"
              "Content-Type: application/unknown\r\n"
              "Content-Length: 0\r\n"
              "\r\n");
}

TEST(ResponseHeadTest, AStoredContentTypeCannotAddALine) {
    EXPECT_EQ(BuildCachedResourceHead(kNow, "text/html\r\nSet-Cookie: x", kNow, 1),
              "HTTP/1.0 200 Document Follows\r\n"
              "Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
              "Server: Norvane Engine\r\n"
              "Content-Type: text/html\r\n"
              "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
              "Content-Length: 1\r\n"
              "\r\n");
    EXPECT_NE(BuildCachedResourceHead(kNow, std::string_view("a\0b", 3), kNow, 1)
                  .find("\r\nContent-Type: a\r\nLast-Modified: "),
              std::string::npos);
}

}  // namespace
