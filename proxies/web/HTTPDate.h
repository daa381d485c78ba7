#pragma once
// HTTP dates: the three forms browsers and servers write, read into a time, and the one form
// the proxy writes. Times are seconds since 1970-01-01 00:00:00 UTC; every date is GMT, read
// and written as UTC with the English day and month names, whatever the machine's time zone
// and locale.

#include <cstdint>
#include <string>
#include <string_view>

// Reads `text` by its fourth character:
//   " "   asctime form   "Sun Nov  6 08:49:37 1994" (fields at fixed places)
//   ","   RFC 1123 form  "Sun, 06 Nov 1994 08:49:37 GMT" (fields at fixed places)
//   other RFC 850 form   "Sunday, 06-Nov-94 08:49:37 GMT": a word, then day-month-year and
//                        hour:minute:second; a year of one or two digits is in 2000-2049
//                        when below 50, else in 1950-1999.
// Numbers are decimal after optional leading spaces; month names are the English three-letter
// names in any case. The date is valid, and `time` set, when every field is there and the year
// is 1900-3000, the month 1-12, the day 1-31, the hour 0-23 and minute and second 0-59 (a day
// past the month's end counts on into the next month). Text after the fields is not read.
bool ParseHTTPDate(std::string_view text, std::int64_t& time);

// "Sun, 06 Nov 1994 08:49:37 GMT" for `time` (years 1-9999; earlier and later times are
// written as the first or last second of that range).
std::string FormatHTTPDate(std::int64_t time);
