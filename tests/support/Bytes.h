#pragma once
// Byte vectors written by hand in tests: hex text, raw text and little-endian numbers.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class Bytes {
public:
    Bytes() = default;
    explicit Bytes(std::string_view hexText) { Hex(hexText); }

    // Appends bytes given as hex pairs; blanks between them are ignored.
    Bytes& Hex(std::string_view hexText);
    Bytes& Text(std::string_view text);
    Bytes& Byte(std::uint8_t value);
    Bytes& Word(std::uint16_t value);
    Bytes& Dword(std::uint32_t value);
    Bytes& Repeat(const Bytes& piece, std::size_t times);
    Bytes& Append(const Bytes& more) { return Repeat(more, 1); }

    const std::vector<std::uint8_t>& Get() const { return m_bytes; }
    std::size_t Size() const { return m_bytes.size(); }
    bool operator==(const Bytes& other) const = default;
    bool operator==(const std::vector<std::uint8_t>& other) const { return m_bytes == other; }

private:
    std::vector<std::uint8_t> m_bytes;
};

// "0a ff ..." for failure messages (the first `limit` bytes).
std::string HexDump(const std::vector<std::uint8_t>& bytes, std::size_t limit = 64);
