#include "engine/framework/UpstreamSocks4.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Raw(std::initializer_list<unsigned char> bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(UpstreamSocks4Test, RequestBytesAreVersionCommandPortAddressUserIdAndNul) {
    // 192.168.1.20:443, user id "alice".
    EXPECT_EQ(CUpstreamSocks4::BuildRequest(0xC0A80114, 443, "alice"),
              Raw({0x04, 0x01, 0x01, 0xBB, 0xC0, 0xA8, 0x01, 0x14}) + "alice" + std::string(1, '\0'));
    // An empty password: nine bytes ending in a single NUL.
    EXPECT_EQ(CUpstreamSocks4::BuildRequest(0x0A000001, 80, ""),
              Raw({0x04, 0x01, 0x00, 0x50, 0x0A, 0x00, 0x00, 0x01, 0x00}));
    EXPECT_EQ(CUpstreamSocks4::BuildRequest(0xFFFFFFFE, 65535, "").substr(2, 6),
              Raw({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}));
}

TEST(UpstreamSocks4Test, TheUserIdIsCutAtEightyBytesAndAtItsFirstNul) {
    const std::string hundred(100, 'p');
    const std::string request = CUpstreamSocks4::BuildRequest(0x7F000001, 1080, hundred);
    ASSERT_EQ(request.size(), 89u);
    EXPECT_EQ(request.substr(8, 80), std::string(80, 'p'));
    EXPECT_EQ(request.back(), '\0');
    EXPECT_EQ(CUpstreamSocks4::BuildRequest(0x7F000001, 1080, std::string(80, 'q')).size(), 89u);
    EXPECT_EQ(CUpstreamSocks4::BuildRequest(0x7F000001, 1080, std::string(79, 'q')).size(), 88u);

    const std::string withNul("ab\0cd", 5);
    EXPECT_EQ(CUpstreamSocks4::BuildRequest(0x7F000001, 1080, withNul).substr(8), std::string("ab\0", 3));
}

TEST(UpstreamSocks4Test, OnlyReplyCodeNinetyGrants) {
    unsigned char reply[8] = {0x00, 90, 0x1F, 0x90, 0x0A, 0x01, 0x02, 0x03};
    EXPECT_TRUE(CUpstreamSocks4::IsGranted(reply));
    reply[0] = 0x04;  // the version byte is not looked at
    EXPECT_TRUE(CUpstreamSocks4::IsGranted(reply));
    for (int code : {91, 92, 93, 0, 89, 94, 255}) {
        reply[1] = static_cast<unsigned char>(code);
        EXPECT_FALSE(CUpstreamSocks4::IsGranted(reply)) << code;
    }
}

}  // namespace
