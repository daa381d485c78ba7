#pragma once
// printf-style text for the library's operations that take a format and arguments. Formats are
// always the program's own literals (the compiler checks them against their arguments); text
// from outside is passed as an argument of "%s", never as a format.

#include "platform/kernel/Types.h"

#include <cstdarg>
#include <optional>
#include <string>
#include <string_view>

#define NV_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))

std::string FormatText(const char* format, ...) NV_PRINTF_FORMAT(1, 2);
std::string FormatTextV(const char* format, va_list args) NV_PRINTF_FORMAT(1, 0);

// True when `format` holds, in this order, exactly the conversions named in `expected` (one
// conversion letter each, e.g. "s" or "su") and otherwise only plain text and "%%". Flags, a
// width and a precision of at most kMaxFormatFieldDigits digits each are allowed (so a stored
// text cannot ask for a field of gigabytes); '*', '$', length modifiers, "%n" and every
// conversion not expected make it false. A text read from the configuration store is used as a
// format only when this holds for the arguments its caller passes.
inline constexpr std::size_t kMaxFormatFieldDigits = 3;
bool FormatHasConversions(std::string_view format, std::string_view expected);

// Numbers written into texts by "%u" and "%i" read back strictly: decimal digits only (and,
// for the signed form, one leading '-'), nothing before or after, within the type's range.
// None for anything else, the empty text included.
std::optional<DWORD> ParseDecimalDword(std::string_view text);
std::optional<int> ParseDecimalInt(std::string_view text);
