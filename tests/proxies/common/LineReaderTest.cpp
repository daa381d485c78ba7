#include "proxies/common/LineReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Texts(const std::vector<CLineReader::SLine>& lines) {
    std::vector<std::string> texts;
    for (const auto& line : lines)
        texts.push_back(line.text + (line.overLong ? "+" : ""));
    return texts;
}

TEST(LineReaderTest, LinesEndAtLineFeedsWithOrWithoutCarriageReturns) {
    CLineReader reader(100);
    EXPECT_EQ(Texts(reader.Append("a\r\nb\nc\r")), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(reader.GetPending(), 1u);  // "c"; the CR waits for what follows
    // The CR of a CR LF split over two pieces is dropped too.
    EXPECT_EQ(Texts(reader.Append("\nd\r\r\n\n")), (std::vector<std::string>{"c", "d\r", ""}));
    EXPECT_FALSE(reader.Flush());
    // A CR not followed by an LF stays in its line.
    EXPECT_EQ(Texts(reader.Append("a\r")), std::vector<std::string>{});
    EXPECT_EQ(Texts(reader.Append("b\n")), (std::vector<std::string>{"a\rb"}));
}

TEST(LineReaderTest, ALastLineWithoutALineEndIsFlushed) {
    CLineReader reader(100);
    EXPECT_TRUE(reader.Append("last").empty());
    const auto last = reader.Flush();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->text, "last");
    EXPECT_FALSE(last->overLong);
    EXPECT_FALSE(reader.Flush());
}

TEST(LineReaderTest, LongLinesKeepTheirStartAndAreMarked) {
    CLineReader reader(4);
    // Exactly the cap, its CR LF not counted.
    EXPECT_EQ(Texts(reader.Append("abcd\r\nabcde\nxy")), (std::vector<std::string>{"abcd", "abcd+"}));
    EXPECT_EQ(Texts(reader.Append("zzzzzzzzzzzzzzzzzzzzzzz")), std::vector<std::string>{});
    EXPECT_EQ(reader.GetPending(), 4u);
    EXPECT_EQ(Texts(reader.Append("z\nok\n")), (std::vector<std::string>{"xyzz+", "ok"}));
    reader.Append("12345");
    const auto last = reader.Flush();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->text, "1234");
    EXPECT_TRUE(last->overLong);
}

}  // namespace
