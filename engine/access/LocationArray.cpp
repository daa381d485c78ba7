#include "engine/access/LocationArray.h"

#include "engine/access/AccessFormat.h"
#include "engine/access/AccessStore.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"

#include <memory>
#include <vector>

IMPLEMENT_SERIAL(CLocationArray, CLockableArray, 1)

CLocationArray::~CLocationArray() { RemoveAll(); }

BOOL CLocationArray::AddLocation(CLocation* location) {
    CScopedLock lock(*this);
    if (location == nullptr || Find(location) >= 0)
        return FALSE;
    Add(location);
    return TRUE;
}

int CLocationArray::IndexOf(const CLocation* location) const {
    CScopedLock lock(*this);
    return static_cast<int>(Find(location));
}

CLocation* CLocationArray::GetLocation(std::size_t index) const {
    CScopedLock lock(*this);
    return index < GetSize() ? static_cast<CLocation*>(GetAt(index)) : nullptr;
}

std::ptrdiff_t CLocationArray::FindIndex(std::string_view filterText) const {
    for (std::size_t i = 0; i < GetSize(); ++i) {
        if (static_cast<const CLocation*>(GetAt(i))->GetFilter() == filterText)
            return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
}

CLocation* CLocationArray::FindLocation(std::string_view filterText) const {
    CScopedLock lock(*this);
    const std::ptrdiff_t index = FindIndex(filterText);
    return index < 0 ? nullptr : static_cast<CLocation*>(GetAt(static_cast<std::size_t>(index)));
}

BOOL CLocationArray::RemoveLocation(std::string_view filterText) {
    CScopedLock lock(*this);
    const std::ptrdiff_t index = FindIndex(filterText);
    if (index < 0)
        return FALSE;
    CObject* location = GetAt(static_cast<std::size_t>(index));
    RemoveAt(static_cast<std::size_t>(index));
    location->Release();
    return TRUE;
}

void CLocationArray::Swap(std::size_t a, std::size_t b) {
    CObject* first = GetAt(a);
    SetAt(a, GetAt(b));
    SetAt(b, first);
}

BOOL CLocationArray::PromoteLocation(std::string_view filterText) {
    CScopedLock lock(*this);
    const std::ptrdiff_t index = FindIndex(filterText);
    if (index <= 0)
        return FALSE;
    Swap(static_cast<std::size_t>(index) - 1, static_cast<std::size_t>(index));
    return TRUE;
}

BOOL CLocationArray::DemoteLocation(std::string_view filterText) {
    CScopedLock lock(*this);
    const std::ptrdiff_t index = FindIndex(filterText);
    if (index < 0 || static_cast<std::size_t>(index) + 1 >= GetSize())
        return FALSE;
    Swap(static_cast<std::size_t>(index), static_cast<std::size_t>(index) + 1);
    return TRUE;
}

std::string CLocationArray::GetUserForAddress(std::string_view addressText) const {
    CScopedLock lock(*this);
    for (const CObject* element : *this) {
        const auto* location = static_cast<const CLocation*>(element);
        if (location->Match(addressText))
            return location->GetUsername();
    }
    return {};
}

void CLocationArray::RemoveAll() {
    CScopedLock lock(*this);
    DeleteElements();
}

void CLocationArray::ReplaceWith(CLocationArray& fresh) {
    CScopedLock lock(*this);
    CScopedLock freshLock(fresh);
    std::vector<std::unique_ptr<CLocation>> taken;
    taken.reserve(fresh.GetSize());
    for (CObject* element : fresh)
        taken.emplace_back(static_cast<CLocation*>(element));
    fresh.CObjectArray::RemoveAll();
    ReplaceOwnedElements(*this, taken);
}

BOOL CLocationArray::SaveToRegistry(const std::string& keyPath) const {
    CScopedLock lock(*this);
    if (!RegDeleteKeyTree(keyPath))
        return FALSE;
    for (std::size_t i = 0; i < GetSize(); ++i) {
        const auto* location = static_cast<const CLocation*>(GetAt(i));
        if (!location->SaveToRegistry(NumberedSubKeyPath(keyPath, AccessFormat::kLocationKey, i)))
            return FALSE;
    }
    return TRUE;
}

void CLocationArray::LoadFromRegistry(const std::string& keyPath) {
    std::vector<std::unique_ptr<CLocation>> loaded;
    for (const std::string& name : RegEnumNumberedSubKeys(keyPath, AccessFormat::kLocationKey)) {
        auto location = std::make_unique<CLocation>();
        location->LoadFromRegistry(SubKeyPath(keyPath, name));
        loaded.push_back(std::move(location));
    }
    CScopedLock lock(*this);
    ReplaceOwnedElements(*this, loaded);
}

void CLocationArray::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        CScopedLock lock(*this);
        WriteElements(ar, *this);
        return;
    }
    std::vector<std::unique_ptr<CLocation>> loaded = ReadOwnedElements<CLocation>(ar);
    CScopedLock lock(*this);
    ReplaceOwnedElements(*this, loaded);
}
