#include "foundation/Format.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>

std::string FormatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatTextV(format, args);
    va_end(args);
    return text;
}

std::string FormatTextV(const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

bool FormatHasConversions(std::string_view format, std::string_view expected) {
    // False when more digits follow than a width or precision may have.
    const auto skipDigits = [&](std::size_t& i) {
        const std::size_t start = i;
        while (i < format.size() && std::isdigit(static_cast<unsigned char>(format[i])))
            ++i;
        return i - start <= kMaxFormatFieldDigits;
    };
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%')
            continue;
        if (++i >= format.size())
            return false;  // a lone '%' at the end
        if (format[i] == '%')
            continue;
        while (i < format.size() && format[i] != '\0' && std::strchr("-+ #0", format[i]))
            ++i;
        if (!skipDigits(i))
            return false;
        if (i < format.size() && format[i] == '.') {
            ++i;
            if (!skipDigits(i))
                return false;
        }
        if (i >= format.size() || next >= expected.size() || format[i] != expected[next])
            return false;
        ++next;
    }
    return next == expected.size();
}

namespace {

template <class T>
std::optional<T> ParseDecimal(std::string_view text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<DWORD> ParseDecimalDword(std::string_view text) { return ParseDecimal<DWORD>(text); }

std::optional<int> ParseDecimalInt(std::string_view text) { return ParseDecimal<int>(text); }
