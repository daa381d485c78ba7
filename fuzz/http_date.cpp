// Reads arbitrary text as an HTTP date; a date that reads is written and must read back as
// the same time. The first eight bytes, taken as a time, are written and read back too.

#include "proxies/web/HTTPDate.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::int64_t time = 0;
    if (ParseHTTPDate(text, time)) {
        std::int64_t again = 0;
        if (!ParseHTTPDate(FormatHTTPDate(time), again) || again != time)
            std::abort();
    }
    if (size >= 8) {
        std::int64_t any = 0;
        std::memcpy(&any, data, sizeof any);
        // Years 1900-3000 read back; the others only have to be written.
        const std::string written = FormatHTTPDate(any);
        std::int64_t back = 0;
        if (any >= -2208988800 && any <= 32535215999 && (!ParseHTTPDate(written, back) || back != any))
            std::abort();
    }
    return 0;
}
