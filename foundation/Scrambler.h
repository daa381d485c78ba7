#pragma once
// The reversible scrambler under which user, dialer-profile and link passwords are stored.
// It hides a password from a casual look at the store; it is not encryption.
//
// Byte i becomes byte i XOR ((2 * i + 2) mod 256). The scrambled form has the same length and
// may hold NUL bytes (a character equal to its position's key scrambles to 0), so it is always
// handled as a byte string of known length: stored whole as a string value and carried whole
// in archives.

#include <string>

// Replaces `text` by its scrambled form; applied to a scrambled text it gives the plain text.
void ScramblePassword(std::string& text);
// The scrambled form of `text` (of a scrambled text: the plain text).
std::string ScrambledPassword(std::string text);
