// Reads arbitrary text as the console's edits read typed values: amounts and date-times in the
// forms the sheets show. Whatever parses formats back to text that parses to the same value.

#include "foundation/Currency.h"
#include "foundation/DateTime.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (std::optional<CCurrency> amount = CCurrency::Parse(text)) {
        if (CCurrency::Parse(amount->Format()) != amount)
            std::abort();
    }
    for (const char* format : {"%Y-%m-%d %H:%M:%S", "%Y-%m-%d", "%X", "%H:%M"}) {
        std::optional<CDateTime> moment = CDateTime::Parse(text, format);
        if (!moment)
            continue;
        std::optional<std::int64_t> seconds = moment->GetLinearSeconds();
        std::optional<CDateTime> again = CDateTime::Parse(moment->Format("%Y-%m-%d %H:%M:%S"), "%Y-%m-%d %H:%M:%S");
        if (!seconds || !again || again->GetLinearSeconds() != seconds)
            std::abort();
    }
    return 0;
}
