#pragma once
// Big-endian (network order) integers inside byte strings, as the streaming protocols carry
// them. Callers check that the field lies inside the bytes before they read or write it.

#include "platform/kernel/Types.h"

#include <cstddef>
#include <string>
#include <string_view>

inline WORD ReadNetworkWord(std::string_view bytes, std::size_t offset) {
    return static_cast<WORD>(static_cast<unsigned char>(bytes[offset]) << 8 |
                             static_cast<unsigned char>(bytes[offset + 1]));
}

inline DWORD ReadNetworkDWord(std::string_view bytes, std::size_t offset) {
    return static_cast<DWORD>(ReadNetworkWord(bytes, offset)) << 16 |
           ReadNetworkWord(bytes, offset + 2);
}

inline void WriteNetworkWord(std::string& bytes, std::size_t offset, WORD value) {
    bytes[offset] = static_cast<char>(value >> 8);
    bytes[offset + 1] = static_cast<char>(value & 0xFF);
}

inline void WriteNetworkDWord(std::string& bytes, std::size_t offset, DWORD value) {
    WriteNetworkWord(bytes, offset, static_cast<WORD>(value >> 16));
    WriteNetworkWord(bytes, offset + 2, static_cast<WORD>(value & 0xFFFF));
}

// The bytes of a text field up to its first zero byte.
inline std::string TextUpToZero(std::string_view field) {
    return std::string(field.substr(0, field.find('\0')));
}
