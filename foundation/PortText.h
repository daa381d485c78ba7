#pragma once
// A port number as a client writes it in a request, a log-on or a command line.

#include "platform/kernel/Types.h"

#include <optional>
#include <string_view>

// The decimal value of `text`, or none unless it is only digits giving 1-65535 (leading zeros
// allowed, no sign, no spaces).
std::optional<DWORD> ParsePortText(std::string_view text);
