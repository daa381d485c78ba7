#include "platform/framework/File.h"
#include "support/TempDir.h"

#include "support/Throws.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace {

TEST(CFileTest, WriteSeekReadAndCut) {
    TempDir dir;
    const std::string path = dir.Path() + "/data";
    CFile file;
    ASSERT_TRUE(file.Open(path, CFile::modeReadWrite | CFile::modeCreate));
    CFile other;
    EXPECT_FALSE(other.Open(path, CFile::modeRead | CFile::shareExclusive));
    EXPECT_TRUE(other.Open(path, CFile::modeRead));
    other.Close();
    file.Write("hello world", 11);
    EXPECT_EQ(file.GetPosition(), 11u);
    EXPECT_EQ(file.Seek(-5, CFile::end), 6u);
    EXPECT_EQ(file.GetRemaining(), 5u);
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 5u);
    EXPECT_EQ(std::string(buffer), "world");
    file.Seek(5, CFile::begin);
    file.SetLength(file.GetPosition());
    EXPECT_EQ(file.GetLength(), 5u);
    EXPECT_EQ(file.GetRemaining(), 0u);
    EXPECT_TRUE(ThrowsPtr<CFileException>([&] { file.Seek(-1, CFile::begin); }));
    file.Flush();
    file.Close();
    EXPECT_FALSE(file.IsOpen());

    // Reopening without truncation keeps the bytes; with creation alone empties the file.
    ASSERT_TRUE(file.Open(path, CFile::modeReadWrite | CFile::modeCreate | CFile::modeNoTruncate));
    EXPECT_EQ(file.GetLength(), 5u);
    ASSERT_TRUE(file.Open(path, CFile::modeWrite | CFile::modeCreate));
    EXPECT_EQ(file.GetLength(), 0u);
}

TEST(CFileTest, OpenFailureReportsErrno) {
    TempDir dir;
    CFile file;
    int error = 0;
    EXPECT_FALSE(file.Open(dir.Path() + "/missing", CFile::modeRead, &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(file.IsOpen());
    char byte;
    EXPECT_TRUE(ThrowsPtr<CFileException>([&] { file.Read(&byte, 1); }));
}

}  // namespace
