#include "proxies/ftp/FTPClientCommand.h"

#include "engine/framework/OutboundTargetGuard.h"
#include "proxies/ftp/FTPTexts.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::size_t kMaxPortDigits = 5;
constexpr UINT kMaxPort = 65535;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

bool HasControlByte(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 0x20 || b == 0x7F;
    });
}

// The command word and, after the blanks that follow it, the argument.
std::string_view CommandWord(std::string_view line, std::string_view* argument = nullptr) {
    line = TrimBlanks(line);
    const std::size_t blank = line.find_first_of(" \t");
    if (argument)
        *argument = blank == std::string_view::npos ? std::string_view{}
                                                    : TrimBlanks(line.substr(blank));
    return line.substr(0, blank);
}

std::optional<UINT> ParsePortNumber(std::string_view text) {
    if (text.empty() || text.size() > kMaxPortDigits)
        return std::nullopt;
    UINT port = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        port = port * 10 + static_cast<UINT>(c - '0');
    }
    if (port == 0 || port > kMaxPort)
        return std::nullopt;
    return port;
}

bool IsUsableUser(std::string_view user) { return !user.empty() && !HasControlByte(user); }

}  // namespace

EFTPClientCommand ClassifyCommand(std::string_view line) {
    const std::string_view word = CommandWord(line);
    if (word.empty())
        return EFTPClientCommand::empty;
    struct SWord {
        const char* text;
        EFTPClientCommand command;
    };
    static constexpr SWord kWords[] = {
        {"USER", EFTPClientCommand::user},     {"PORT", EFTPClientCommand::port},
        {"PASV", EFTPClientCommand::pasv},     {"QUIT", EFTPClientCommand::quit},
        {"EPSV", EFTPClientCommand::extended}, {"EPRT", EFTPClientCommand::extended},
        {"LPSV", EFTPClientCommand::extended}, {"LPRT", EFTPClientCommand::extended},
        {"AUTH", EFTPClientCommand::extended}, {"ADAT", EFTPClientCommand::extended},
        {"PBSZ", EFTPClientCommand::extended}, {"PROT", EFTPClientCommand::extended},
        {"CCC", EFTPClientCommand::extended},  {"MIC", EFTPClientCommand::extended},
        {"CONF", EFTPClientCommand::extended}, {"ENC", EFTPClientCommand::extended},
        {"FEAT", EFTPClientCommand::feat},
    };
    for (const SWord& known : kWords) {
        if (EqualsIgnoringCase(word, known.text))
            return known.command;
    }
    return EFTPClientCommand::other;
}

bool IsUncarriedFeature(std::string_view line) {
    constexpr std::size_t kCodeAndDash = 4;
    if (FTPReplyCode(line) != 0 && line.size() >= kCodeAndDash && line[kCodeAndDash - 1] == '-')
        line.remove_prefix(kCodeAndDash);
    return ClassifyCommand(line) == EFTPClientCommand::extended;
}

std::optional<SFTPUserTarget> ParseUserLine(std::string_view line,
                                            const SFTPNonProxyTarget& nonProxy) {
    std::string_view argument;
    CommandWord(line, &argument);
    SFTPUserTarget target;
    const std::size_t at = argument.rfind('@');
    if (at == std::string_view::npos) {
        if (nonProxy.action != 1 || !IsUsableUser(argument) || nonProxy.port == 0 ||
            nonProxy.port > kMaxPort ||
            !COutboundTargetGuard::IsAcceptableHostName(nonProxy.host))
            return std::nullopt;
        target.user.assign(argument);
        target.host = nonProxy.host;
        target.port = nonProxy.port;
        target.nonProxy = true;
        return target;
    }
    const std::string_view user = argument.substr(0, at);
    std::string_view host = argument.substr(at + 1);
    target.port = kFTPDefaultServerPort;
    if (const std::size_t colon = host.find(':'); colon != std::string_view::npos) {
        const std::optional<UINT> port = ParsePortNumber(host.substr(colon + 1));
        if (!port)
            return std::nullopt;
        target.port = *port;
        host = host.substr(0, colon);
    }
    target.user.assign(user);
    target.host.assign(host);
    if (!IsUsableUser(user) || !COutboundTargetGuard::IsAcceptableHostName(target.host))
        return std::nullopt;
    return target;
}

std::optional<SFTPHostPort> ParsePortLine(std::string_view line) {
    std::string_view argument;
    CommandWord(line, &argument);
    std::size_t end = 0;
    const std::optional<SFTPHostPort> parsed = ParseHostPort(argument, &end);
    if (!parsed || end != argument.size())
        return std::nullopt;
    return parsed;
}
