#include "foundation/MD5.h"

#include <cstring>

namespace {

inline DWORD RotateLeft(DWORD x, unsigned n) { return (x << n) | (x >> (32 - n)); }

// Per-step shift amounts of the four rounds.
constexpr unsigned kShift[64] = {
    7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
    5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
    4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
    6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

// The sine table: floor(abs(sin(i + 1)) * 2^32).
constexpr DWORD kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
    0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
    0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
    0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
    0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
    0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
    0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
    0xeb86d391};

}  // namespace

void CMD5::Init() {
    m_state[0] = 0x67452301;
    m_state[1] = 0xefcdab89;
    m_state[2] = 0x98badcfe;
    m_state[3] = 0x10325476;
    m_bitCount = 0;
    std::memset(m_block, 0, sizeof m_block);
}

void CMD5::Update(const void* bytes, std::size_t count) {
    const BYTE* in = static_cast<const BYTE*>(bytes);
    std::size_t used = static_cast<std::size_t>((m_bitCount >> 3) & 63);
    m_bitCount += static_cast<std::uint64_t>(count) << 3;
    while (count > 0) {
        std::size_t take = 64 - used < count ? 64 - used : count;
        std::memcpy(m_block + used, in, take);
        used += take;
        in += take;
        count -= take;
        if (used == 64) {
            Transform(m_block);
            used = 0;
        }
    }
}

void CMD5::Final(BYTE digest[DigestSize]) {
    BYTE length[8];
    for (int i = 0; i < 8; ++i)
        length[i] = static_cast<BYTE>(m_bitCount >> (8 * i));
    // One 0x80 byte, then zeros up to 56 bytes modulo 64, then the bit length.
    static const BYTE kPadding[64] = {0x80};
    std::size_t used = static_cast<std::size_t>((m_bitCount >> 3) & 63);
    Update(kPadding, used < 56 ? 56 - used : 120 - used);
    Update(length, 8);
    for (int i = 0; i < 4; ++i)
        for (int b = 0; b < 4; ++b)
            digest[4 * i + b] = static_cast<BYTE>(m_state[i] >> (8 * b));
    Init();
}

void CMD5::Transform(const BYTE block[64]) {
    DWORD x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = DWORD(block[4 * i]) | DWORD(block[4 * i + 1]) << 8 | DWORD(block[4 * i + 2]) << 16 |
               DWORD(block[4 * i + 3]) << 24;
    DWORD a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    for (unsigned i = 0; i < 64; ++i) {
        DWORD f;
        unsigned g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (b & d) | (c & ~d);
            g = (5 * i + 1) & 15;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) & 15;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) & 15;
        }
        DWORD next = b + RotateLeft(a + f + kSine[i] + x[g], kShift[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
}

void CMD5::DigestString(const char* text, BYTE digest[DigestSize]) {
    CMD5 md5;
    if (text)
        md5.Update(text, std::strlen(text));
    md5.Final(digest);
}

void CMD5::DigestString(const std::string& text, BYTE digest[DigestSize]) {
    CMD5 md5;
    md5.Update(text.data(), text.size());
    md5.Final(digest);
}
