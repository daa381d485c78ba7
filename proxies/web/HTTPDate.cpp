#include "proxies/web/HTTPDate.h"

#include "foundation/Format.h"
#include "proxies/web/WWWTexts.h"

#include <chrono>
#include <optional>

namespace {

using namespace std::chrono;

constexpr const char* kMonthNames[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr const char* kMonthTitles[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kDayTitles[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

// More digits than this are out of every field's range.
constexpr std::size_t kMaxDigits = 9;

// The first and last second FormatHTTPDate writes: 0001-01-01 00:00:00, 9999-12-31 23:59:59.
constexpr std::int64_t kFirstSecond = -62135596800;
constexpr std::int64_t kLastSecond = 253402300799;

struct SDateFields {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// The month number of a name (1-12), or 0.
unsigned MonthNumber(std::string_view name) {
    if (name.size() != 3)
        return 0;
    for (unsigned i = 0; i < 12; ++i) {
        bool same = true;
        for (std::size_t k = 0; k < 3; ++k) {
            char c = name[k];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            same = same && c == kMonthNames[i][k];
        }
        if (same)
            return i + 1;
    }
    return 0;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A fixed-place field: optional leading spaces, then only digits to its end.
std::optional<unsigned> FixedNumber(std::string_view text, std::size_t first, std::size_t last) {
    if (last >= text.size())
        return std::nullopt;
    std::string_view field = text.substr(first, last - first + 1);
    while (!field.empty() && field.front() == ' ')
        field.remove_prefix(1);
    if (field.empty())
        return std::nullopt;
    unsigned value = 0;
    for (char c : field) {
        if (!IsDigit(c))
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

// Reads the RFC 850 form as "%*[^ ] %u-%[^-]-%u %u:%u:%u" does, without fixed buffers.
class CScanner {
public:
    explicit CScanner(std::string_view text) : m_text(text) {}

    bool SkipWord() {  // one or more characters up to a space
        const std::size_t start = m_at;
        while (m_at < m_text.size() && m_text[m_at] != ' ')
            ++m_at;
        return m_at > start;
    }
    void SkipSpace() {
        while (m_at < m_text.size() && IsSpace(m_text[m_at]))
            ++m_at;
    }
    bool Literal(char c) {
        if (m_at >= m_text.size() || m_text[m_at] != c)
            return false;
        ++m_at;
        return true;
    }
    // Unsigned decimal after white space; `digits` receives how many digits it had.
    bool Number(unsigned& value, std::size_t* digits = nullptr) {
        SkipSpace();
        const std::size_t start = m_at;
        value = 0;
        while (m_at < m_text.size() && IsDigit(m_text[m_at])) {
            if (m_at - start == kMaxDigits)
                return false;
            value = value * 10 + static_cast<unsigned>(m_text[m_at] - '0');
            ++m_at;
        }
        if (digits)
            *digits = m_at - start;
        return m_at > start;
    }
    // One or more characters up to a "-".
    bool UpTo(char stop, std::string_view& part) {
        const std::size_t start = m_at;
        while (m_at < m_text.size() && m_text[m_at] != stop)
            ++m_at;
        part = m_text.substr(start, m_at - start);
        return m_at > start;
    }

private:
    static bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

    std::string_view m_text;
    std::size_t m_at = 0;
};

std::optional<SDateFields> ReadFixed(std::string_view text, std::size_t year, std::size_t month,
                                     std::size_t day, std::size_t hour, std::size_t minute,
                                     std::size_t second, std::size_t yearLength) {
    SDateFields f;
    auto y = FixedNumber(text, year, year + yearLength - 1);
    auto d = FixedNumber(text, day, day + 1);
    auto h = FixedNumber(text, hour, hour + 1);
    auto mi = FixedNumber(text, minute, minute + 1);
    auto s = FixedNumber(text, second, second + 1);
    if (!y || !d || !h || !mi || !s || month + 3 > text.size())
        return std::nullopt;
    f.year = *y;
    f.month = MonthNumber(text.substr(month, 3));
    f.day = *d;
    f.hour = *h;
    f.minute = *mi;
    f.second = *s;
    return f;
}

std::optional<SDateFields> ReadRFC850(std::string_view text) {
    SDateFields f;
    CScanner scan(text);
    std::string_view month;
    std::size_t yearDigits = 0;
    if (!scan.SkipWord())
        return std::nullopt;
    scan.SkipSpace();
    if (!scan.Number(f.day) || !scan.Literal('-') || !scan.UpTo('-', month) ||
        !scan.Literal('-') || !scan.Number(f.year, &yearDigits))
        return std::nullopt;
    scan.SkipSpace();
    if (!scan.Number(f.hour) || !scan.Literal(':') || !scan.Number(f.minute) ||
        !scan.Literal(':') || !scan.Number(f.second))
        return std::nullopt;
    f.month = MonthNumber(month);
    if (yearDigits <= 2)
        f.year += f.year < 50 ? 2000 : 1900;
    return f;
}

}  // namespace

bool ParseHTTPDate(std::string_view text, std::int64_t& time) {
    if (text.size() < 4)
        return false;
    std::optional<SDateFields> fields;
    if (text[3] == ' ')
        fields = ReadFixed(text, 20, 4, 8, 11, 14, 17, 4);
    else if (text[3] == ',')
        fields = ReadFixed(text, 12, 8, 5, 17, 20, 23, 4);
    else
        fields = ReadRFC850(text);
    if (!fields)
        return false;
    const SDateFields& f = *fields;
    if (f.year < 1900 || f.year > 3000 || f.month < 1 || f.month > 12 || f.day < 1 || f.day > 31 ||
        f.hour > 23 || f.minute > 59 || f.second > 59)
        return false;
    // A day past the month's end counts on into the next month, as a calendar sum does.
    const sys_days date = sys_days(year(static_cast<int>(f.year)) / month(f.month) / 1) +
                          days(f.day - 1);
    time = date.time_since_epoch().count() * 86400LL + f.hour * 3600LL + f.minute * 60LL +
           f.second;
    return true;
}

std::string FormatHTTPDate(std::int64_t time) {
    if (time < kFirstSecond)
        time = kFirstSecond;
    if (time > kLastSecond)
        time = kLastSecond;
    const sys_seconds moment{seconds(time)};
    const sys_days date = floor<days>(moment);
    const year_month_day ymd(date);
    const hh_mm_ss<seconds> clock(moment - date);
    return FormatText(kHTTPDateFormat, kDayTitles[weekday(date).c_encoding()],
                      static_cast<unsigned>(ymd.day()),
                      kMonthTitles[static_cast<unsigned>(ymd.month()) - 1],
                      static_cast<int>(ymd.year()), static_cast<unsigned>(clock.hours().count()),
                      static_cast<unsigned>(clock.minutes().count()),
                      static_cast<unsigned>(clock.seconds().count()));
}
