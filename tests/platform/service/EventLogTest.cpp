#include "platform/kernel/Clock.h"
#include "platform/service/DebugTrace.h"
#include "platform/service/EventLog.h"
#include "platform/service/ServiceTypes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, '\t');)
        fields.push_back(field);
    return fields;
}

// Points one environment variable at a file in a temporary folder while it lives.
class ScopedLogFile {
public:
    ScopedLogFile(const char* variable, const char* name)
        : m_variable(variable), m_path(m_dir.Path() + "/" + name) {
        setenv(variable, m_path.c_str(), 1);
    }
    ~ScopedLogFile() { unsetenv(m_variable); }
    const std::string& Path() const { return m_path; }

private:
    const char* m_variable;
    TempDir m_dir;
    std::string m_path;
};

const EventMessage kTable[] = {
    {0, "The %1 service was installed successfully.\r\n"},
    {8, "%1.\r\n"},
    {9, "%2 before %1, %3 stays, 100%% sure, %0 and %x and %"},
    {10, "ten=%10 eleven=%11"},
};

}  // namespace

TEST(EventLog, InsertionStringsAreSubstitutedNeverInterpreted) {
    std::vector<std::string> strings = {"one", "two"};
    EXPECT_EQ(SubstituteInsertions("%2 before %1, %3 stays, 100%% sure, %0 and %x and %", strings),
              "two before one, %3 stays, 100% sure, %0 and %x and %");
    // A string that looks like a marker or a printf conversion is copied as it is.
    EXPECT_EQ(SubstituteInsertions("<%1>", {"%1 %s %n %%"}), "<%1 %s %n %%>");
    std::vector<std::string> eleven;
    for (int i = 1; i <= 11; ++i)
        eleven.push_back("s" + std::to_string(i));
    EXPECT_EQ(SubstituteInsertions("ten=%10 eleven=%11 one0=%1", eleven),
              "ten=s10 eleven=s11 one0=s1");
    EXPECT_EQ(SubstituteInsertions("%1", {std::string(20000, 'x')}).size(), 8192u);
}

TEST(EventLog, TextsComeFromTheRegisteredTableWithoutTheirLineBreak) {
    RegisterEventMessageTable(kTable, 4);
    EXPECT_EQ(FormatEventText(0, {"NorvaneEngine"}),
              "The NorvaneEngine service was installed successfully.");
    EXPECT_EQ(FormatEventText(8, {"Starting Engine"}), "Starting Engine.");
    EXPECT_EQ(FormatEventText(8, {}), "%1.");
    EXPECT_EQ(FormatEventText(77, {"a", "b"}), "Event 77: a: b");
}

TEST(EventLog, ReportAppendsOneLinePerEventToTheEventFile) {
    ScopedLogFile file(kEventLogFileVariable, "events.log");
    RegisterEventMessageTable(kTable, 4);
    EVENTSOURCE_HANDLE source = RegisterEventSource(nullptr, "TestSource");
    ASSERT_NE(source, nullptr);
    const char* strings[] = {"Starting Engine"};
    EXPECT_TRUE(ReportEvent(source, EVENTLOG_INFORMATION_TYPE, 0, 8, nullptr, 1, 0, strings,
                            nullptr));
    const char* hostile[] = {"line\nbreak\tand\rreturn"};
    EXPECT_TRUE(ReportEvent(source, EVENTLOG_ERROR_TYPE, 0, 8, nullptr, 1, 0, hostile, nullptr));
    const char* none[] = {nullptr};
    EXPECT_TRUE(ReportEvent(source, EVENTLOG_WARNING_TYPE, 0, 8, nullptr, 1, 0, none, nullptr));

    auto lines = ReadLines(file.Path());
    ASSERT_EQ(lines.size(), 3u);
    auto first = Fields(lines[0]);
    ASSERT_EQ(first.size(), 5u);
    EXPECT_EQ(first[0].size(), 19u);  // YYYY-MM-DD HH:MM:SS
    EXPECT_EQ(first[1], "TestSource[" + std::to_string(getpid()) + "]");
    EXPECT_EQ(first[2], "Information");
    EXPECT_EQ(first[3], "8");
    EXPECT_EQ(first[4], "Starting Engine.");
    auto second = Fields(lines[1]);
    ASSERT_EQ(second.size(), 5u);
    EXPECT_EQ(second[2], "Error");
    EXPECT_EQ(second[4], "line\\x0Abreak\\x09and\\x0Dreturn.");
    EXPECT_EQ(Fields(lines[2])[4], ".");
    EXPECT_TRUE(DeregisterEventSource(source));
}

TEST(EventLog, BadSourcesAndHandlesAreRefused) {
    EXPECT_EQ(RegisterEventSource(nullptr, ""), nullptr);
    EXPECT_EQ(RegisterEventSource(nullptr, "bad\nname"), nullptr);
    EXPECT_EQ(RegisterEventSource("otherhost", "x"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EVENTSOURCE_HANDLE source = RegisterEventSource(nullptr, "x");
    EXPECT_FALSE(ReportEvent(source, 0x40, 0, 1, nullptr, 0, 0, nullptr, nullptr));
    EXPECT_FALSE(ReportEvent(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 2, 0, nullptr, nullptr));
    EXPECT_TRUE(DeregisterEventSource(source));
    EXPECT_FALSE(DeregisterEventSource(source));
    EXPECT_FALSE(ReportEvent(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 0, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(EventLog, ConcurrentReportsNeverInterleaveLines) {
    ScopedLogFile file(kEventLogFileVariable, "events.log");
    RegisterEventMessageTable(kTable, 4);
    const std::string payload(3000, 'p');
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&payload] {
            EVENTSOURCE_HANDLE source = RegisterEventSource(nullptr, "Concurrent");
            const char* strings[] = {payload.c_str()};
            for (int i = 0; i < 50; ++i)
                ReportEvent(source, EVENTLOG_INFORMATION_TYPE, 0, 8, nullptr, 1, 0, strings,
                            nullptr);
            DeregisterEventSource(source);
        });
    }
    for (auto& thread : threads)
        thread.join();
    auto lines = ReadLines(file.Path());
    ASSERT_EQ(lines.size(), 400u);
    for (const auto& line : lines)
        ASSERT_EQ(Fields(line).back(), payload + ".");
}

TEST(DebugTrace, TracesGoToTheTraceFileOneLineEach) {
    ScopedLogFile file(kTraceFileVariable, "trace.log");
    OutputDebugString("[NorvaneEngine](3): CNTService::OnInit()\n");
    OutputDebugString("no line break");
    OutputDebugString("two\nlines\n\n");
    auto lines = ReadLines(file.Path());
    ASSERT_EQ(lines.size(), 3u);
    const std::string pid = " [" + std::to_string(getpid()) + "] ";
    EXPECT_NE(lines[0].find(pid + "[NorvaneEngine](3): CNTService::OnInit()"), std::string::npos);
    EXPECT_EQ(lines[0].substr(lines[0].size() - 8), "OnInit()");
    EXPECT_NE(lines[1].find(pid + "no line break"), std::string::npos);
    EXPECT_NE(lines[2].find(pid + "two\\x0Alines"), std::string::npos);
}
