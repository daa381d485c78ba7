#pragma once
// The MD5 message digest of RFC 1321. It keys and checks the link handshake, so its output
// must match every other implementation bit for bit; it is not used for anything that needs a
// secure hash.

#include "platform/kernel/Types.h"

#include <cstddef>
#include <string>

class CMD5 {
public:
    static constexpr std::size_t DigestSize = 16;

    CMD5() { Init(); }

    // Starts a new digest; an object may be reused after Final.
    void Init();
    // Adds `count` bytes to the message.
    void Update(const void* bytes, std::size_t count);
    // Pads the message, writes the 16-byte digest to `digest` and leaves the object ready for a
    // new message.
    void Final(BYTE digest[DigestSize]);

    // The digest of the bytes of a NUL-terminated text, without the NUL.
    static void DigestString(const char* text, BYTE digest[DigestSize]);
    // The digest of every byte of `text`, NUL bytes included.
    static void DigestString(const std::string& text, BYTE digest[DigestSize]);

private:
    void Transform(const BYTE block[64]);

    DWORD m_state[4];
    std::uint64_t m_bitCount;  // message length so far, in bits, modulo 2^64
    BYTE m_block[64];          // bytes of the block being filled
};
