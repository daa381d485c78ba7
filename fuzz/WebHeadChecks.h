#pragma once
// Checks the web harnesses share: a failed check aborts, which libFuzzer reports as a crash.

#include "Require.h"

#include <cstddef>
#include <string>
#include <string_view>

// Every line of `head` ends in CR LF and holds no other CR or LF; the head ends at its only
// blank line.
inline void CheckHead(const std::string& head) {
    Require(head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0);
    Require(head.find("\r\n\r\n") == head.size() - 4);
    std::size_t start = 0;
    while (start < head.size()) {
        const std::size_t end = head.find("\r\n", start);
        Require(end != std::string::npos);
        const std::string_view line(head.data() + start, end - start);
        Require(line.find_first_of("\r\n") == std::string_view::npos);
        start = end + 2;
    }
}
