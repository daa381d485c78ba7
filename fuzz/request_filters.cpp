// Request filters as a console sends them: a filter collection (into one that already holds a
// filter, so that the replace-on-success path runs too) or a single criterion loaded from
// arbitrary archive bytes, then described, copied and tested against a request and a cache
// entry whose values come from the input as well. The first byte picks the case.

#include "engine/access/RequestFilterCollection.h"
#include "foundation/Archive.h"
#include "foundation/MemFile.h"
#include "foundation/ScopedLock.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace {

// Answers every index with a value whose type and contents come from the index and a seed.
class Values : public CRequestValueSource, public CCacheEntryValueSource {
public:
    explicit Values(std::uint8_t seed) : m_seed(seed) {}
    void GetValue(DWORD index, CNVDataObject& data) override { Fill(index, data); }
    void GetValue(DWORD index, CNVDataObject& data) const override { Fill(index, data); }
    void GetVariable(const std::string& name, CNVDataObject& data) override {
        data.SetString(name + "=value");
    }

private:
    void Fill(DWORD index, CNVDataObject& data) const {
        switch ((index + m_seed) % 5) {
        case 0: data.SetInt(static_cast<std::int32_t>(index) - 3); break;
        case 1: data.SetDWORD(index * 1000u); break;
        case 2: data.SetDouble(index / 3.0); break;
        case 3: data.SetString("Www.Example.COM/path"); break;
        default: break;  // not supplied
        }
    }
    std::uint8_t m_seed;
};

void Exercise(const CRequestFilterCollection& collection, std::uint8_t seed) {
    Values values(seed);
    collection.MatchRequest(values);
    collection.MatchCacheEntry(values);
    CRequestFilterCollection copy;
    copy.Copy(collection);
    CScopedLock lock(copy);
    for (CObject* filter : copy) {
        auto* requestFilter = static_cast<CRequestFilter*>(filter);
        CScopedLock criteria(requestFilter->GetCriteria());
        for (CObject* criterion : requestFilter->GetCriteria())
            static_cast<CRequestCriterion*>(criterion)->GetDescriptionText();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t pick = data[0];
    CMemFile file(data + 1, size - 1);
    try {
        CArchive ar(&file, CArchive::load, 128);
        if (pick % 2 == 0) {
            CRequestFilterCollection collection;
            collection.AddFilter(new CRequestFilter("old", ""));
            collection.Serialize(ar);
            Exercise(collection, pick);
        } else {
            std::unique_ptr<CRequestCriterion> criterion = ar.ReadOwnedObject<CRequestCriterion>();
            auto* filter = new CRequestFilter();
            filter->AddCriterion(criterion.release());
            CRequestFilterCollection collection;
            collection.AddFilter(filter);
            Exercise(collection, pick);
        }
    } catch (CException* e) {
        e->Delete();
    }
    return 0;
}
