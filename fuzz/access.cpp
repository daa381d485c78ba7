// The access-control objects a console sends: a location array, a location and a time
// filter loaded from arbitrary archive bytes (each into an object that already holds
// elements, so that the replace-on-success path runs too), and the address patterns they
// carry, matched against arbitrary addresses. The first byte picks the case.

#include "engine/access/IPFilter.h"
#include "engine/access/LocationArray.h"
#include "engine/access/TimeFilter.h"
#include "foundation/Archive.h"
#include "foundation/MemFile.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace {

template <class Fn>
void Load(const std::uint8_t* data, std::size_t size, Fn read) {
    CMemFile file(data, size);
    try {
        CArchive ar(&file, CArchive::load, 128);
        read(ar);
    } catch (CException* e) {
        e->Delete();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t pick = data[0] % 5;
    ++data;
    --size;
    switch (pick) {
        case 0: {
            CLocationArray array;
            array.AddLocation(new CLocation("10.*", "old"));
            Load(data, size, [&](CArchive& ar) { array.Serialize(ar); });
            array.GetUserForAddress("10.1.2.3");
            break;
        }
        case 1: {
            CTimeFilter filter;
            filter.AddInclusion(new CTimeSlice());
            Load(data, size, [&](CArchive& ar) { filter.Serialize(ar); });
            filter.Includes(CDateTime::FromParts(2024, 6, 3, 12, 0, 0));
            CTimeFilter copy;
            copy.Copy(filter);
            break;
        }
        case 2: {
            Load(data, size, [&](CArchive& ar) {
                std::unique_ptr<CObject> object(ar.ReadOwnedObject(nullptr, true));
                if (auto* location = dynamic_cast<CLocation*>(object.get()))
                    location->Match("192.168.1.1");
                if (auto* slice = dynamic_cast<CTimeSlice*>(object.get())) {
                    slice->Includes(CDateTime::FromParts(2024, 6, 3, 12, 0, 0));
                    slice->GetDescriptionText();
                }
            });
            break;
        }
        default: {
            // A pattern and an address, split at the first NUL.
            const std::string_view text(reinterpret_cast<const char*>(data), size);
            const std::size_t split = text.find('\0');
            const std::string_view pattern = text.substr(0, split);
            const std::string_view address = split == std::string_view::npos ? "" : text.substr(split + 1);
            CIPFilter filter{std::string(pattern)};
            const bool matched = filter.Match(address);
            if (matched != CIPFilter::MatchPattern(pattern, address))
                __builtin_trap();
            break;
        }
    }
    return 0;
}
