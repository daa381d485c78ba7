#include "engine/framework/DisplayText.h"

#include "engine/framework/FrameworkFormat.h"

#include <cstdio>

std::string SanitizeDisplayText(std::string_view text) {
    std::string out;
    out.reserve(std::min(text.size(), FrameworkFormat::kMaxDisplayText));
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        char unit[8] = {c, 0};
        if (byte < 0x20 || byte == 0x7F)
            std::snprintf(unit, sizeof unit, "\\x%02X", byte);
        const std::string_view piece(unit, byte < 0x20 || byte == 0x7F ? 4 : 1);
        if (out.size() + piece.size() > FrameworkFormat::kMaxDisplayText)
            break;
        out.append(piece);
    }
    return out;
}
