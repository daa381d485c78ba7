#include "foundation/Currency.h"

#include <limits>

namespace {

constexpr CCurrency Invalid() { return CCurrency(0, CCurrency::invalid); }

// The 128-bit result as an amount, or invalid when it does not fit.
CCurrency Fit(__int128 value) {
    if (value < std::numeric_limits<std::int64_t>::min() || value > std::numeric_limits<std::int64_t>::max())
        return Invalid();
    return CCurrency(static_cast<std::int64_t>(value));
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

CCurrency CCurrency::FromUnits(std::int64_t units, std::int64_t tenThousandths) {
    return Fit(static_cast<__int128>(units) * kScale + tenThousandths);
}

CCurrency CCurrency::operator+(const CCurrency& other) const {
    if (!IsValid() || !other.IsValid())
        return Invalid();
    return Fit(static_cast<__int128>(m_value) + other.m_value);
}

CCurrency CCurrency::operator-(const CCurrency& other) const {
    if (!IsValid() || !other.IsValid())
        return Invalid();
    return Fit(static_cast<__int128>(m_value) - other.m_value);
}

CCurrency CCurrency::MulDiv(std::int64_t factor, std::int64_t divisor) const {
    if (!IsValid() || divisor == 0)
        return Invalid();
    // |value × factor| < 2^126, so the product and the quotient are exact in 128 bits;
    // integer division truncates toward zero.
    return Fit(static_cast<__int128>(m_value) * factor / divisor);
}

std::string CCurrency::Format() const {
    // The magnitude as unsigned, so that the most negative count formats too.
    const bool negative = m_value < 0;
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(m_value) : static_cast<std::uint64_t>(m_value);
    std::string text = negative ? "-" : "";
    text += std::to_string(magnitude / kScale);
    std::uint64_t fraction = magnitude % kScale;
    if (fraction != 0) {
        std::string digits = std::to_string(fraction + kScale).substr(1);  // four digits
        while (digits.back() == '0')
            digits.pop_back();
        text += '.';
        text += digits;
    }
    return text;
}

std::optional<CCurrency> CCurrency::Parse(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if (whole.empty() && fraction.empty())
        return std::nullopt;
    while (!fraction.empty() && fraction.back() == '0')
        fraction.remove_suffix(1);
    if (fraction.size() > 4)
        return std::nullopt;

    // The magnitude in 128 bits: a long run of digits is refused as soon as it leaves the
    // 64-bit range, so no input overflows the accumulator.
    __int128 count = 0;
    for (char c : whole) {
        if (c < '0' || c > '9')
            return std::nullopt;
        count = count * 10 + (c - '0');
        if (count > (static_cast<__int128>(1) << 64))
            return std::nullopt;
    }
    count *= kScale;
    std::int64_t scale = kScale / 10;
    for (char c : fraction) {
        if (c < '0' || c > '9')
            return std::nullopt;
        count += (c - '0') * scale;
        scale /= 10;
    }
    const CCurrency amount = Fit(negative ? -count : count);
    if (!amount.IsValid())
        return std::nullopt;
    return amount;
}
