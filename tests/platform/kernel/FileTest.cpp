#include "platform/kernel/File.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

TEST(FileTest, ShareModesBetweenOpeners) {
    TempDir dir;
    std::string path = dir.Path() + "/shared.txt";
    std::ofstream(path) << "contents";

    int shared = OpenFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(shared, INVALID_FILE_HANDLE);
    int alsoShared = OpenFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    EXPECT_NE(alsoShared, INVALID_FILE_HANDLE);
    // An unshared open is refused while others hold the file, and a refused CREATE_ALWAYS
    // leaves the contents alone.
    EXPECT_EQ(OpenFile(path, GENERIC_READ, 0, OPEN_EXISTING), INVALID_FILE_HANDLE);
    EXPECT_EQ(OpenFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_FILE_HANDLE);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(FileSizeOf(path), 8);
    CloseFile(shared);
    CloseFile(alsoShared);

    int exclusive = OpenFile(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_NE(exclusive, INVALID_FILE_HANDLE);
    EXPECT_EQ(OpenFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_FILE_HANDLE);
    CloseFile(exclusive);
    EXPECT_FALSE(CloseFile(INVALID_FILE_HANDLE));
}

TEST(FileTest, OpeningForWritingTakesNoShareLockAndRefusesFolders) {
    TempDir dir;
    const std::string path = dir.Path() + "/plain.txt";
    const int exclusive = OpenFile(path, GENERIC_READ, 0, CREATE_NEW);
    ASSERT_NE(exclusive, INVALID_FILE_HANDLE);
    EXPECT_EQ(OpenFileForWriting(path, CREATE_NEW), INVALID_FILE_HANDLE);
    EXPECT_EQ(errno, EEXIST);
    const int writer = OpenFileForWriting(path, OPEN_EXISTING);  // held exclusively, yet opens
    EXPECT_NE(writer, INVALID_FILE_HANDLE);
    EXPECT_EQ(OpenFileForWriting(dir.Path(), OPEN_EXISTING), INVALID_FILE_HANDLE);
    EXPECT_EQ(errno, EISDIR);
    CloseFile(writer);
    CloseFile(exclusive);
}

TEST(FileTest, ReadsAndWritesAtExplicitOffsets) {
    TempDir dir;
    std::string path = dir.Path() + "/rw.bin";
    int handle = OpenFile(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(handle, INVALID_FILE_HANDLE);
    EXPECT_EQ(WriteFileAt(handle, "world", 5, 6), 5);
    EXPECT_EQ(WriteFileAt(handle, "hello", 5, 0), 5);
    EXPECT_EQ(FileSizeOf(handle), 11);
    char buffer[16] = {};
    EXPECT_EQ(ReadFileAt(handle, buffer, sizeof buffer, 0), 11);
    EXPECT_EQ(std::string(buffer, 11), std::string("hello\0world", 11));
    EXPECT_EQ(ReadFileAt(handle, buffer, sizeof buffer, 11), 0);
    EXPECT_EQ(ReadFileAt(handle, buffer, sizeof buffer, UINT64_MAX), -1);
    CloseFile(handle);
    EXPECT_EQ(OpenFile(path, GENERIC_READ, 0, 9), INVALID_FILE_HANDLE);  // no such disposition

    EXPECT_TRUE(CopyFileTo(path, dir.Path() + "/copy.bin"));
    EXPECT_EQ(FileSizeOf(dir.Path() + "/copy.bin"), 11);
    EXPECT_FALSE(CopyFileTo(path, dir.Path() + "/copy.bin"));
    EXPECT_FALSE(CopyFileTo(dir.Path(), dir.Path() + "/folder.bin"));
    EXPECT_FALSE(FileExists(dir.Path() + "/folder.bin"));
    EXPECT_FALSE(FileExists(dir.Path()));
    EXPECT_FALSE(RemoveFile(dir.Path()));
    EXPECT_TRUE(RemoveFile(path));
    EXPECT_FALSE(FileExists(path));
}

TEST(FileTest, AppendHandlesWriteAtTheEndWhateverOthersDid) {
    TempDir dir;
    std::string path = dir.Path() + "/append.txt";
    std::ofstream(path) << "start;";
    int appender = OpenFile(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
    ASSERT_NE(appender, INVALID_FILE_HANDLE);
    int writer = OpenFile(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    ASSERT_NE(writer, INVALID_FILE_HANDLE);
    EXPECT_EQ(AppendFile(appender, "one;", 4), 4);
    EXPECT_EQ(WriteFileAt(writer, "other;", 6, 10), 6);
    EXPECT_EQ(AppendFile(appender, "two;", 4), 4);
    char buffer[32] = {};
    EXPECT_EQ(ReadFileAt(writer, buffer, sizeof buffer, 0), -1);  // opened for writing only
    CloseFile(writer);
    int reader = OpenFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    EXPECT_EQ(ReadFileAt(reader, buffer, sizeof buffer, 0), 20);
    EXPECT_EQ(std::string(buffer, 20), "start;one;other;two;");
    EXPECT_EQ(AppendFile(reader, "x", 1), -1);  // not opened for writing
    CloseFile(reader);
    CloseFile(appender);
}

}  // namespace
