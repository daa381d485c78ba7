#include "foundation/DateTime.h"

#include "platform/kernel/Clock.h"

#include <climits>
#include <cmath>
#include <ctime>

namespace {

constexpr std::int64_t kSecondsPerDay = CDateTime::kSecondsPerDay;

// Days between 1970-01-01 and a date of the proleptic Gregorian calendar.
constexpr std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

struct CivilDate {
    std::int64_t year;
    int month;
    int day;
};

constexpr CivilDate CivilFromDays(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// Day 0 of the automation count.
constexpr std::int64_t kEpochFromUnix = DaysFromCivil(1899, 12, 30);
static_assert(kEpochFromUnix == -25569);

constexpr std::int64_t kMinSeconds = static_cast<std::int64_t>(CDateTime::kMinDays) * kSecondsPerDay;
constexpr std::int64_t kMaxSeconds =
    static_cast<std::int64_t>(CDateTime::kMaxDays) * kSecondsPerDay + kSecondsPerDay - 1;

constexpr std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

CDateTime CDateTime::FromParts(int year, int month, int day, int hour, int minute, int second) {
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59)
        return CDateTime(0.0, invalid);
    const std::int64_t days = DaysFromCivil(year, month, day) - kEpochFromUnix;
    return FromLinearSeconds(days * kSecondsPerDay + hour * 3600 + minute * 60 + second);
}

CDateTime CDateTime::FromTime(int hour, int minute, int second) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return CDateTime(0.0, invalid);
    return FromLinearSeconds(hour * 3600 + minute * 60 + second);
}

CDateTime CDateTime::FromLinearSeconds(std::int64_t seconds) {
    if (seconds < kMinSeconds || seconds > kMaxSeconds)
        return CDateTime(0.0, invalid);
    const std::int64_t days = FloorDiv(seconds, kSecondsPerDay);
    const double fraction =
        static_cast<double>(seconds - days * kSecondsPerDay) / static_cast<double>(kSecondsPerDay);
    // Before day 0 the fraction is stored with the day's sign (the negative-value rule).
    const double whole = static_cast<double>(days);
    return CDateTime(days >= 0 ? whole + fraction : whole - fraction);
}

CDateTime CDateTime::Now() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return FromParts(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
}

std::optional<std::int64_t> CDateTime::GetLinearSeconds() const {
    // The pre-check keeps the conversions below in range; the exact bounds follow.
    if (!IsValid() || !std::isfinite(m_days) || m_days < kMinDays - 1.0 || m_days > kMaxDays + 1.0)
        return std::nullopt;
    const double whole = std::trunc(m_days);
    const double fraction = std::fabs(m_days - whole);
    const std::int64_t seconds = static_cast<std::int64_t>(whole) * kSecondsPerDay +
                                 std::llround(fraction * static_cast<double>(kSecondsPerDay));
    if (seconds < kMinSeconds || seconds > kMaxSeconds)
        return std::nullopt;
    return seconds;
}

bool CDateTime::GetParts(DateTimeParts& parts) const {
    const std::optional<std::int64_t> seconds = GetLinearSeconds();
    if (!seconds)
        return false;
    const std::int64_t days = FloorDiv(*seconds, kSecondsPerDay);
    const std::int64_t ofDay = *seconds - days * kSecondsPerDay;
    const CivilDate date = CivilFromDays(days + kEpochFromUnix);
    parts.year = static_cast<int>(date.year);
    parts.month = date.month;
    parts.day = date.day;
    parts.hour = static_cast<int>(ofDay / 3600);
    parts.minute = static_cast<int>(ofDay / 60 % 60);
    parts.second = static_cast<int>(ofDay % 60);
    // Day 0 (1899-12-30) was a Saturday.
    parts.dayOfWeek = static_cast<int>((days % 7 + 7 + 6) % 7) + 1;
    parts.dayOfYear = static_cast<int>(days + kEpochFromUnix - DaysFromCivil(date.year, 1, 1)) + 1;
    return true;
}

int CDateTime::GetDayOfWeek() const {
    DateTimeParts parts;
    return GetParts(parts) ? parts.dayOfWeek : 0;
}

CDateTime CDateTime::GetTimeOfDay() const {
    const std::optional<std::int64_t> seconds = GetLinearSeconds();
    if (!seconds)
        return CDateTime(0.0, invalid);
    return FromLinearSeconds(*seconds - FloorDiv(*seconds, kSecondsPerDay) * kSecondsPerDay);
}

std::string CDateTime::Format(const char* format) const {
    DateTimeParts parts;
    if (format == nullptr || !GetParts(parts))
        return {};
    std::tm tm{};
    tm.tm_year = parts.year - 1900;
    tm.tm_mon = parts.month - 1;
    tm.tm_mday = parts.day;
    tm.tm_hour = parts.hour;
    tm.tm_min = parts.minute;
    tm.tm_sec = parts.second;
    tm.tm_wday = parts.dayOfWeek - 1;
    tm.tm_yday = parts.dayOfYear - 1;
    tm.tm_isdst = -1;
    char text[256];
    const std::size_t length = std::strftime(text, sizeof text, format, &tm);
    return std::string(text, length);
}

std::optional<CDateTime> CDateTime::Parse(std::string_view text, const char* format) {
    // Longer than any date and time in any locale; strptime needs its own terminated copy.
    constexpr std::size_t kMaxText = 128;
    if (format == nullptr || text.size() > kMaxText || text.find('\0') != std::string_view::npos)
        return std::nullopt;
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    const std::string copy(text);
    // Fields the text does not give keep these marks.
    std::tm tm{};
    tm.tm_year = INT_MIN;
    tm.tm_mon = -1;
    tm.tm_mday = 0;
    tm.tm_hour = -1;
    tm.tm_min = -1;
    tm.tm_sec = -1;
    const char* rest = strptime(copy.c_str(), format, &tm);
    if (rest == nullptr)
        return std::nullopt;
    for (; *rest != '\0'; ++rest) {
        if (*rest != ' ' && *rest != '\t')
            return std::nullopt;
    }
    const int hour = tm.tm_hour < 0 ? 0 : tm.tm_hour;
    const int minute = tm.tm_min < 0 ? 0 : tm.tm_min;
    const int second = tm.tm_sec < 0 ? 0 : tm.tm_sec;
    const bool hasYear = tm.tm_year != INT_MIN;
    const bool hasMonth = tm.tm_mon >= 0;
    const bool hasDay = tm.tm_mday > 0;
    CDateTime value;
    if (!hasYear && !hasMonth && !hasDay && tm.tm_hour >= 0)
        value = FromTime(hour, minute, second);
    else if (hasYear && hasMonth && hasDay && tm.tm_year <= INT_MAX - 1900)
        value = FromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, hour, minute, second);
    else
        return std::nullopt;
    if (!value.IsValid())
        return std::nullopt;
    return value;
}

std::partial_ordering CDateTime::operator<=>(const CDateTime& other) const {
    const std::optional<std::int64_t> mine = GetLinearSeconds();
    const std::optional<std::int64_t> theirs = other.GetLinearSeconds();
    if (!mine || !theirs)
        return std::partial_ordering::unordered;
    return *mine <=> *theirs;
}
