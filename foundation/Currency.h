#pragma once
// A currency amount in the automation form the configuration exchanges: a signed 64-bit count
// of ten-thousandths of a unit with a validity status. The stream and the configuration store
// carry it as its high 32 bits (signed) and its low 32 bits (unsigned).

#include "platform/kernel/Types.h"

#include <cstdint>

class CCurrency {
public:
    static constexpr std::int32_t valid = 0;
    static constexpr std::int32_t invalid = 1;
    static constexpr std::int32_t null = 2;

    constexpr CCurrency() = default;
    constexpr explicit CCurrency(std::int64_t tenThousandths, std::int32_t status = valid)
        : m_value(tenThousandths), m_status(status) {}
    // Joins the two stored halves again.
    static constexpr CCurrency FromHalves(LONG high, DWORD low, std::int32_t status = valid) {
        const auto bits = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(high)) << 32) | low;
        return CCurrency(static_cast<std::int64_t>(bits), status);
    }

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

    constexpr bool operator==(const CCurrency& other) const = default;

private:
    std::int64_t m_value = 0;
    std::int32_t m_status = valid;
};
