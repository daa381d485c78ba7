#pragma once
// The harnesses' check: a failed one aborts, which libFuzzer reports as a crash.

#include <cstdlib>

inline void Require(bool condition) {
    if (!condition)
        std::abort();
}
