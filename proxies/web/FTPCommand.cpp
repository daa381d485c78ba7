#include "proxies/web/FTPCommand.h"

#include "proxies/web/UrlText.h"

namespace {

struct SCommand {
    const char* verb;
    bool takesArgument;
};

// By code, 0 to 13; code 0 and unknown codes send NOOP.
constexpr SCommand kCommands[] = {
    {"NOOP", false}, {"NOOP", false}, {"USER", true}, {"PASS", true},  {"PASV", false},
    {"CWD", true},   {"PWD ", false}, {"LIST", false}, {"TYPE I", false}, {"RETR", true},
    {"STOR", true},  {"SIZE", true},  {"SYST", false}, {"QUIT", false},
};

constexpr const char* kHiddenPassword = "PASS ****\r\n";

}  // namespace

std::optional<std::string> BuildFTPCommand(DWORD code, std::string_view argument) {
    const SCommand& command =
        code < std::size(kCommands) ? kCommands[code] : kCommands[FTP_NOOP];
    std::string line = command.verb;
    if (command.takesArgument) {
        if (argument.size() > kMaxFTPArgument || HasLineBreakOrNul(argument))
            return std::nullopt;
        line += ' ';
        line += argument;
    }
    line += "\r\n";
    return line;
}

std::string FTPCommandForLog(DWORD code, const std::string& line) {
    return code == FTP_PASS ? kHiddenPassword : line;
}
