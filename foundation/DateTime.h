#pragma once
// A date-time in the automation form the configuration exchanges: a count of days since
// 1899-12-30 00:00 whose fraction is the time of day, with a validity status. Values compare
// by their count, so moments before 1899-12-30 order correctly too.

#include <compare>
#include <cstdint>

class CDateTime {
public:
    // Status values as they travel in the stream; any other 4-byte value is kept as read.
    static constexpr std::int32_t valid = 0;
    static constexpr std::int32_t invalid = 1;
    static constexpr std::int32_t null = 2;

    constexpr CDateTime() = default;
    constexpr explicit CDateTime(double days, std::int32_t status = valid)
        : m_days(days), m_status(status) {}

    constexpr double GetDays() const { return m_days; }
    constexpr void SetDays(double days) { m_days = days; }
    constexpr std::int32_t GetStatus() const { return m_status; }
    constexpr void SetStatus(std::int32_t status) { m_status = status; }
    constexpr bool IsValid() const { return m_status == valid; }

    constexpr bool operator==(const CDateTime& other) const = default;
    constexpr std::partial_ordering operator<=>(const CDateTime& other) const {
        return m_days <=> other.m_days;
    }

private:
    double m_days = 0.0;
    std::int32_t m_status = valid;
};
