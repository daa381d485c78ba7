#include "foundation/Scrambler.h"

void ScramblePassword(std::string& text) {
    for (std::string::size_type i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>(static_cast<unsigned char>(text[i]) ^ ((2 * i + 2) & 0xFF));
}

std::string ScrambledPassword(std::string text) {
    ScramblePassword(text);
    return text;
}
