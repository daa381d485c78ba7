#include "platform/net/HostAddresses.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

TEST(HostAddressesTest, LoopbackNetworkAndOwnInterfacesAreThisHost) {
    std::vector<DWORD> own;
    ASSERT_TRUE(LocalInterfaceAddresses(&own));
    EXPECT_NE(std::find(own.begin(), own.end(), 0x7F000001u), own.end());
    for (DWORD a : own) {
        bool local = false;
        ASSERT_TRUE(IsThisHostAddress(a, &local));
        EXPECT_TRUE(local) << a;
    }
    bool local = false;
    EXPECT_TRUE(IsThisHostAddress(0x7F0A0B0C, &local));  // 127.10.11.12: not on any interface
    EXPECT_TRUE(local);
    EXPECT_TRUE(IsLoopbackAddress(0x7FFFFFFF));
    EXPECT_FALSE(IsLoopbackAddress(0x80000001));
    // 192.0.2.1 is a documentation address no host carries.
    ASSERT_TRUE(IsThisHostAddress(0xC0000201, &local));
    EXPECT_FALSE(local);
}

}  // namespace
