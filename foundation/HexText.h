#pragma once
// Hexadecimal text of a digest as the link handshake exchanges it.

#include "platform/kernel/Types.h"

#include <cstddef>
#include <string>

// Empties `out`, then appends each byte in base 16 with lower-case letters and no leading zero:
// 0x00 gives "0", 0x0A gives "a", 0xFF gives "ff". Because of the missing zeros the text is
// not reversible (16 bytes give 16 to 32 characters, and two digests may give one text); peers
// compare it as it is.
void BytesToHex(std::string& out, const BYTE* bytes, std::size_t count);
