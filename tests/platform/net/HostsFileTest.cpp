#include "platform/net/HostsFile.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>

namespace {

TEST(HostsFileTest, NamesOfIPv4LinesAreListedWithoutRegardToCaseAndFollowTheFile) {
    const CHostsFile::Names names = CHostsFile::ParseNames(
        "# comment 10.0.0.9 commented\n"
        "127.0.0.1\tlocalhost  Box.Example box # alias\r\n"
        "  10.1.2.3 gateway\n"
        "::1 ip6-localhost\n"
        "10.1.2 short\n"
        "not-an-address name\n"
        "\n"
        "192.168.0.1");
    EXPECT_EQ(names, (CHostsFile::Names{"localhost", "Box.Example", "box", "gateway"}));

    TempDir dir;
    const std::string path = dir.Path() + "/hosts";
    CHostsFile hosts(path, std::chrono::milliseconds(0));
    EXPECT_FALSE(hosts.Lists("localhost"));  // no file: nothing listed
    std::ofstream(path) << "127.0.0.1 localhost printer.lan\n";
    EXPECT_TRUE(hosts.Lists("LOCALHOST"));
    EXPECT_TRUE(hosts.Lists("printer.lan"));
    EXPECT_FALSE(hosts.Lists("printer.lan."));  // the resolver asks the network for this one
    EXPECT_FALSE(hosts.Lists("printer"));
    std::ofstream(path) << "10.0.0.7 scanner.lan\n";  // another size: read again
    EXPECT_FALSE(hosts.Lists("printer.lan"));
    EXPECT_TRUE(hosts.Lists("scanner.lan"));
}

}  // namespace
