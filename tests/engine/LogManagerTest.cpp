#include "engine/LogManager.h"

#include "engine/LogFile.h"
#include "engine/LogFormat.h"
#include "foundation/RegistryStore.h"
#include "platform/kernel/File.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void StopAndWait(CLogManager& manager) {
    manager.Stop();
    ASSERT_TRUE(manager.WaitForStop(10000));
}

TEST(LogFileTest, NamesThatCouldEscapeTheFolderAreRefused) {
    TempDir dir;
    for (const char* name : {"", ".", "..", "../x", "a/b", "a\\b", "tab\there", "nl\n", "del\x7f"})
        EXPECT_FALSE(CLogFile::Open(dir.Path(), name)) << name;
    EXPECT_FALSE(CLogFile::Open("", "ok"));
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));

    CLogFileRef file = CLogFile::Open(dir.Path() + "/Logs/deeper", "Web Proxy");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->GetPath(), dir.Path() + "/Logs/deeper/Web Proxy.log");
    EXPECT_TRUE(FileExists(file->GetPath()));
}

TEST(LogFileTest, AppendsAfterWhatIsThereAndWhatOthersAppend) {
    TempDir dir;
    const std::string path = dir.Path() + "/svc.log";
    std::ofstream(path, std::ios::binary) << "old line\r\n";
    CLogFileRef first = CLogFile::Open(dir.Path(), "svc");
    CLogFileRef second = CLogFile::Open(dir.Path(), "svc");
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(first->Append("one\r\n"));
    EXPECT_TRUE(second->Append("two\r\n"));
    EXPECT_TRUE(first->Append("three\r\n"));
    EXPECT_EQ(ReadAll(path), "old line\r\none\r\ntwo\r\nthree\r\n");
}

TEST(LogFileTest, FoldersComeFromTheSettingsKey) {
    TempStateDir state;
    TempDir dir;
    SetRegistryRoot("Urvo Software", "Norvane 2");
    ASSERT_TRUE(RegWriteString("Settings", "LogFileDirectory", dir.Path() + "\\service logs"));
    ASSERT_TRUE(RegWriteString("Settings", "AuditDirectory", dir.Path() + "/audit"));
    CLogFileRef log = CLogFile::OpenServiceLog("Dialer");
    CLogFileRef audit = CLogFile::OpenAuditLog("Administrator");
    ASSERT_TRUE(log && audit);
    EXPECT_EQ(log->GetPath(), dir.Path() + "/service logs/Dialer.log");
    EXPECT_EQ(audit->GetPath(), dir.Path() + "/audit/Administrator.log");
    EXPECT_FALSE(CLogFile::OpenAuditLog(".."));
    // Writers skip the audit lookup while no audit file is open; service logs do not count.
    EXPECT_TRUE(CLogFile::AnyAuditLogOpen());
    audit.reset();
    EXPECT_FALSE(CLogFile::AnyAuditLogOpen());

    ASSERT_TRUE(RegWriteString("Settings", "AuditDirectory", std::string("/tmp\0/x", 7)));
    EXPECT_FALSE(CLogFile::OpenAuditLog("Administrator"));
}

TEST(LogManagerTest, WritesEntriesInPostedOrder) {
    TempDir dir;
    CLogFileRef file = CLogFile::Open(dir.Path(), "order");
    CLogManager manager;
    ASSERT_TRUE(manager.Start());
    EXPECT_FALSE(manager.Start());
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(manager.PostLogEntry(file, "line " + std::to_string(i) + "\r\n"));
    EXPECT_FALSE(manager.PostLogEntry(nullptr, "nowhere\r\n"));
    StopAndWait(manager);
    std::string expected;
    for (int i = 0; i < 100; ++i)
        expected += "line " + std::to_string(i) + "\r\n";
    EXPECT_EQ(ReadAll(file->GetPath()), expected);
    EXPECT_EQ(manager.GetFailedWrites(), 0u);
}

TEST(LogManagerTest, QueuedEntrySurvivesItsFileBeingClosedAndReopened) {
    TempDir dir;
    CLogManager manager;  // not started yet: entries wait in its queue
    CLogFileRef subject = CLogFile::Open(dir.Path(), "svc");
    ASSERT_TRUE(manager.PostLogEntry(subject, "before reopen\r\n"));
    // The service closes and reopens its log while the entry waits; a file opened meanwhile
    // (a socket would do as well) must not receive the old entry.
    subject.reset();
    CLogFileRef stranger = CLogFile::Open(dir.Path(), "stranger");
    subject = CLogFile::Open(dir.Path(), "svc");
    ASSERT_TRUE(manager.PostLogEntry(subject, "after reopen\r\n"));
    subject.reset();  // closed with entries still queued
    ASSERT_TRUE(manager.Start());
    StopAndWait(manager);
    EXPECT_EQ(ReadAll(dir.Path() + "/svc.log"), "before reopen\r\nafter reopen\r\n");
    EXPECT_EQ(ReadAll(dir.Path() + "/stranger.log"), "");
}

TEST(LogManagerTest, EntriesAfterQuitAreNotWrittenNorLeaked) {
    TempDir dir;
    CLogFileRef file = CLogFile::Open(dir.Path(), "quit");
    {
        CLogManager manager;
        ASSERT_TRUE(manager.PostLogEntry(file, "first\r\n"));
        manager.Stop();
        ASSERT_TRUE(manager.PostLogEntry(file, "after quit\r\n"));
        ASSERT_TRUE(manager.Start());
        ASSERT_TRUE(manager.WaitForStop(10000));
        // The thread has ended: nothing more is accepted.
        EXPECT_FALSE(manager.PostLogEntry(file, "too late\r\n"));
    }
    // The manager is gone: the file is held by this test alone again.
    EXPECT_EQ(file.use_count(), 1);
    EXPECT_EQ(ReadAll(file->GetPath()), "first\r\n");

    // A manager whose thread never ran frees what was queued for it.
    {
        CLogManager never;
        ASSERT_TRUE(never.PostLogEntry(file, "never written\r\n"));
        EXPECT_EQ(file.use_count(), 2);
    }
    EXPECT_EQ(file.use_count(), 1);
}

TEST(LogManagerTest, StrayMessagesAreIgnored) {
    TempDir dir;
    CLogFileRef file = CLogFile::Open(dir.Path(), "stray");
    CLogManager manager;
    ASSERT_TRUE(manager.Start());
    CLogEntry foreign(file, "not handed out\r\n");
    ASSERT_TRUE(manager.PostThreadMessage(LogFormat::kWriteEntryMessage, 0, reinterpret_cast<std::intptr_t>(&foreign)));
    ASSERT_TRUE(manager.PostThreadMessage(LogFormat::kWriteEntryMessage, 0, 0));
    ASSERT_TRUE(manager.PostThreadMessage(LogFormat::kWriteEntryMessage, 0, 0x1234));
    ASSERT_TRUE(manager.PostLogEntry(file, "real\r\n"));
    StopAndWait(manager);
    EXPECT_EQ(ReadAll(file->GetPath()), "real\r\n");
}

TEST(LogEntryMemoryTest, BlocksFreedOnTheLogThreadReturnToThePostingThread) {
    // One thread allocates, another frees, as a service thread and the log thread do.
    constexpr std::size_t kBlocks = 256;
    std::vector<void*> posted;
    for (std::size_t i = 0; i < kBlocks; ++i) {
        void* block = LogEntryMemory::Allocate(100);
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(std::max_align_t), 0u);
        std::memset(block, 0xAB, 100);
        posted.push_back(block);
    }
    void* large = LogEntryMemory::Allocate(LogEntryMemory::kBlockSize * 4);
    std::memset(large, 0xCD, LogEntryMemory::kBlockSize * 4);
    std::thread([&] {
        for (void* block : posted)
            LogEntryMemory::Free(block);
        LogEntryMemory::Free(large);
        LogEntryMemory::Free(nullptr);
    }).join();
    // The freeing thread kept a few and passed the rest on in batches; they come back here.
    std::set<void*> before(posted.begin(), posted.end());
    std::size_t reused = 0;
    std::vector<void*> again;
    for (std::size_t i = 0; i < kBlocks; ++i) {
        again.push_back(LogEntryMemory::Allocate(LogEntryMemory::kBlockSize - 64));
        reused += before.count(again.back());
    }
    EXPECT_GE(reused, kBlocks / 2);
    for (void* block : again)
        LogEntryMemory::Free(block);
}

TEST(LogManagerTest, ManyWritersNeverInterleaveWithinALine) {
    TempDir dir;
    CLogFileRef file = CLogFile::Open(dir.Path(), "busy");
    CLogManager manager;
    ASSERT_TRUE(manager.Start());
    constexpr int kThreads = 8, kLines = 500;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&, t] {
            // Each writer reopens its own reference now and then, as a service reloading its
            // settings would.
            CLogFileRef mine = file;
            for (int i = 0; i < kLines; ++i) {
                if (i % 50 == 0)
                    mine = CLogFile::Open(dir.Path(), "busy");
                std::string line = "writer " + std::to_string(t) + " " + std::string(100, char('a' + t)) + "\r\n";
                while (!manager.PostLogEntry(mine, line))
                    std::this_thread::yield();  // queue full: try again
            }
        });
    for (auto& w : writers)
        w.join();
    StopAndWait(manager);
    std::istringstream text(ReadAll(file->GetPath()));
    std::string line;
    int count = 0;
    while (std::getline(text, line)) {
        ++count;
        ASSERT_GE(line.size(), 10u);
        const int t = line[7] - '0';
        EXPECT_EQ(line, "writer " + std::to_string(t) + " " + std::string(100, char('a' + t)) + "\r");
    }
    EXPECT_EQ(count, kThreads * kLines);
}

}  // namespace
