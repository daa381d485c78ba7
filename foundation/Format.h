#pragma once
// printf-style text for the library's operations that take a format and arguments. Formats are
// always the program's own literals (the compiler checks them against their arguments); text
// from outside is passed as an argument of "%s", never as a format.

#include <cstdarg>
#include <string>

#define NV_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))

std::string FormatText(const char* format, ...) NV_PRINTF_FORMAT(1, 2);
std::string FormatTextV(const char* format, va_list args) NV_PRINTF_FORMAT(1, 0);
