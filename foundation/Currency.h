#pragma once
// A currency amount in the automation form the configuration exchanges: a signed 64-bit count
// of ten-thousandths of a unit with a validity status. The stream and the configuration store
// carry it as its high 32 bits (signed) and its low 32 bits (unsigned).
//
// Money never passes through floating point: the arithmetic below is exact integer
// arithmetic on the count. A result that does not fit the 64-bit count, and any result with
// an operand that is not valid, is an invalid amount with the count 0 (the caller sees the
// status instead of a wrapped number). The engine (user balances) and the console (its
// accounting page) share this one helper.
//
// Text form (Format, Parse): an optional '-', the whole units in decimal, and when the
// fraction is not zero a '.' and its digits without trailing zeros ("7.5", "-1.5",
// "0.0001", "12"). Parse also takes a leading '+', blanks around the number and trailing
// zeros ("7.50"), but at most four fraction digits and no thousands separators.

#include "platform/kernel/Types.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class CCurrency {
public:
    static constexpr std::int32_t valid = 0;
    static constexpr std::int32_t invalid = 1;
    static constexpr std::int32_t null = 2;
    // Ten-thousandths in one unit.
    static constexpr std::int64_t kScale = 10000;

    constexpr CCurrency() = default;
    constexpr explicit CCurrency(std::int64_t tenThousandths, std::int32_t status = valid)
        : m_value(tenThousandths), m_status(status) {}
    // Joins the two stored halves again.
    static constexpr CCurrency FromHalves(LONG high, DWORD low, std::int32_t status = valid) {
        const auto bits = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(high)) << 32) | low;
        return CCurrency(static_cast<std::int64_t>(bits), status);
    }
    // `units` whole units and `tenThousandths` more (the same sign as `units`, or any sign
    // when units is 0): FromUnits(7, 5000) is 7.5, FromUnits(-1, -5000) is -1.5. Invalid when
    // out of range.
    static CCurrency FromUnits(std::int64_t units, std::int64_t tenThousandths = 0);

    constexpr std::int64_t GetValue() const { return m_value; }
    constexpr void SetValue(std::int64_t tenThousandths) { m_value = tenThousandths; }
    constexpr LONG GetHigh() const {
        return static_cast<LONG>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(m_value) >> 32));
    }
    constexpr DWORD GetLow() const {
        return static_cast<DWORD>(static_cast<std::uint64_t>(m_value) & 0xFFFFFFFFu);
    }
    constexpr std::int32_t GetStatus() const { return m_status; }
    constexpr void SetStatus(std::int32_t status) { m_status = status; }
    constexpr bool IsValid() const { return m_status == valid; }

    // The amount in whole units, truncated toward zero, sign kept (-1.5 gives -1).
    constexpr std::int64_t GetWholeUnits() const { return m_value / kScale; }

    constexpr bool operator==(const CCurrency& other) const = default;

    // Checked sums and differences (see the top of this file).
    CCurrency operator+(const CCurrency& other) const;
    CCurrency operator-(const CCurrency& other) const;
    CCurrency& operator+=(const CCurrency& other) { return *this = *this + other; }
    CCurrency& operator-=(const CCurrency& other) { return *this = *this - other; }
    // The amount times `factor`, then divided by `divisor` with the quotient truncated toward
    // zero; the product is exact however large, only the final count must fit. Invalid for a
    // divisor of 0. Charges are computed with it: rate × units ÷ 10000.
    CCurrency MulDiv(std::int64_t factor, std::int64_t divisor) const;

    // The text form above. An amount that is not valid formats by its count all the same.
    std::string Format() const;
    // The amount of `text`, valid; nothing when the text is not of the form above or its
    // amount does not fit.
    static std::optional<CCurrency> Parse(std::string_view text);

private:
    std::int64_t m_value = 0;
    std::int32_t m_status = valid;
};
