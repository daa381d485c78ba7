#include "foundation/LinkCipher.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Vectors worked out from the cipher's definition (backwards start permutation, RC4 schedule
// and output), independently of this implementation.
const BYTE kCountingKey[16] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                               0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};

std::vector<BYTE> Keystream(const BYTE key[16], std::size_t count) {
    CLinkCipher cipher;
    cipher.Key(key);
    std::vector<BYTE> out(count);
    for (BYTE& b : out)
        b = cipher.Next();
    return out;
}

TEST(LinkCipherTest, KnownKeystreams) {
    EXPECT_EQ(Keystream(kCountingKey, 16),
              (std::vector<BYTE>{0x72, 0x67, 0xcf, 0x33, 0x65, 0xc4, 0x7b, 0x3d, 0xc0, 0x74, 0xce,
                                 0x3a, 0x75, 0x15, 0xc9, 0x64}));
    const BYTE zero[16] = {};
    EXPECT_EQ(Keystream(zero, 16),
              (std::vector<BYTE>{0x50, 0x35, 0xc0, 0x43, 0x0c, 0x37, 0x41, 0xe2, 0xf2, 0x2d, 0x1c,
                                 0xdc, 0x3b, 0x3d, 0x20, 0xff}));
    // An unkeyed cipher runs the all-zero key's stream.
    CLinkCipher unkeyed;
    EXPECT_EQ(unkeyed.Next(), 0x50);

    // Far into the stream (across the 8192-byte chunks a socket enciphers in).
    std::vector<BYTE> longStream = Keystream(kCountingKey, 20000);
    EXPECT_EQ((std::vector<BYTE>(longStream.begin() + 8190, longStream.begin() + 8194)),
              (std::vector<BYTE>{0x26, 0x48, 0xba, 0xe3}));
    EXPECT_EQ(longStream[19998], 0x54);
    EXPECT_EQ(longStream[19999], 0x84);
}

TEST(LinkCipherTest, EnciphersKnownPlaintextAndDeciphersWithTheSameKey) {
    const char plain[] = "Norvane link";
    const BYTE expected[] = {0x3c, 0x08, 0xbd, 0x45, 0x04, 0xaa, 0x1e, 0x1d, 0xac, 0x1d, 0xa0, 0x51};
    BYTE out[12];
    CLinkCipher sender;
    sender.Key(kCountingKey);
    sender.Apply(reinterpret_cast<const BYTE*>(plain), out, 12);
    EXPECT_EQ(std::vector<BYTE>(out, out + 12), std::vector<BYTE>(expected, expected + 12));

    CLinkCipher receiver;
    receiver.Key(kCountingKey);
    receiver.Apply(out, 12);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 12), "Norvane link");
}

TEST(LinkCipherTest, PiecesConsumeTheStreamLikeOneBlockAndKeyRestarts) {
    std::vector<BYTE> whole(1000, 0), pieces(1000, 0);
    CLinkCipher a, b;
    a.Key(kCountingKey);
    b.Key(kCountingKey);
    a.Apply(whole.data(), whole.size());
    std::size_t at = 0;
    for (std::size_t piece : {1u, 0u, 7u, 255u, 256u, 481u}) {
        b.Apply(pieces.data() + at, piece);
        at += piece;
    }
    ASSERT_EQ(at, pieces.size());
    EXPECT_EQ(whole, pieces);

    b.Key(kCountingKey);  // a new handshake restarts the state
    EXPECT_EQ(b.Next(), 0x72);
}

}  // namespace
