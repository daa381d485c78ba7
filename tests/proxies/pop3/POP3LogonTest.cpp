#include "proxies/pop3/POP3Logon.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct SCase {
    const char* line;
    SPOP3LogonSettings settings;
    EPOP3Logon outcome;
    const char* user;
    const char* host;
    UINT port;
    const char* description;
    const char* serverLine;  // the log-on the server gets under the settings' method
};

SPOP3LogonSettings Delimiter(char delimiter) {
    SPOP3LogonSettings settings;
    settings.delimiter = delimiter;
    return settings;
}

SPOP3LogonSettings Method(DWORD method, char delimiter = '#') {
    SPOP3LogonSettings settings = Delimiter(delimiter);
    settings.connectMethod = method;
    return settings;
}

SPOP3LogonSettings Action(DWORD action, DWORD port = 110) {
    SPOP3LogonSettings settings;
    settings.nonProxyAction = action;
    settings.nonProxyHost = "inside";
    settings.nonProxyPort = port;
    return settings;
}

SPOP3LogonSettings WithMethod(SPOP3LogonSettings settings, DWORD method) {
    settings.connectMethod = method;
    return settings;
}

using enum EPOP3Logon;

const SCase kCases[] = {
    {"USER alice#mailhost\r\n", {}, connect, "alice", "mailhost", 110, "POP3: alice at mailhost",
     "USER alice\r\n"},
    {"user alice#mailhost:1110 \t\r\n", {}, connect, "alice", "mailhost", 1110,
     "POP3: alice at mailhost:1110", "USER alice\r\n"},
    {"USER a#b#mailhost\r\n", {}, connect, "a#b", "mailhost", 110, "POP3: a#b at mailhost",
     "USER a#b\r\n"},
    {"USER a#mailhost\r\n", Delimiter('%'), rejected, "a#mailhost", "", 0, "", ""},
    {"USER a%mailhost:2\r\n", Delimiter('%'), connect, "a", "mailhost", 2,
     "POP3: a at mailhost:2", "USER a\r\n"},
    // Through an upstream POP3 proxy: '#' between mailbox and server, whatever the delimiter;
    // a log-on without one is piped as it came.
    {"USER a%mailhost\r\n", Method(1, '%'), connect, "a", "mailhost", 110, "POP3: a at mailhost",
     "USER a#mailhost\r\n"},
    {"USER a%mailhost:995\r\n", Method(1, '%'), connect, "a", "mailhost", 995,
     "POP3: a at mailhost:995", "USER a#mailhost:995\r\n"},
    {"USER bob\r\n", Method(1), connect, "bob", "", 0, "POP3: user bob piped through proxy",
     "USER bob\r\n"},
    // Without a delimiter otherwise: the non-proxy action; 2 and 3 refuse like 0. Under SOCKS 4
    // or a CONNECT tunnel the log-on is not piped, the action decides.
    {"USER bob\r\n", Action(1, 1110), connect, "bob", "inside", 1110, "POP3: bob at inside:1110",
     "USER bob\r\n"},
    {"USER bob\r\n", Action(0), rejected, "bob", "", 0, "", ""},
    {"USER bob\r\n", Action(3), rejected, "bob", "", 0, "", ""},
    {"USER bob\r\n", WithMethod(Action(1), 2), connect, "bob", "inside", 110,
     "POP3: bob at inside", "USER bob\r\n"},
    // Answered before the log-on (CAPA and QUIT have answers of their own).
    {"quit\r\n", {}, quit, "", "", 0, "", ""},
    {"USERalice#mailhost\r\n", {}, notUser, "", "", 0, "", ""},
    {"\r\n", {}, notUser, "", "", 0, "", ""},
    {"USER a#h:0\r\n", {}, badPort, "a", "h", 0, "", ""},
    {"USER a#h:1:2\r\n", {}, badPort, "a", "h", 0, "", ""},
    // Nothing usable.
    {"USER\r\n", {}, badUser, "", "", 0, "", ""},
    {"USER #mailhost\r\n", {}, badUser, "", "mailhost", 0, "", ""},
    {"USER alice#\r\n", {}, badUser, "alice", "", 0, "", ""},
};

TEST(POP3LogonTest, LogOnLines) {
    for (const SCase& c : kCases) {
        SCOPED_TRACE(c.line);
        const SPOP3Logon logon = ParsePOP3Logon(c.line, c.settings);
        EXPECT_EQ(logon.outcome, c.outcome);
        EXPECT_EQ(logon.user, c.user);
        EXPECT_EQ(logon.host, c.host);
        EXPECT_EQ(logon.port, c.port);
        EXPECT_EQ(logon.description, c.description);
        EXPECT_EQ(logon.piped, c.outcome == connect && *c.host == '\0');
        if (c.outcome == connect) {
            EXPECT_EQ(BuildServerUserLine(logon, c.settings.connectMethod), c.serverLine);
        }
    }
}

TEST(POP3LogonTest, TheLogOnLineIsCappedAndItsTextKeptForTheLog) {
    const std::string head = "USER a#";
    std::string line = head + std::string(1024 - head.size() - 2, 'h') + "\r\n";
    EXPECT_EQ(ParsePOP3Logon(line, {}).outcome, EPOP3Logon::connect);
    line.insert(head.size(), "h");
    EXPECT_EQ(ParsePOP3Logon(line, {}).outcome, EPOP3Logon::badUser);
    EXPECT_EQ(ParsePOP3Logon("USER bob  \r\n", Action(0)).text, "USER bob");
}

}  // namespace
