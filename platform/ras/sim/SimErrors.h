#pragma once
// The simulated dial-up library's texts of its result codes: one table, holding every code the
// library can answer and every code a phonebook file may end a dial with.

#include <cstdint>

namespace rassim {

// The text of `code`, or null when the library has none (0 among them).
const char* ErrorText(std::uint32_t code);

// True when a dial may end with `code`: a dial-up code (600 and above) with a text.
bool IsDialError(std::uint32_t code);

}  // namespace rassim
