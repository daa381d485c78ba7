#include "proxies/ftp/FTPClientCommand.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {

TEST(FTPClientCommandTest, CommandsByTheirWordInAnyCase) {
    EXPECT_EQ(ClassifyCommand("user anonymous@host"), EFTPClientCommand::user);
    EXPECT_EQ(ClassifyCommand("  Port 1,2,3,4,5,6"), EFTPClientCommand::port);
    EXPECT_EQ(ClassifyCommand("PASV"), EFTPClientCommand::pasv);
    EXPECT_EQ(ClassifyCommand("quit"), EFTPClientCommand::quit);
    EXPECT_EQ(ClassifyCommand("Feat"), EFTPClientCommand::feat);
    for (const char* line :
         {"EPSV ALL", "eprt |1|127.0.0.1|1025|", "LPSV", "LPRT 4,4,1", "AUTH TLS", "adat x",
          "PBSZ 0", "PROT P", "CCC", "MIC x", "CONF x", "ENC x"})
        EXPECT_EQ(ClassifyCommand(line), EFTPClientCommand::extended) << line;
    for (const char* line : {"USERS a@b", "PAS", "\xff\xf4\xff\xf2" "ABOR"})
        EXPECT_EQ(ClassifyCommand(line), EFTPClientCommand::other) << line;
    EXPECT_EQ(ClassifyCommand(" \t "), EFTPClientCommand::empty);
}

TEST(FTPClientCommandTest, FeatureLinesOfWhatTheGatewayDoesNotCarry) {
    for (const char* line : {" EPSV", " EPRT", "  lpsv", " LPRT", " AUTH TLS", " PBSZ", " PROT",
                             " CCC", "211-EPSV", "211-AUTH SSL"})
        EXPECT_TRUE(IsUncarriedFeature(line)) << line;
    for (const char* line : {"211-Features:", " MDTM", " SIZE", " MLST type*;size*;", " UTF8",
                             " REST STREAM", " EPSVX", " TVFS", "211-MDTM", ""})
        EXPECT_FALSE(IsUncarriedFeature(line)) << line;
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
        {"USER a@b:", nullptr},      {"USER a@b:0", nullptr},   {"USER a@b:65536", nullptr},
        {"USER a@b:21x", nullptr},   {"USER @host", nullptr},   {"USER user@", nullptr},
        {"USER us\ter@h", nullptr},  {"USER u@h\x01", nullptr}, {"USER anonymous", nullptr},
    };
    for (const SCase& c : cases) {
        const auto target = ParseUserLine(c.line, {});
        ASSERT_EQ(target.has_value(), c.user != nullptr) << c.line;
        if (target) {
            EXPECT_EQ(std::tie(target->user, target->host, target->port, target->nonProxy),
                      std::make_tuple(std::string(c.user), std::string(c.host), c.port, false));
        }
    }
    // Non-proxy action 1: the whole argument logs on to the service's server.
    const auto target = ParseUserLine("USER anonymous", {1, "inner.example", 2100});
    ASSERT_TRUE(target);
    EXPECT_EQ(std::tie(target->user, target->host, target->port, target->nonProxy),
              std::make_tuple(std::string("anonymous"), std::string("inner.example"), 2100u, true));
    EXPECT_FALSE(ParseUserLine("USER", {1, "inner.example", 2100}));
    EXPECT_FALSE(ParseUserLine("USER anonymous", {1, "", 2100}));
    EXPECT_FALSE(ParseUserLine("USER anonymous", {2, "inner.example", 2100}));
}

TEST(FTPClientCommandTest, PortLines) {
    const auto parsed = ParsePortLine("port  10,0,0,5,4,1 ");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->address, 0x0A000005u);
    EXPECT_EQ(parsed->port, 1025u);
    for (const char* line : {"PORT", "PORT 10,0,0,5,4", "PORT 10,0,0,5,4,1,7", "PORT 10,0,0,5,0,0",
                             "PORT 10,0,0,256,4,1", "PORT 10,0,0,5,4,1x", "PORT (10,0,0,5,4,1)"})
        EXPECT_FALSE(ParsePortLine(line)) << line;
}

}  // namespace
