// The simulated dial-up library's phonebook file, written by a user: any bytes must parse or
// be refused with the line that is wrong, and what parses must fit the records it fills.
#include "platform/ras/sim/SimConfig.h"
#include "platform/ras/sim/SimErrors.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool Fits(const std::string& text, std::size_t max) {
    if (text.size() > max)
        return false;
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            return false;
    return true;
}

void CheckOutcomes(const std::vector<rassim::Outcome>& outcomes) {
    if (outcomes.empty() || outcomes.size() > rassim::kMaxOutcomes)
        std::abort();
    for (const rassim::Outcome& o : outcomes)
        if (o.kind == rassim::Outcome::kFail &&
            (rassim::DialStep(o.state) >= rassim::kDialSteps - 1 || !rassim::IsDialError(o.error)))
            std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    rassim::Phonebook book;
    std::string error;
    if (!rassim::ParseConfig(text, book, error)) {
        if (error.empty() || !book.entries.empty())
            std::abort();
    } else {
        if (book.entries.size() > rassim::kMaxEntries)
            std::abort();
        for (const rassim::SimEntry& entry : book.entries) {
            bool fits = !entry.name.empty() && Fits(entry.name, RAS_MAX_ENTRY_NAME) &&
                        book.Find(entry.name) == &entry && Fits(entry.deviceType, RAS_MAX_DEVICE_TYPE) &&
                        Fits(entry.deviceName, RAS_MAX_DEVICE_NAME) &&
                        Fits(entry.ipAddress, RAS_MAX_IP_ADDRESS) &&
                        Fits(entry.serverIpAddress, RAS_MAX_IP_ADDRESS) &&
                        Fits(entry.userName.value_or(""), RAS_MAX_USER_NAME) &&
                        Fits(entry.password.value_or(""), RAS_MAX_PASSWORD) &&
                        Fits(entry.domain.value_or(""), RAS_MAX_DOMAIN) &&
                        entry.lingerMs <= rassim::kMaxDelayMs;
            for (std::uint32_t delay : entry.delayMs)
                fits = fits && delay <= rassim::kMaxDelayMs;
            if (!fits)
                std::abort();
            CheckOutcomes(entry.outcomes);
        }
    }
    std::vector<rassim::Outcome> outcomes;
    if (rassim::ParseOutcomes(text, outcomes, error))
        CheckOutcomes(outcomes);
    return 0;
}
