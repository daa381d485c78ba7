#include "foundation/ByteBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

std::string Contents(const CByteBuffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetLength());
}

TEST(ByteBufferTest, GrowsToNewLengthPlus128) {
    CByteBuffer buffer;
    EXPECT_EQ(buffer.GetData(), nullptr);
    EXPECT_EQ(buffer.GetCapacity(), 0u);
    const std::string hundred(100, 'x');
    EXPECT_TRUE(buffer.Append("0123456789", 10));
    EXPECT_EQ(buffer.GetCapacity(), 138u);
    EXPECT_TRUE(buffer.Append(hundred.data(), 100));
    EXPECT_EQ(buffer.GetCapacity(), 238u);
    EXPECT_TRUE(buffer.Append(hundred.data(), 0));
    EXPECT_EQ(buffer.GetCapacity(), 238u);
    EXPECT_TRUE(buffer.Append(hundred.data(), 100));
    EXPECT_EQ(buffer.GetCapacity(), 338u);
    EXPECT_EQ(buffer.GetLength(), 210u);
    EXPECT_EQ(Contents(buffer), "0123456789" + hundred + hundred);

    // Space freed by RemoveTail is used again before the block grows.
    buffer.RemoveTail(110);
    EXPECT_TRUE(buffer.Append(hundred.data(), 100));
    EXPECT_EQ(buffer.GetCapacity(), 338u);
    EXPECT_TRUE(buffer.Append(hundred.data(), 10));  // 210 + 128 still fits
    EXPECT_EQ(buffer.GetCapacity(), 338u);
    EXPECT_TRUE(buffer.Append("z", 1));
    EXPECT_EQ(buffer.GetCapacity(), 339u);

    CByteBuffer empty;
    EXPECT_TRUE(empty.Append("", 0));
    EXPECT_EQ(empty.GetCapacity(), 0u);
}

TEST(ByteBufferTest, FindEdgeCases) {
    CByteBuffer buffer;
    EXPECT_EQ(buffer.Find("a", 1), -1);  // empty buffer
    buffer.Append("\r\r\n", 3);
    EXPECT_EQ(buffer.Find("\r\n", 2), 1);
    EXPECT_EQ(buffer.Find("\r\n", 0), -1);
    EXPECT_EQ(buffer.Find(nullptr, 2), -1);
    EXPECT_EQ(buffer.Find("\r\r\n\r", 4), -1);  // longer than the data
    EXPECT_EQ(buffer.Find("\r\r\n", 3), 0);      // the whole data
    EXPECT_EQ(buffer.Find("\n", 1), 2);          // at the very end
    EXPECT_EQ(buffer.Find("x", 1), -1);
    EXPECT_EQ(buffer.Find("\r\n", static_cast<std::size_t>(-2)), -1);  // a negative count

    CByteBuffer head;
    const char request[] = "GET / HTTP/1.0\r\nHost: a\r\n\r\nbody\r\n\r\n";
    head.Append(request, sizeof request - 1);
    EXPECT_EQ(head.Find("\r\n\r\n", 4), 23);
    EXPECT_EQ(head.Find("HTTP/", 5), 6);
    // A NUL byte is data like any other.
    CByteBuffer binary;
    binary.Append("ab\0cd\0ef", 8);
    EXPECT_EQ(binary.Find("\0e", 2), 5);
}

TEST(ByteBufferTest, RemoveTailNeverGoesBelowZero) {
    CByteBuffer buffer;
    buffer.Append("abcdef", 6);
    EXPECT_TRUE(buffer.RemoveTail(2));
    EXPECT_EQ(Contents(buffer), "abcd");
    EXPECT_TRUE(buffer.RemoveTail(10));
    EXPECT_EQ(buffer.GetLength(), 0u);
    EXPECT_EQ(buffer.GetCapacity(), 134u);  // the block stays
    EXPECT_TRUE(buffer.Append("xy", 2));
    EXPECT_EQ(Contents(buffer), "xy");
}

TEST(ByteBufferTest, NegativeAndOverflowingCountsAreRefused) {
    CByteBuffer buffer;
    buffer.Append("abc", 3);
    EXPECT_FALSE(buffer.Append("abc", static_cast<std::size_t>(-1)));
    EXPECT_FALSE(buffer.Append("abc", static_cast<std::size_t>(INT64_MAX) - 10));
    EXPECT_FALSE(buffer.RemoveTail(static_cast<std::size_t>(-3)));
    EXPECT_FALSE(buffer.Append(nullptr, 2));
    EXPECT_EQ(Contents(buffer), "abc");
    EXPECT_EQ(buffer.GetCapacity(), 131u);
    EXPECT_TRUE(buffer.Append(nullptr, 0));
    EXPECT_EQ(Contents(buffer), "abc");
}

TEST(ByteBufferTest, AppendingItsOwnBytesSurvivesReallocation) {
    CByteBuffer buffer;
    const std::string start(128, 'q');
    buffer.Append(start.data(), start.size());
    buffer.Append(buffer.GetData(), 128);  // each append grows the block: the source moves
    buffer.Append(buffer.GetData(), 256);
    EXPECT_EQ(Contents(buffer), std::string(512, 'q'));
}

}  // namespace
