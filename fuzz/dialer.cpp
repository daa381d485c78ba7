// The dialer's settings as a console uploads them: arbitrary archive bytes loaded into a dialer
// that holds a profile, or into a single profile. A load either fails and leaves the dialer or
// profile as it was, or yields profiles kept under their own names that the store can keep
// apart, and an image that reloads unchanged. The first byte picks the case.

#include "ArchiveFuzz.h"
#include "dialer/Dialer.h"
#include "foundation/RegistryStore.h"
#include "platform/kernel/Paths.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

template <class T>
void CheckRoundTrip(T& loaded) {
    const std::vector<std::uint8_t> image = Store(loaded);
    T again;
    Check(Load(image.data(), image.size(), [&](CArchive& ar) { again.Serialize(ar); }));
    Check(Store(again) == image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const bool wholeDialer = data[0] % 2 == 0;
    ++data;
    --size;
    if (wholeDialer) {
        CDialer dialer;
        dialer.AddProfile(new CDialerProfile("keep"));
        const std::vector<std::uint8_t> before = Store(dialer);
        if (!Load(data, size, [&](CArchive& ar) { dialer.Serialize(ar); })) {
            Check(Store(dialer) == before);
            return 0;
        }
        std::unordered_set<std::string> folded;
        for (const CRef<CDialerProfile>& profile : dialer.GetProfiles()) {
            Check(IsSafeName(profile->GetName()));
            Check(folded.insert(RegFoldName(profile->GetName())).second);
            Check(dialer.FindProfile(profile->GetName()).Get() == profile.Get());
        }
        for (const std::string& site : dialer.GetLocalSites())
            Check(!site.empty());
        CheckRoundTrip(dialer);
    } else {
        CDialerProfile profile("keep");
        const std::vector<std::uint8_t> before = Store(profile);
        if (!Load(data, size, [&](CArchive& ar) { profile.Serialize(ar); })) {
            Check(Store(profile) == before);
            return 0;
        }
        profile.GetDescriptionText();
        CheckRoundTrip(profile);
    }
    return 0;
}
