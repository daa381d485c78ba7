#include "foundation/HexText.h"

void BytesToHex(std::string& out, const BYTE* bytes, std::size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    out.clear();
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] >= 0x10)
            out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0x0F];
    }
}
