#include "proxies/web/FTPCommand.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

TEST(FTPCommandTest, CommandLinesByCode) {
    const std::pair<DWORD, const char*> cases[] = {
        {FTP_NOOP, "NOOP\r\n"},       {FTP_USER, "USER anonymous\r\n"},
        {FTP_PASS, "PASS anonymous\r\n"}, {FTP_PASV, "PASV\r\n"},
        {FTP_CWD, "CWD anonymous\r\n"},  {FTP_PWD, "PWD \r\n"},
        {FTP_LIST, "LIST\r\n"},       {FTP_TYPE_I, "TYPE I\r\n"},
        {FTP_RETR, "RETR anonymous\r\n"}, {FTP_STOR, "STOR anonymous\r\n"},
        {FTP_SIZE, "SIZE anonymous\r\n"}, {FTP_SYST, "SYST\r\n"},
        {FTP_QUIT, "QUIT\r\n"},       {FTP_NONE, "NOOP\r\n"},
        {14, "NOOP\r\n"},             {0xFFFFFFFF, "NOOP\r\n"},
    };
    for (const auto& [code, line] : cases)
        EXPECT_EQ(BuildFTPCommand(code, "anonymous"), line) << code;
    EXPECT_EQ(BuildFTPCommand(FTP_CWD, "/pub/my file.txt"), "CWD /pub/my file.txt\r\n");
    EXPECT_EQ(BuildFTPCommand(FTP_RETR, ""), "RETR \r\n");
}

TEST(FTPCommandTest, ArgumentsThatCouldAddACommandAreRefused) {
    for (const std::string& argument :
         {"a\r\nDELE x"s, "a\nb"s, "a\rb"s, "a\0b"s, std::string(kMaxFTPArgument + 1, 'a')})
        for (DWORD code : {FTP_USER, FTP_PASS, FTP_CWD, FTP_RETR, FTP_STOR, FTP_SIZE})
            EXPECT_FALSE(BuildFTPCommand(code, argument)) << code;
    EXPECT_TRUE(BuildFTPCommand(FTP_CWD, std::string(kMaxFTPArgument, 'a')));
    // Commands without an argument never carry one.
    EXPECT_EQ(BuildFTPCommand(FTP_LIST, "a\r\nb"), "LIST\r\n");
}

TEST(FTPCommandTest, PasswordsNeverReachTheLog) {
    EXPECT_EQ(FTPCommandForLog(FTP_PASS, "PASS secret\r\n"), "PASS ****\r\n");
    EXPECT_EQ(FTPCommandForLog(FTP_USER, "USER u\r\n"), "USER u\r\n");
}

}  // namespace
