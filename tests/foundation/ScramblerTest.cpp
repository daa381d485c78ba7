#include "foundation/Scrambler.h"

#include "foundation/RegistryStore.h"
#include "support/ArchiveHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// 40 characters, '@' (0x40 = 2 * 31 + 2) at index 31, and bytes above 0x7F.
const std::string kPlain = "Pa\xE9ss\xFFword-0123456789-abcdefghi@KLMNOPQ\x80";

// kPlain scrambled, worked out apart from the code under test.
const Bytes kScrambled(
    "52 65 ef 7b 79 f3 79 7f 60 70 3b 28 2b 2e 2d 14 17 12 11 10"
    "13 01 4f 52 51 50 53 5e 5d 54 57 00 09 08 0b 06 05 1c 1f d0");

std::string Scrambled() {
    std::string text = kPlain;
    ScramblePassword(text);
    return text;
}

TEST(ScramblerTest, XorsEachByteWithTwiceItsPositionPlusTwo) {
    std::string text = "abc";
    ScramblePassword(text);
    EXPECT_EQ(text, "cfe");
    ScramblePassword(text);
    EXPECT_EQ(text, "abc");

    std::string empty;
    ScramblePassword(empty);
    EXPECT_EQ(empty, "");

    // Keys wrap modulo 256: position 127 has key 0, position 200 key 0x92.
    std::string long_(201, '\x41');
    ScramblePassword(long_);
    EXPECT_EQ(static_cast<unsigned char>(long_[0]), 0x43);
    EXPECT_EQ(static_cast<unsigned char>(long_[127]), 0x41);
    EXPECT_EQ(static_cast<unsigned char>(long_[200]), 0x41 ^ 0x92);
}

TEST(ScramblerTest, PasswordThatScramblesToNulKeepsItsLength) {
    const std::string plain = kPlain;
    ASSERT_EQ(plain.size(), 40u);
    ASSERT_EQ(plain[31], '@');
    std::string scrambled = plain;
    ScramblePassword(scrambled);
    EXPECT_EQ(kScrambled, std::vector<std::uint8_t>(scrambled.begin(), scrambled.end()));
    EXPECT_EQ(scrambled[31], '\0');
    ScramblePassword(scrambled);
    EXPECT_EQ(scrambled, plain);
}

TEST(ScramblerTest, ScrambledPasswordRoundTripsThroughTheStoreWhole) {
    TempStateDir state;
    SetRegistryRoot("Urvo Software", "Norvane 2");
    const std::string scrambled = Scrambled();
    ASSERT_EQ(scrambled[31], '\0');
    ASSERT_TRUE(RegWriteString("UserDatabase\\Bob", "Password", scrambled));
    std::string loaded = RegReadString("UserDatabase\\Bob", "Password", "");
    EXPECT_EQ(loaded.size(), 40u);
    EXPECT_EQ(loaded, scrambled);
    ScramblePassword(loaded);
    EXPECT_EQ(loaded, kPlain);
}

TEST(ScramblerTest, ScrambledPasswordRoundTripsThroughAnArchiveWhole) {
    const std::string scrambled = Scrambled();
    std::vector<std::uint8_t> bytes = StoreBytes([&](CArchive& ar) { ar << scrambled; });
    // One length byte (40), then the 40 scrambled bytes as they are.
    Bytes expected;
    expected.Byte(40).Append(kScrambled);
    EXPECT_EQ(expected, bytes) << HexDump(bytes);
    EXPECT_EQ(bytes[1 + 31], 0);

    std::string loaded;
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { ar >> loaded; }));
    ScramblePassword(loaded);
    EXPECT_EQ(loaded, kPlain);
}

}  // namespace
