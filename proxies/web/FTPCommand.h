#pragma once
// The FTP commands the web session sends when it fetches an ftp:// URL for a browser.

#include "platform/kernel/Types.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Command codes; the session keeps the code of the last one sent.
enum EFTPCommand : DWORD {
    FTP_NONE = 0,  // nothing sent yet (connected)
    FTP_NOOP = 1,
    FTP_USER = 2,
    FTP_PASS = 3,
    FTP_PASV = 4,
    FTP_CWD = 5,
    FTP_PWD = 6,
    FTP_LIST = 7,
    FTP_TYPE_I = 8,
    FTP_RETR = 9,
    FTP_STOR = 10,
    FTP_SIZE = 11,
    FTP_SYST = 12,
    FTP_QUIT = 13,
};

// Longest argument a command carries.
inline constexpr std::size_t kMaxFTPArgument = 4096;

// The command line for `code` ("USER %s\r\n", "PWD \r\n", ...; an unknown code is NOOP).
// Commands without an argument ignore `argument`. None when the argument holds CR, LF or
// NUL, or is longer than kMaxFTPArgument: nothing a URL carries can add a command.
std::optional<std::string> BuildFTPCommand(DWORD code, std::string_view argument = {});

// The command line as the service log shows it: a password is never written.
std::string FTPCommandForLog(DWORD code, const std::string& line);
