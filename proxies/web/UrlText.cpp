#include "proxies/web/UrlText.h"

#include <cstring>

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A letter, a digit, or one of `others`.
bool IsAlphanumericOr(unsigned char c, const char* others) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != 0 && std::strchr(others, c) != nullptr);
}

// `text` with every byte for which `standsAsIs` is false written as "%XX".
template <typename Predicate>
std::string PercentEncode(std::string_view text, Predicate standsAsIs) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string result;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (standsAsIs(byte)) {
            result += c;
        } else {
            result += '%';
            result += kDigits[byte >> 4];
            result += kDigits[byte & 0x0F];
        }
    }
    return result;
}

}  // namespace

std::string PercentDecode(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            result += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            result += text[i];
        }
    }
    return result;
}

std::string PercentEncodeUserInfo(std::string_view text) {
    return PercentEncode(text, [](unsigned char c) { return IsAlphanumericOr(c, "-._~!$&'()*+,;="); });
}

std::string PercentEncodePath(std::string_view text) {
    return PercentEncode(text, [](unsigned char c) { return IsAlphanumericOr(c, "-._~/"); });
}

bool HasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}
