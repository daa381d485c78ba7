// Texts read from the configuration store are untrusted; one is used as a format only when
// FormatHasConversions accepts it for the arguments passed. Arbitrary bytes as a stored text:
// whatever the check accepts must format without reading past its arguments (the sanitizers
// catch it), and the socket layer's lookup text must come out either formatted or built in.
// The first byte picks the conversions expected.

#include "foundation/Format.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::string format(reinterpret_cast<const char*>(data + 1), size - 1);
    const char* text = format.c_str();  // as the store's text is used: up to its first NUL
    switch (data[0] % 4) {
    case 0:
        if (FormatHasConversions(text, "s"))
            FormatText(text, "host.example");
        break;
    case 1:
        if (FormatHasConversions(text, "su"))
            FormatText(text, "host.example", 8080u);
        break;
    case 2:
        if (FormatHasConversions(text, "i"))
            FormatText(text, -10060);
        break;
    default:
        if (FormatHasConversions(text, ""))
            FormatText(text, 0);  // an argument the text must not read
        break;
    }
    return 0;
}
