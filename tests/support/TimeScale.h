#pragma once
// Time limits of tests that wait for something to happen, for the build under test: sanitizer
// builds run several times slower than plain ones, and CI shares its machine with other work.
// NORVANE_TIME_SCALE (the end-to-end harness sets it for the programs it starts) overrides the
// build's own factor. A limit on what must NOT happen may stay as it is.

#include <cstdlib>

inline double TestTimeScale() {
    static const double scale = [] {
        const char* text = std::getenv("NORVANE_TIME_SCALE");
        const double value = text != nullptr ? std::atof(text) : 0.0;
        if (value > 0.0)
            return value;
#if defined(__SANITIZE_THREAD__)
        return 5.0;
#elif defined(__SANITIZE_ADDRESS__)
        return 3.0;
#else
        return 1.0;
#endif
    }();
    return scale;
}

// `ms` of a plain build, for the build under test.
inline int ScaledMs(int ms) { return static_cast<int>(ms * TestTimeScale()); }
