#include "engine/framework/DisplayText.h"

#include "engine/framework/FrameworkFormat.h"

#include <algorithm>

namespace {

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

}  // namespace

bool IsCleanDisplayText(std::string_view text) {
    return text.size() <= FrameworkFormat::kMaxDisplayText &&
           std::none_of(text.begin(), text.end(), IsControl);
}

std::string SanitizeDisplayText(std::string_view text) {
    using FrameworkFormat::kMaxDisplayText;
    // Most texts are plain: copied as they are, cut to the bound.
    if (std::none_of(text.begin(), text.end(), IsControl))
        return std::string(text.substr(0, kMaxDisplayText));
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(std::min(text.size(), kMaxDisplayText));
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const char escaped[4] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
        const std::string_view piece = IsControl(c) ? std::string_view(escaped, 4)
                                                    : std::string_view(&c, 1);
        if (out.size() + piece.size() > kMaxDisplayText)
            break;
        out.append(piece);
    }
    return out;
}
