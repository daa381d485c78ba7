#include "proxies/telnet/TelnetCommandMode.h"


#include <gtest/gtest.h>

#include <string>

namespace {

constexpr BYTE IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;

std::string B(std::initializer_list<int> bytes) {
    std::string text;
    for (int b : bytes)
        text += static_cast<char>(b);
    return text;
}

// Feeds `input` one byte at a time; returns the answers and the completed lines ("|" after
// each).
std::string Feed(CTelnetCommandMode& mode, const std::string& input) {
    std::string out;
    for (char c : input) {
        if (mode.Feed(static_cast<BYTE>(c), out))
            out += "|" + mode.TakeCommandLine() + "|";
    }
    return out;
}

TEST(TelnetCommandModeTest, OptionAnswersAndTheirRecord) {
    struct {
        std::string input, answers, replay;
        bool echo;
    } cases[] = {
        {B({IAC, DO, 1}), B({IAC, WILL, 1}), B({IAC, DO, 1}), true},
        {B({IAC, DO, 3, IAC, DONT, 3}), B({IAC, WILL, 3, IAC, WILL, 3}), B({IAC, DO, 3, IAC, DO, 3}),
         true},
        {B({IAC, DO, 24, IAC, DONT, 31}), B({IAC, WONT, 24, IAC, WONT, 31}),
         B({IAC, DO, 24, IAC, DONT, 31}), true},
        {B({IAC, WILL, 24, IAC, WONT, 1}), "", B({IAC, WILL, 24, IAC, WONT, 1}), true},
        // DONT ECHO: no answer, and from then on no echo, prompt or answer either.
        {B({IAC, DONT, 1, IAC, DO, 3}) + "ab\n\n", "|ab|", B({IAC, DONT, 1, IAC, DO, 3}), false},
        {B({IAC, DONT, 1, IAC, DO, 1}) + "a", B({IAC, WILL, 1}) + "a",
         B({IAC, DONT, 1, IAC, DO, 1}), true},
        // Subnegotiations and other commands are skipped; IAC IAC is the data byte 255.
        {B({IAC, SB, 24, 0, IAC, IAC, 'x', IAC, SE}) + "a" + B({IAC, 241, IAC, IAC}),
         "a" + B({IAC, IAC}), "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.input));
        CTelnetCommandMode mode;
        EXPECT_EQ(Feed(mode, c.input), c.answers);
        EXPECT_EQ(mode.GetReplay(), c.replay);
        EXPECT_EQ(mode.IsEchoOn(), c.echo);
    }
    // Every negotiation is answered; only the first 256 are recorded.
    CTelnetCommandMode mode;
    std::string many;
    for (int i = 0; i < 300; ++i)
        many += B({IAC, DO, 24});
    EXPECT_EQ(Feed(mode, many).size(), 900u);
    EXPECT_EQ(mode.GetRecordedCount(), 256u);
}

TEST(TelnetCommandModeTest, TheLineHolds255Characters) {
    CTelnetCommandMode mode;
    // The rest is neither kept nor echoed.
    EXPECT_EQ(Feed(mode, std::string(300, 'x')), std::string(255, 'x'));
    EXPECT_EQ(mode.GetCommandLine().size(), 255u);
}

TEST(TelnetCommandModeTest, Targets) {
    struct {
        const char* line;
        const char* host;
        UINT port;
        bool valid;
    } cases[] = {
        {"somehost", "somehost", 23, true},        {"somehost:2323", "somehost", 2323, true},
        {"somehost 2323", "somehost", 2323, true}, {" somehost  2323 ", "somehost", 2323, true},
        {"a b:24", "a b", 24, true},               {"h:99999", "h", 0, false},
        {"h:", "h", 0, false},                     {"h 0", "h", 0, false},
        {"h x", "h", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const STelnetTarget target = ParseTelnetTarget(c.line);
        EXPECT_EQ(target.host, c.host);
        EXPECT_EQ(target.port, c.port);
        EXPECT_EQ(target.portValid, c.valid);
    }
    EXPECT_TRUE(IsQuitCommand("quit"));
    EXPECT_TRUE(IsQuitCommand("Exit"));
    EXPECT_FALSE(IsQuitCommand("quitter"));
}

}  // namespace
