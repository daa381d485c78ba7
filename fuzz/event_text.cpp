// Event texts: a message text and insertion strings from arbitrary bytes (NUL-separated: the
// text first, then up to 99 strings). The substitution must stay bounded, never read an
// insertion string as a marker, and the one-line form must hold no control byte.

#include "platform/service/EventLog.h"
#include "platform/service/LogSink.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && parts.size() < 100)
            parts.emplace_back();
        else
            parts.back() += static_cast<char>(data[i]);
    }
    const std::string text = parts.front();
    const std::vector<std::string> strings(parts.begin() + 1, parts.end());
    const std::string out = SubstituteInsertions(text, strings);
    if (out.size() > 8192)
        std::abort();
    // Without markers the text comes back unchanged (up to the bound).
    if (text.find('%') == std::string::npos && text.size() <= 8192 && out != text)
        std::abort();
    for (unsigned char c : OneLine(out))
        if (c < 0x20 || c == 0x7F)
            std::abort();
    return 0;
}
