#include "foundation/PortText.h"

#include <cstddef>

namespace {

constexpr std::size_t kMaxPortDigits = 5;
constexpr DWORD kMaxPort = 65535;

}  // namespace

std::optional<DWORD> ParsePortText(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9')
            return std::nullopt;
    while (text.size() > 1 && text.front() == '0')
        text.remove_prefix(1);
    if (text.size() > kMaxPortDigits)
        return std::nullopt;
    DWORD value = 0;
    for (char c : text)
        value = value * 10 + static_cast<DWORD>(c - '0');
    if (value < 1 || value > kMaxPort)
        return std::nullopt;
    return value;
}
