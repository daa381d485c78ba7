#include "support/Bytes.h"

#include <cstdio>
#include <stdexcept>

namespace {

int Nibble(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    throw std::invalid_argument("not a hex digit");
}

}  // namespace

Bytes& Bytes::Hex(std::string_view hexText) {
    int high = -1;
    for (char c : hexText) {
        if (c == ' ')
            continue;
        const int n = Nibble(c);
        if (high < 0) {
            high = n;
        } else {
            m_bytes.push_back(static_cast<std::uint8_t>(high * 16 + n));
            high = -1;
        }
    }
    if (high >= 0)
        throw std::invalid_argument("odd number of hex digits");
    return *this;
}

Bytes& Bytes::Text(std::string_view text) {
    m_bytes.insert(m_bytes.end(), text.begin(), text.end());
    return *this;
}

Bytes& Bytes::Byte(std::uint8_t value) {
    m_bytes.push_back(value);
    return *this;
}

Bytes& Bytes::Word(std::uint16_t value) {
    return Byte(static_cast<std::uint8_t>(value)).Byte(static_cast<std::uint8_t>(value >> 8));
}

Bytes& Bytes::Dword(std::uint32_t value) {
    return Word(static_cast<std::uint16_t>(value)).Word(static_cast<std::uint16_t>(value >> 16));
}

Bytes& Bytes::Repeat(const Bytes& piece, std::size_t times) {
    for (std::size_t i = 0; i < times; ++i)
        m_bytes.insert(m_bytes.end(), piece.m_bytes.begin(), piece.m_bytes.end());
    return *this;
}

std::string HexDump(const std::vector<std::uint8_t>& bytes, std::size_t limit) {
    std::string out;
    char part[4];
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        std::snprintf(part, sizeof part, "%02x ", bytes[i]);
        out += part;
    }
    if (bytes.size() > limit)
        out += "... (" + std::to_string(bytes.size()) + " bytes)";
    return out;
}
