#pragma once
// A date-time in the automation form the configuration exchanges: a count of days since
// 1899-12-30 00:00 whose fraction is the time of day, with a validity status. The engine's
// time filters and the console's time dialogs both work through this one type.
//
// The stored count follows the automation date's rule for negative values: the whole part
// is the day (truncated towards zero, so -1 is 1899-12-29) and the fraction, taken without
// its sign, is the time of day. -1.25 is 1899-12-29 06:00 and -1.75 is 1899-12-29 18:00;
// -0.5 and 0.5 both are 1899-12-30 12:00. The "linear" count is the moment on one
// continuous scale (days + time of day), which orders every moment correctly; -1.25 is
// linear -0.75.
//
// Moments are whole seconds: decoding rounds to the nearest second, and ordering compares
// whole seconds, so a bound entered as 17:00:00 and a moment of 17:00:00 are equivalent even
// when their stored counts differ in the last bits. operator== is stricter: the same status
// and the same stored count (identity of the stored value, as after a round trip).
//
// Counts are decodable between 0100-01-01 (-657434) and 9999-12-31 23:59:59 (2958465.99999);
// a value outside that range, a count that is not a number, or a status other than valid
// has no moment: it decodes to nothing, formats as "" and is unordered against everything.

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The broken-down form of a moment.
struct DateTimeParts {
    int year = 1899;
    int month = 12;      // 1-12
    int day = 30;        // 1-31
    int hour = 0;        // 0-23
    int minute = 0;      // 0-59
    int second = 0;      // 0-59
    int dayOfWeek = 7;   // 1 = Sunday ... 7 = Saturday
    int dayOfYear = 364; // 1-366
};

class CDateTime {
public:
    // Status values as they travel in the stream; any other 4-byte value is kept as read.
    static constexpr std::int32_t valid = 0;
    static constexpr std::int32_t invalid = 1;
    static constexpr std::int32_t null = 2;

    static constexpr double kMinDays = -657434.0;           // 0100-01-01 00:00:00
    static constexpr double kMaxDays = 2958465.99999;       // 9999-12-31 23:59:59
    static constexpr std::int64_t kSecondsPerDay = 86400;

    constexpr CDateTime() = default;
    constexpr explicit CDateTime(double days, std::int32_t status = valid)
        : m_days(days), m_status(status) {}

    // The moment of those fields; status invalid (count 0) when a field is out of its range
    // (year 100-9999, month 1-12, day within its month, hour 0-23, minute and second 0-59).
    static CDateTime FromParts(int year, int month, int day, int hour = 0, int minute = 0,
                               int second = 0);
    // That time of day on 1899-12-30 (count 0.0 to just below 1.0); invalid out of range.
    static CDateTime FromTime(int hour, int minute, int second);
    // The moment that many seconds after 1899-12-30 00:00 on the linear scale (negative:
    // before it); invalid outside the decodable range.
    static CDateTime FromLinearSeconds(std::int64_t seconds);
    // The current local time, to the second.
    static CDateTime Now();

    constexpr double GetDays() const { return m_days; }
    constexpr void SetDays(double days) { m_days = days; }
    constexpr std::int32_t GetStatus() const { return m_status; }
    constexpr void SetStatus(std::int32_t status) { m_status = status; }
    constexpr bool IsValid() const { return m_status == valid; }

    // Whole seconds since 1899-12-30 00:00 on the linear scale; nothing when the value has
    // no moment (see the top of this file).
    std::optional<std::int64_t> GetLinearSeconds() const;
    // The fields of the moment; false (parts untouched) when it has none.
    bool GetParts(DateTimeParts& parts) const;
    // 1 = Sunday ... 7 = Saturday; 0 when the value has no moment.
    int GetDayOfWeek() const;
    // The same time of day on 1899-12-30 (how recurring windows keep their bounds); invalid
    // when the value has no moment.
    CDateTime GetTimeOfDay() const;
    // The moment through strftime in the current locale ("%X" its time, "%c" its date and
    // time); "" when it has no moment. `format` is the program's own literal, never outside
    // text.
    std::string Format(const char* format) const;
    // The moment that `text` writes in `format` (strptime's conversions in the current locale,
    // so what Format wrote with the same format reads back), blanks around it allowed. A
    // format without date fields reads a time of day (on 1899-12-30, as FromTime); parts of
    // the time the format lacks are 0. Nothing when the text does not match the whole format,
    // names no moment, gives only part of a date, or neither a date nor an hour.
    static std::optional<CDateTime> Parse(std::string_view text, const char* format);

    constexpr bool operator==(const CDateTime& other) const = default;
    std::partial_ordering operator<=>(const CDateTime& other) const;

private:
    double m_days = 0.0;
    std::int32_t m_status = valid;
};
