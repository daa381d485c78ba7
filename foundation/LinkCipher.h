#pragma once
// One direction of the link cipher: RC4's key schedule and keystream over a start permutation
// that runs backwards (S[n] = 255 - n) instead of the identity, keyed with a 16-byte MD5
// digest. A linked socket holds two, one for the bytes it sends and one for those it receives;
// each byte of traffic consumes exactly one keystream byte, so both ends must pass the same
// bytes through in the same order.

#include "platform/kernel/Types.h"

#include <cstddef>

class CLinkCipher {
public:
    static constexpr std::size_t KeySize = 16;

    // Unkeyed: the state of an all-zero key, so that it is defined before the first Key call.
    CLinkCipher();

    // Restarts the keystream from `key`.
    void Key(const BYTE key[KeySize]);

    // The next keystream byte.
    BYTE Next();
    // XORs `count` bytes in place with the next `count` keystream bytes.
    void Apply(BYTE* bytes, std::size_t count);
    // The same from `in` to `out` (which may be the same block).
    void Apply(const BYTE* in, BYTE* out, std::size_t count);

private:
    BYTE m_S[256];
    BYTE m_i = 0;
    BYTE m_j = 0;
};
