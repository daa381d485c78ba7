#include "proxies/ftp/FTPClientCommand.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FTPClientCommandTest, CommandsByTheirWordInAnyCase) {
    const std::pair<const char*, EFTPClientCommand> cases[] = {
        {"user anonymous@host", EFTPClientCommand::user},
        {"USER", EFTPClientCommand::user},
        {"  Port 1,2,3,4,5,6", EFTPClientCommand::port},
        {"PASV", EFTPClientCommand::pasv},
        {"quit", EFTPClientCommand::quit},
        {"EPSV ALL", EFTPClientCommand::extended},
        {"eprt |1|127.0.0.1|1025|", EFTPClientCommand::extended},
        {"LPSV", EFTPClientCommand::extended},
        {"LPRT 4,4,127,0,0,1,2,4,1", EFTPClientCommand::extended},
        {"USERS x@y", EFTPClientCommand::other},
        {"PAS", EFTPClientCommand::other},
        {"\xff\xf4\xff\xf2" "ABOR", EFTPClientCommand::other},
        {"", EFTPClientCommand::empty},
        {" \t ", EFTPClientCommand::empty},
    };
    for (const auto& [line, command] : cases)
        EXPECT_EQ(ClassifyCommand(line), command) << line;
}

TEST(FTPClientCommandTest, UserLinesNameTheServer) {
    struct SCase {
        const char* line;
        const char* user;  // nullptr: refused
        const char* host = "";
        UINT port = 0;
    };
    const SCase cases[] = {
        {"USER anonymous@server:2121", "anonymous", "server", 2121},
        {"user ftp@ftp.example.org  ", "ftp", "ftp.example.org", 21},
        // The last '@' splits: a user name may hold one.
        {"USER me@corp.example@10.0.0.5:65535", "me@corp.example", "10.0.0.5", 65535},
        {"USER a@b:21", "a", "b", 21},
        {"USER a@b:", nullptr},
        {"USER a@b:0", nullptr},
        {"USER a@b:65536", nullptr},
        {"USER a@b:21x", nullptr},
        {"USER a@b:-21", nullptr},
        {"USER @host", nullptr},
        {"USER user@", nullptr},
        {"USER us\ter@host", nullptr},
        {"USER user@ho\x01st", nullptr},
        {"USER anonymous", nullptr},  // no server, non-proxy requests refused
        {"USER", nullptr},
    };
    for (const SCase& c : cases) {
        const auto target = ParseUserLine(c.line, {});
        if (!c.user) {
            EXPECT_FALSE(target) << c.line;
            continue;
        }
        ASSERT_TRUE(target) << c.line;
        EXPECT_EQ(target->user, c.user);
        EXPECT_EQ(target->host, c.host);
        EXPECT_EQ(target->port, c.port);
        EXPECT_FALSE(target->nonProxy);
    }

    // Non-proxy action 1: the whole argument logs on to the service's server.
    const SFTPNonProxyTarget forward{1, "inner.example", 2100};
    const auto target = ParseUserLine("USER anonymous", forward);
    ASSERT_TRUE(target);
    EXPECT_EQ(target->user, "anonymous");
    EXPECT_EQ(target->host, "inner.example");
    EXPECT_EQ(target->port, 2100u);
    EXPECT_TRUE(target->nonProxy);
    EXPECT_FALSE(ParseUserLine("USER", forward));
    EXPECT_FALSE(ParseUserLine("USER anonymous", {1, "", 2100}));
    EXPECT_FALSE(ParseUserLine("USER anonymous", {1, "inner.example", 0}));
    EXPECT_FALSE(ParseUserLine("USER anonymous", {2, "inner.example", 2100}));
}

TEST(FTPClientCommandTest, PortLines) {
    const auto parsed = ParsePortLine("PORT 10,0,0,5,4,1");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->address, 0x0A000005u);
    EXPECT_EQ(parsed->port, 1025u);
    EXPECT_TRUE(ParsePortLine("port  10,0,0,5,255,255 "));
    for (const char* line : {"PORT", "PORT 10,0,0,5,4", "PORT 10,0,0,5,4,1,7", "PORT 10,0,0,5,0,0",
                             "PORT 10,0,0,256,4,1", "PORT 10,0,0,5,4,1x", "PORT (10,0,0,5,4,1)"})
        EXPECT_FALSE(ParsePortLine(line)) << line;
}

}  // namespace
