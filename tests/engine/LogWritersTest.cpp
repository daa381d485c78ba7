#include "engine/LogWriters.h"

#include "engine/LogFormat.h"
#include "engine/LogManager.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

using namespace LogFormat;

const std::string kStamp = "01/02/03 04:05:06";

SessionLogFields Session() {
    SessionLogFields s;
    s.clientAddress = "10.0.0.5";
    s.userName = "Guest";
    s.sessionId = 42;
    s.description = "GET http://example.com/";
    s.traffic = {100, 200, 300, 400, 5};
    return s;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(LogWritersTest, TimeStampIsMonthDayTwoDigitYearAndTime) {
    SYSTEMTIME t{2026, 1, 4, 2, 4, 5, 6, 789};
    EXPECT_EQ(LogTimeStamp(t), "01/02/26 04:05:06");
    SYSTEMTIME y2k{2000, 12, 0, 31, 23, 59, 59, 0};
    EXPECT_EQ(LogTimeStamp(y2k), "12/31/00 23:59:59");
    EXPECT_EQ(LogTimeStamp().size(), 17u);
}

TEST(LogWritersTest, ServiceWriterLines) {
    EXPECT_EQ(BuildServiceLogLine(1, kStamp, "port 8080"),
              "01/02/03 04:05:06\tConfiguration changed\tport 8080\r\n");
    EXPECT_EQ(BuildServiceLogLine(64, kStamp, "Service started"),
              "01/02/03 04:05:06\tService started\r\n");
    EXPECT_EQ(BuildServiceLogLine(128, kStamp, "Service failed startup Address already in use"),
              "01/02/03 04:05:06\tError:\tService failed startup Address already in use\r\n");
    // A service-level writer has no line for the session bits.
    for (DWORD bit : {2u, 4u, 8u, 16u, 32u, 256u, 512u, 0u, 3u})
        EXPECT_EQ(BuildServiceLogLine(bit, kStamp, "x"), "") << bit;
}

TEST(LogWritersTest, SessionWriterLines) {
    const SessionLogFields s = Session();
    const std::string head = "01/02/03 04:05:06\t10.0.0.5\tGuest\t0000000042\t";
    EXPECT_EQ(BuildSessionLogLine(2, kStamp, s, "GET http://example.com/"),
              head + "Failed authorisation:\tGET http://example.com/\r\n");
    // Created and Requested carry the description; the message is not used.
    EXPECT_EQ(BuildSessionLogLine(4, kStamp, s, "ignored"), head + "Created:\tGET http://example.com/\r\n");
    EXPECT_EQ(BuildSessionLogLine(8, kStamp, s, "ignored"), head + "Requested:\tGET http://example.com/\r\n");
    EXPECT_EQ(BuildSessionLogLine(16, kStamp, s, ""), head + "Traffic\t 100\t200\t300\t400\t5s\r\n");
    EXPECT_EQ(BuildSessionLogLine(32, kStamp, s, "exit code 2"), head + "Terminated exit code 2\r\n");
    EXPECT_EQ(BuildSessionLogLine(128, kStamp, s, "Caught unknown exception in CTCPSession::Run() - terminating"),
              head + "Error:\tCaught unknown exception in CTCPSession::Run() - terminating\r\n");
    EXPECT_EQ(BuildSessionLogLine(512, kStamp, s, "state 3"), head + "Debug:\tstate 3\r\n");
    // A session-level writer ignores the service bits 1 and 64.
    EXPECT_EQ(BuildSessionLogLine(1, kStamp, s, "x"), "");
    EXPECT_EQ(BuildSessionLogLine(64, kStamp, s, "x"), "");
    EXPECT_EQ(BuildSessionLogLine(256, kStamp, s, "x"), "");

    SessionLogFields big = s;
    big.sessionId = 4294967295u;
    big.traffic = {4294967295u, 0, 0, 0, 0};
    EXPECT_EQ(BuildSessionLogLine(16, kStamp, big, ""),
              "01/02/03 04:05:06\t10.0.0.5\tGuest\t4294967295\tTraffic\t 4294967295\t0\t0\t0\t0s\r\n");
}

TEST(LogWritersTest, AuditLines) {
    const SessionLogFields s = Session();
    const std::string head = "01/02/03 04:05:06\t10.0.0.5\t0000000042\t";
    EXPECT_EQ(BuildAuditLogLine(1, kStamp, s, ""), head + "Logged in\r\n");
    EXPECT_EQ(BuildAuditLogLine(2, kStamp, s, ""), head + "Logged out\r\n");
    EXPECT_EQ(BuildAuditLogLine(4, kStamp, s, "free text"), head + "free text\r\n");
    EXPECT_EQ(BuildAuditLogLine(8, kStamp, s, "GET http://example.com/"),
              head + "Failed authorisation:\tGET http://example.com/\r\n");
    EXPECT_EQ(BuildAuditLogLine(16, kStamp, s, "ignored"), head + "Created\tGET http://example.com/\r\n");
    EXPECT_EQ(BuildAuditLogLine(32, kStamp, s, "ignored"), head + "Requested\tGET http://example.com/\r\n");
    EXPECT_EQ(BuildAuditLogLine(64, kStamp, s, ""), head + "Traffic\t 100\t200\t300\t400\t5s\r\n");
    EXPECT_EQ(BuildAuditLogLine(256, kStamp, s, "exit code 4294967295"),
              head + "Terminated exit code 4294967295\r\n");
    // The service log's numbers for the same events have no audit line, or another one.
    EXPECT_EQ(BuildAuditLogLine(128, kStamp, s, "x"), "");
    EXPECT_EQ(BuildAuditLogLine(512, kStamp, s, "x"), "");
}

TEST(LogWritersTest, DialerLines) {
    EXPECT_EQ(BuildDialerLogLine(1, kStamp, "Dialing profile ISP"), "01/02/03 04:05:06\tDialing profile ISP\r\n");
    EXPECT_EQ(BuildDialerLogLine(2, kStamp, "Dialer thread started"),
              "01/02/03 04:05:06\tDebug:\tDialer thread started\r\n");
    EXPECT_EQ(BuildDialerLogLine(4, kStamp, "x"), "");
}

TEST(LogWritersTest, ControlCharactersInFieldsAreEscaped) {
    SessionLogFields s = Session();
    s.description = "GET /a\r\n01/01/99 00:00:00\tforged";
    s.userName = "bob\x7f";
    EXPECT_EQ(BuildSessionLogLine(8, kStamp, s, ""),
              "01/02/03 04:05:06\t10.0.0.5\tbob\\x7F\t0000000042\tRequested:\tGET /a\\x0D\\x0A01/01/99 "
              "00:00:00\\x09forged\r\n");
    EXPECT_EQ(BuildServiceLogLine(64, kStamp, std::string("a\0b", 3)), "01/02/03 04:05:06\ta\\x00b\r\n");
    // Bytes above 0x7F are text, not control characters.
    EXPECT_EQ(BuildServiceLogLine(64, kStamp, "caf\xc3\xa9"), "01/02/03 04:05:06\tcaf\xc3\xa9\r\n");
}

std::string Format(const char* format, ...) NV_PRINTF_FORMAT(1, 2);
std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatLogMessageV(format, args);
    va_end(args);
    return text;
}

TEST(LogWritersTest, MessagesAreCutAndLoseClosingLineBreaks) {
    EXPECT_EQ(Format("Could not set re-use address on socket for service %s\n", "DNS"),
              "Could not set re-use address on socket for service DNS");
    EXPECT_EQ(Format("%s", "two\r\n\r\n"), "two");
    EXPECT_EQ(Format("%s", "inner\nkept"), "inner\nkept");
    EXPECT_EQ(Format("%s", std::string(5000, 'm').c_str()), std::string(2047, 'm'));
}

TEST(LogWritersTest, LinesAreCutToTheLimitWithOneLineEnd) {
    std::string line = BuildServiceLogLine(128, kStamp, std::string(3000, 'a'));
    ASSERT_EQ(line.size(), 2047u);
    EXPECT_EQ(line.substr(0, 25), "01/02/03 04:05:06\tError:\t");
    EXPECT_EQ(line.substr(2045), "\r\n");
    EXPECT_EQ(line.find('\r'), 2045u);
    // 2045 characters before the CR LF: 25 of fields, then 2020 of the message.
    EXPECT_EQ(line.substr(25, 2020), std::string(2020, 'a'));

    // A cut never splits an escape: 25 + 1 + 504 * 4 = 2042 fit, a 505th escape does not.
    std::string controls = "a" + std::string(1000, '\x01');
    line = BuildServiceLogLine(128, kStamp, controls);
    EXPECT_EQ(line.size(), 2044u);
    EXPECT_EQ(line.substr(line.size() - 6), "\\x01\r\n");

    SessionLogFields s = Session();
    std::string longDescription(4000, 'd');
    s.description = longDescription;
    line = BuildSessionLogLine(8, kStamp, s, "");
    EXPECT_EQ(line.size(), 2047u);
    EXPECT_EQ(line.substr(2045), "\r\n");
}

class LogWriterPostTest : public ::testing::Test {
protected:
    TempDir dir;
    CLogManager manager;
    CLogFileRef file = CLogFile::Open(dir.Path(), "WWW");

    std::string Written() {
        manager.Stop();
        EXPECT_TRUE(manager.WaitForStop(10000));
        return ReadAll(dir.Path() + "/WWW.log");
    }
};

TEST_F(LogWriterPostTest, DefaultOptionsWriteTrafficButNotCreatedOrTerminated) {
    ASSERT_TRUE(file);
    ASSERT_TRUE(manager.Start());
    const SessionLogFields s = Session();
    EXPECT_FALSE(PostSessionLogLine(manager, file, kDefaultLogOptions, kLogSessionCreated, s, "%s", ""));
    EXPECT_TRUE(PostSessionLogLine(manager, file, kDefaultLogOptions, kLogTraffic, s, "%s", ""));
    EXPECT_FALSE(PostSessionLogLine(manager, file, kDefaultLogOptions, kLogTerminated, s, "exit code %u", 2u));
    EXPECT_FALSE(PostSessionLogLine(manager, file, kDefaultLogOptions, kLogDebug, s, "x"));
    EXPECT_TRUE(PostServiceLogLine(manager, file, kDefaultLogOptions, kLogServiceEvent, "Service stopped"));
    // A service writer ignores session bits even when they are chosen.
    EXPECT_FALSE(PostServiceLogLine(manager, file, 0xFFFFFFFF, kLogRequest, "x"));
    EXPECT_FALSE(PostServiceLogLine(manager, nullptr, kDefaultLogOptions, kLogServiceEvent, "x"));

    std::string text = Written();
    const std::string traffic = "\t10.0.0.5\tGuest\t0000000042\tTraffic\t 100\t200\t300\t400\t5s\r\n";
    ASSERT_EQ(text.size(), 17 + traffic.size() + 17 + std::string("\tService stopped\r\n").size());
    EXPECT_EQ(text.substr(17, traffic.size()), traffic);
    EXPECT_EQ(text.substr(text.size() - 18), "\tService stopped\r\n");
}

TEST_F(LogWriterPostTest, IdleTimeOutTerminatedLinesAndAuditOptions) {
    ASSERT_TRUE(manager.Start());
    const SessionLogFields s = Session();
    EXPECT_TRUE(PostSessionLogLine(manager, file, kLogTerminated, kLogTerminated, s, "exit code %u", 2u));
    EXPECT_TRUE(PostAuditLogLine(manager, file, kAuditTerminated, kAuditTerminated, s, "exit code %u", 2u));
    // The audit writer uses the audit numbers: 32 is "Requested" there.
    EXPECT_FALSE(PostAuditLogLine(manager, file, kAuditTerminated, kLogTerminated, s, "x"));
    EXPECT_TRUE(PostDialerLogLine(manager, file, kDialerDebug, kDialerDebug, "Dialer thread %s", "started"));
    EXPECT_FALSE(PostDialerLogLine(manager, file, kDialerDebug, kDialerNormal, "x"));
    std::string text = Written();
    EXPECT_NE(text.find("\t10.0.0.5\tGuest\t0000000042\tTerminated exit code 2\r\n"), std::string::npos);
    EXPECT_NE(text.find("\t10.0.0.5\t0000000042\tTerminated exit code 2\r\n"), std::string::npos);
    EXPECT_NE(text.find("\tDebug:\tDialer thread started\r\n"), std::string::npos);
}

TEST_F(LogWriterPostTest, PostedLinesKeepTheirFieldsAfterTheCallerLetsThemGo) {
    // Session and audit lines are made on the log thread: from copies of what was posted.
    std::string expected;
    {
        std::string address = "10.0.0.9";
        std::string description = "DNS: Address lookup for \x01host";
        SessionLogFields s = Session();
        s.clientAddress = address;
        s.description = description;
        ASSERT_TRUE(PostSessionLogLine(manager, file, kLogRequest, kLogRequest, s, "%s", ""));
        ASSERT_TRUE(PostAuditLogLine(manager, file, kAuditRequest, kAuditRequest, s, "%s", ""));
        expected = BuildSessionLogLine(kLogRequest, kStamp, s, "") +
                   BuildAuditLogLine(kAuditRequest, kStamp, s, "");
        address.assign(address.size(), 'x');
        description.assign(description.size(), 'x');
    }
    ASSERT_TRUE(manager.Start());
    // Both lines with the time stamp (17 characters) of the moment they were posted.
    std::string written = Written();
    ASSERT_EQ(written.size(), expected.size());
    const std::size_t second = expected.find('\n') + 1;
    for (std::size_t start : {std::size_t{0}, second})
        written.replace(start, 17, kStamp);
    EXPECT_EQ(written, expected);
}

}  // namespace
