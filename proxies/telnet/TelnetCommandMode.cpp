#include "proxies/telnet/TelnetCommandMode.h"

#include "foundation/PortText.h"
#include "proxies/telnet/TelnetFormat.h"

#include <algorithm>
#include <cctype>

using namespace TelnetFormat;

namespace {

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

bool EqualsIgnoringCase(std::string_view text, std::string_view word) {
    return text.size() == word.size() &&
           std::equal(text.begin(), text.end(), word.begin(), [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) == b;
           });
}

}  // namespace

STelnetTarget ParseTelnetTarget(std::string_view line) {
    line = TrimSpaces(line);
    STelnetTarget target;
    std::size_t split = line.rfind(':');
    if (split == std::string_view::npos)
        split = line.rfind(' ');
    if (split == std::string_view::npos) {
        target.host = std::string(line);
        target.port = kTelnetPort;
        return target;
    }
    target.host = std::string(TrimSpaces(line.substr(0, split)));
    const std::optional<DWORD> port = ParsePortText(line.substr(split + 1));
    target.portValid = port.has_value();
    target.port = port.value_or(0);
    return target;
}

bool IsQuitCommand(std::string_view host) {
    return EqualsIgnoringCase(host, kQuitCommand) || EqualsIgnoringCase(host, kExitCommand);
}

bool CTelnetCommandMode::Feed(BYTE byte, std::string& out) {
    const CTelnetOptionReader::SInput input = m_reader.Feed(byte);
    switch (input.kind) {
    case CTelnetOptionReader::SInput::EKind::none: return false;
    case CTelnetOptionReader::SInput::EKind::negotiation:
        AnswerOption(input.verb, input.option, out);
        return false;
    case CTelnetOptionReader::SInput::EKind::data: break;
    }
    if (input.data == kNul || input.data == kLineFeed) {
        EchoByte(kReturn, out);
        EchoByte(kLineFeed, out);
        if (!m_commandLine.empty())
            return true;
        SendPrompt(out);
        return false;
    }
    Edit(input.data, out);
    return false;
}

void CTelnetCommandMode::Edit(BYTE byte, std::string& out) {
    switch (byte) {
    case kReturn: return;
    case kBackspace:
    case kDelete:
        if (!m_commandLine.empty()) {
            EchoByte(kBackspace, out);
            EchoByte(kSpace, out);
            EchoByte(kBackspace, out);
            m_commandLine.pop_back();
        }
        return;
    default:
        if (m_commandLine.size() >= kMaxCommandLine)
            return;
        EchoByte(byte, out);
        if (byte == kIAC)
            EchoByte(kIAC, out);  // the data byte 255 goes back as IAC IAC
        m_commandLine += static_cast<char>(byte);
        return;
    }
}

std::string CTelnetCommandMode::TakeCommandLine() {
    std::string line;
    line.swap(m_commandLine);
    return line;
}

void CTelnetCommandMode::EchoByte(BYTE byte, std::string& out) const {
    if (m_echo)
        out += static_cast<char>(byte);
}

void CTelnetCommandMode::SendPrompt(std::string& out) const {
    if (m_echo)
        out += kPrompt;
}

void CTelnetCommandMode::AnswerOption(BYTE verb, BYTE option, std::string& out) {
    BYTE answer = 0;  // none
    if (verb == kDO || verb == kDONT) {
        if (option == kOptionEcho) {
            m_echo = verb == kDO;
            answer = m_echo ? kWILL : kWONT;
        } else if (option == kOptionSuppressGoAhead) {
            answer = kWILL;
            verb = kDO;
        } else {
            answer = kWONT;
        }
    }
    if (answer != 0) {
        EchoByte(kIAC, out);
        EchoByte(answer, out);
        EchoByte(option, out);
    }
    if (m_recorded.size() < kMaxRecordedOptions)
        m_recorded.emplace_back(option, verb);
}

std::string CTelnetCommandMode::GetReplay() const {
    std::string replay;
    replay.reserve(m_recorded.size() * 3);
    for (const auto& [option, verb] : m_recorded) {
        replay += static_cast<char>(kIAC);
        replay += static_cast<char>(verb);
        replay += static_cast<char>(option);
    }
    return replay;
}
