#include "proxies/web/ErrorPage.h"

#include "foundation/RegistryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

class ErrorPageTest : public ::testing::Test {
protected:
    TempStateDir state;
    void SetUp() override { SetRegistryRoot("Urvo Software", "Norvane 2"); }
};

TEST_F(ErrorPageTest, PageBytes) {
    EXPECT_EQ(BuildErrorPage(EPageStatus::forbidden, "Access Denied",
                             "You do not have sufficient rights for access to this resource"),
              "HTTP/1.0 403 Forbidden\r\n"
              "Pragma: no-cache\r\n"
              "\r\n"
              "<HTML><HEAD><TITLE>Access Denied</TITLE></HEAD>\r\n"
              "<BODY><H1>Access Denied</H1><P><P>You do not have sufficient rights for access "
              "to this resource\r\n"
              "</BODY></HTML>\r\n");
    EXPECT_EQ(BuildErrorPage(EPageStatus::badGateway, "", ""),
              "HTTP/1.0 502 Bad Gateway\r\nPragma: no-cache\r\n\r\n<HTML><HEAD><TITLE></TITLE></HEAD>\r\n"
              "<BODY><H1></H1><P><P>\r\n</BODY></HTML>\r\n");
}

TEST_F(ErrorPageTest, DefaultsWhenNothingIsConfigured) {
    const std::pair<SErrorText, const char*> texts[] = {
        {kAccessDeniedTitle, "Access Denied"},
        {kAccessDeniedDescription, "You do not have sufficient rights for access to this resource"},
        {kProtocolErrorTitle, "Protocol Error"},
        {kProtocolErrorDescription, "Only HTTP, FTP and SSL are currently supported"},
        {kMalformedRequestTitle, "Browser Error"},
        {kMalformedRequestDescription, "Your Browser sent a malformed request"},
        {kSocketErrorTitle, "Socket Error"},
        {kAnonymousAccessDeniedTitle, "Access Denied"},
        {kAnonymousAccessDeniedDescription, "Anonymous Access Denied"},
        {kGatewayTimeoutTitle, "FTP Error"},
        {kGatewayTimeoutDescription, "FTP Session has timed out"},
        {kFileAccessDeniedTitle, "Access Denied"},
        {kFileAccessDeniedDescription, "File not found or access denied"},
    };
    for (const auto& [text, expected] : texts)
        EXPECT_EQ(ReadErrorText(text), expected) << text.valueName;
    EXPECT_EQ(BuildErrorPage(EPageStatus::badRequest, kMalformedRequestTitle,
                             kMalformedRequestDescription),
              "HTTP/1.0 400 Bad Request\r\nPragma: no-cache\r\n\r\n"
              "<HTML><HEAD><TITLE>Browser Error</TITLE></HEAD>\r\n"
              "<BODY><H1>Browser Error</H1><P><P>Your Browser sent a malformed request\r\n"
              "</BODY></HTML>\r\n");
}

TEST_F(ErrorPageTest, ConfiguredTextsAreReadEachTimeAndEscaped) {
    ASSERT_TRUE(RegWriteString("ErrorStrings\\HTTP", "FileAccessDeniedTitle", "Nope"));
    EXPECT_EQ(ReadErrorText(kFileAccessDeniedTitle), "Nope");
    ASSERT_TRUE(RegWriteString("ErrorStrings\\HTTP", "FileAccessDeniedTitle",
                               "<script>alert('x')</script> & \"more\""));
    ASSERT_TRUE(RegWriteString("ErrorStrings\\HTTP", "FileAccessDeniedDescription", "a\0b"s));
    EXPECT_EQ(BuildErrorPage(EPageStatus::notFound, kFileAccessDeniedTitle,
                             kFileAccessDeniedDescription),
              "HTTP/1.0 404 Not Found\r\nPragma: no-cache\r\n\r\n"
              "<HTML><HEAD><TITLE>&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; "
              "&quot;more&quot;</TITLE></HEAD>\r\n"
              "<BODY><H1>&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; "
              "&quot;more&quot;</H1><P><P>ab\r\n</BODY></HTML>\r\n");
    // An empty stored text is used as it is; a removed one falls back to the default.
    ASSERT_TRUE(RegWriteString("ErrorStrings\\HTTP", "FileAccessDeniedTitle", ""));
    EXPECT_EQ(ReadErrorText(kFileAccessDeniedTitle), "");
    ASSERT_TRUE(RegWriteString("ErrorStrings\\HTTP", "FileAccessDeniedTitle", nullptr));
    EXPECT_EQ(ReadErrorText(kFileAccessDeniedTitle), "Access Denied");
    // A huge stored text is cut.
    ASSERT_TRUE(RegWriteString("ErrorStrings\\HTTP", "SocketErrorTitle", std::string(100000, 'x')));
    EXPECT_EQ(ReadErrorText(kSocketErrorTitle), std::string(kMaxErrorTextLength, 'x'));
}

TEST_F(ErrorPageTest, SocketErrorTextIsEscapedToo) {
    EXPECT_EQ(BuildErrorPage(EPageStatus::badGateway, ReadErrorText(kSocketErrorTitle),
                             "Connect to <h> failed"),
              "HTTP/1.0 502 Bad Gateway\r\nPragma: no-cache\r\n\r\n"
              "<HTML><HEAD><TITLE>Socket Error</TITLE></HEAD>\r\n"
              "<BODY><H1>Socket Error</H1><P><P>Connect to &lt;h&gt; failed\r\n</BODY></HTML>\r\n");
}

TEST_F(ErrorPageTest, EveryPageSaysWhatHappenedInItsStatusLine) {
    const std::pair<EPageStatus, const char*> statuses[] = {
        {EPageStatus::badRequest, "HTTP/1.0 400 Bad Request"},
        {EPageStatus::forbidden, "HTTP/1.0 403 Forbidden"},
        {EPageStatus::notFound, "HTTP/1.0 404 Not Found"},
        {EPageStatus::notImplemented, "HTTP/1.0 501 Not Implemented"},
        {EPageStatus::badGateway, "HTTP/1.0 502 Bad Gateway"},
        {EPageStatus::gatewayTimeout, "HTTP/1.0 504 Gateway Timeout"},
    };
    for (const auto& [status, line] : statuses) {
        EXPECT_STREQ(StatusLine(status), line);
        EXPECT_EQ(BuildErrorPage(status, "t", "d").rfind(std::string(line) + "\r\nPragma: no-cache\r\n\r\n", 0), 0u);
    }
    EXPECT_EQ(SocketErrorStatus(10060), EPageStatus::gatewayTimeout);
    for (int code : {0, 10022, 10061, 10065})
        EXPECT_EQ(SocketErrorStatus(code), EPageStatus::badGateway) << code;
}

}  // namespace
