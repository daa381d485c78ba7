#include "foundation/MemFile.h"

#include "support/Throws.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(MemFileTest, BehavesAsAFile) {
    CMemFile file(16);
    file.Write("abcdef", 6);
    EXPECT_EQ(file.GetLength(), 6u);
    file.Seek(2, CFile::begin);
    char buffer[8] = {};
    EXPECT_EQ(file.Read(buffer, 3), 3u);
    EXPECT_EQ(std::string(buffer), "cde");
    EXPECT_EQ(file.GetRemaining(), 1u);
    // Writing past a gap fills it with zero bytes; the store grows past its first step.
    file.Seek(20, CFile::begin);
    file.Write("z", 1);
    EXPECT_EQ(file.GetLength(), 21u);
    EXPECT_EQ(file.GetData()[10], 0);
    EXPECT_EQ(file.GetData()[20], 'z');
    file.SetLength(3);
    file.SetLength(5);
    EXPECT_EQ(file.GetData()[3], 0);
    EXPECT_TRUE(ThrowsPtr<CFileException>([&] { file.Seek(-1, CFile::begin); }));
    auto bytes = file.Detach();
    EXPECT_EQ(bytes.size(), 5u);
    EXPECT_EQ(file.GetLength(), 0u);
}

TEST(MemFileTest, LoadsFromACopy) {
    const char data[] = {'x', '\0', 'y'};
    CMemFile file(data, sizeof data);
    EXPECT_EQ(file.GetPosition(), 0u);
    char buffer[4] = {};
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 3u);
    EXPECT_EQ(buffer[2], 'y');
    EXPECT_EQ(file.Read(buffer, 1), 0u);
}

}  // namespace
