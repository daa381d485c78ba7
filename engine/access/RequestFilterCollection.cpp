#include "engine/access/RequestFilterCollection.h"

#include "engine/access/AccessFormat.h"
#include "engine/access/AccessStore.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"

#include <memory>
#include <vector>

IMPLEMENT_SERIAL(CRequestFilterCollection, CLockableList, 1)

namespace {

using FilterVector = std::vector<std::unique_ptr<CRequestFilter>>;

}  // namespace

CRequestFilterCollection::~CRequestFilterCollection() { RemoveAll(); }

BOOL CRequestFilterCollection::AddFilter(CRequestFilter* filter) {
    CScopedLock lock(*this);
    if (filter == nullptr || Contains(filter))
        return FALSE;
    AddTail(filter);
    return TRUE;
}

BOOL CRequestFilterCollection::RemoveFilter(CRequestFilter* filter) {
    {
        CScopedLock lock(*this);
        if (filter == nullptr || !Remove(filter))
            return FALSE;
    }
    filter->Release();
    return TRUE;
}

void CRequestFilterCollection::RemoveAll() {
    CScopedLock lock(*this);
    DeleteElements();
}

void CRequestFilterCollection::Copy(const CRequestFilterCollection& other) {
    if (&other == this)
        return;
    FilterVector copies;
    {
        CScopedLock lock(other);
        for (const CObject* element : other) {
            auto copy = std::make_unique<CRequestFilter>();
            copy->Copy(*static_cast<const CRequestFilter*>(element));
            copies.push_back(std::move(copy));
        }
    }
    CScopedLock lock(*this);
    ReplaceOwnedElements(*this, copies);
}

template <class Test>
BOOL CRequestFilterCollection::Any(Test test) const {
    CScopedLock lock(*this);
    for (const CObject* element : *this) {
        if (test(*static_cast<const CRequestFilter*>(element)))
            return TRUE;
    }
    return FALSE;
}

BOOL CRequestFilterCollection::MatchRequest(CRequestValueSource& source) const {
    return Any([&](const CRequestFilter& filter) { return filter.MatchRequest(source); });
}

BOOL CRequestFilterCollection::MatchCacheEntry(const CCacheEntryValueSource& entry) const {
    return Any([&](const CRequestFilter& filter) { return filter.MatchCacheEntry(entry); });
}

BOOL CRequestFilterCollection::SaveToRegistry(const std::string& keyPath) const {
    CScopedLock lock(*this);
    if (!RegDeleteKeyTree(keyPath))
        return FALSE;
    return SaveNumberedElements<CRequestFilter>(
        *this, keyPath, AccessFormat::kFilterKey,
        [](const CRequestFilter& filter, const std::string& path) { return filter.SaveToRegistry(path); });
}

void CRequestFilterCollection::LoadFromRegistry(const std::string& keyPath) {
    FilterVector loaded = LoadSubKeyElements<CRequestFilter>(
        keyPath, AccessFormat::kFilterKey, [](const std::string& path) {
            auto filter = std::make_unique<CRequestFilter>();
            filter->LoadFromRegistry(path);
            return filter;
        });
    CScopedLock lock(*this);
    ReplaceOwnedElements(*this, loaded);
}

void CRequestFilterCollection::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        CScopedLock lock(*this);
        WriteElements(ar, *this);
        return;
    }
    FilterVector loaded = ReadOwnedElements<CRequestFilter>(ar);
    CScopedLock lock(*this);
    ReplaceOwnedElements(*this, loaded);
}
