#include "foundation/LinkCipher.h"

CLinkCipher::CLinkCipher() {
    const BYTE zero[KeySize] = {};
    Key(zero);
}

void CLinkCipher::Key(const BYTE key[KeySize]) {
    for (unsigned n = 0; n < 256; ++n)
        m_S[n] = static_cast<BYTE>(255 - n);
    BYTE j = 0;
    for (unsigned n = 0; n < 256; ++n) {
        j = static_cast<BYTE>(j + m_S[n] + key[n & (KeySize - 1)]);
        BYTE swap = m_S[n];
        m_S[n] = m_S[j];
        m_S[j] = swap;
    }
    m_i = 0;
    m_j = 0;
}

BYTE CLinkCipher::Next() {
    m_i = static_cast<BYTE>(m_i + 1);
    m_j = static_cast<BYTE>(m_j + m_S[m_i]);
    BYTE swap = m_S[m_i];
    m_S[m_i] = m_S[m_j];
    m_S[m_j] = swap;
    return m_S[static_cast<BYTE>(m_S[m_i] + m_S[m_j])];
}

void CLinkCipher::Apply(BYTE* bytes, std::size_t count) { Apply(bytes, bytes, count); }

void CLinkCipher::Apply(const BYTE* in, BYTE* out, std::size_t count) {
    for (std::size_t n = 0; n < count; ++n)
        out[n] = static_cast<BYTE>(in[n] ^ Next());
}
