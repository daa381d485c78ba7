#include "engine/access/TimeFilter.h"

#include "engine/access/AccessFormat.h"
#include "engine/access/AccessStore.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"

#include <memory>
#include <vector>

IMPLEMENT_SERIAL(CTimeFilter, CFilterComponent, 1)

namespace {

using SliceVector = std::vector<std::unique_ptr<CTimeSlice>>;

bool AnyIncludes(const CLockableList& list, const CDateTime& moment) {
    CScopedLock lock(list);
    for (const CObject* slice : list) {
        if (static_cast<const CTimeSlice*>(slice)->Includes(moment))
            return true;
    }
    return false;
}

// New copies of the slices of `list`, taken under its lock.
SliceVector CopySlices(const CLockableList& list) {
    CScopedLock lock(list);
    SliceVector copies;
    for (const CObject* slice : list) {
        auto copy = std::make_unique<CTimeSlice>();
        copy->Copy(*static_cast<const CTimeSlice*>(slice));
        copies.push_back(std::move(copy));
    }
    return copies;
}

BOOL SaveSlices(const CLockableList& list, const std::string& keyPath, const char* prefix) {
    CScopedLock lock(list);
    std::size_t index = 0;
    for (const CObject* slice : list) {
        if (!static_cast<const CTimeSlice*>(slice)->SaveToRegistry(
                NumberedSubKeyPath(keyPath, prefix, index++)))
            return FALSE;
    }
    return TRUE;
}

// The sub-keys of `names` that begin with exactly `mark`, each loaded as a new slice, in the
// order of `names`.
SliceVector LoadSlices(const std::string& keyPath, const std::vector<std::string>& names,
                       std::string_view mark) {
    SliceVector slices;
    for (const std::string& name : names) {
        if (name.compare(0, mark.size(), mark) != 0)
            continue;
        auto slice = std::make_unique<CTimeSlice>();
        slice->LoadFromRegistry(SubKeyPath(keyPath, name));
        slices.push_back(std::move(slice));
    }
    return slices;
}

}  // namespace

CTimeFilter::~CTimeFilter() { RemoveAll(); }

BOOL CTimeFilter::Add(CLockableList& list, CTimeSlice* slice) {
    if (slice == nullptr)
        return FALSE;
    CScopedLock inclusions(m_inclusions);
    CScopedLock exclusions(m_exclusions);
    if (m_inclusions.Contains(slice) || m_exclusions.Contains(slice))
        return FALSE;
    list.AddTail(slice);
    return TRUE;
}

BOOL CTimeFilter::Remove(CLockableList& list, CTimeSlice* slice) {
    {
        CScopedLock lock(list);
        if (slice == nullptr || !list.Remove(slice))
            return FALSE;
    }
    slice->Release();
    return TRUE;
}

BOOL CTimeFilter::AddInclusion(CTimeSlice* slice) { return Add(m_inclusions, slice); }
BOOL CTimeFilter::AddExclusion(CTimeSlice* slice) { return Add(m_exclusions, slice); }
BOOL CTimeFilter::RemoveInclusion(CTimeSlice* slice) { return Remove(m_inclusions, slice); }
BOOL CTimeFilter::RemoveExclusion(CTimeSlice* slice) { return Remove(m_exclusions, slice); }

void CTimeFilter::RemoveAll() {
    for (CLockableList* list : {&m_inclusions, &m_exclusions}) {
        CScopedLock lock(*list);
        list->DeleteElements();
    }
}

void CTimeFilter::Copy(const CTimeFilter& other) {
    if (&other == this)
        return;
    SliceVector inclusions = CopySlices(other.m_inclusions);
    SliceVector exclusions = CopySlices(other.m_exclusions);
    CScopedLock lockInclusions(m_inclusions);
    CScopedLock lockExclusions(m_exclusions);
    ReplaceOwnedElements(m_inclusions, inclusions, m_exclusions, exclusions);
    CopyBase(other);
}

BOOL CTimeFilter::Includes(const CDateTime& moment) const {
    return AnyIncludes(m_inclusions, moment) && !AnyIncludes(m_exclusions, moment) ? TRUE : FALSE;
}

BOOL CTimeFilter::SaveToRegistry(const std::string& keyPath) const {
    using namespace AccessFormat;
    return RegDeleteKeyTree(keyPath) && CFilterComponent::SaveToRegistry(keyPath) &&
                   SaveSlices(m_inclusions, keyPath, kInclusionKey) &&
                   SaveSlices(m_exclusions, keyPath, kExclusionKey)
               ? TRUE
               : FALSE;
}

void CTimeFilter::LoadFromRegistry(const std::string& keyPath) {
    using namespace AccessFormat;
    // One enumeration, ordered once by the inclusions' numbers and once by the exclusions'.
    std::vector<std::string> names = RegEnumNumberedSubKeys(keyPath, kInclusionKey);
    SliceVector inclusions = LoadSlices(keyPath, names, kInclusionMark);
    SortNumberedSubKeys(names, kExclusionKey);
    SliceVector exclusions = LoadSlices(keyPath, names, kExclusionMark);
    CScopedLock lockInclusions(m_inclusions);
    CScopedLock lockExclusions(m_exclusions);
    ReplaceOwnedElements(m_inclusions, inclusions, m_exclusions, exclusions);
    CFilterComponent::LoadFromRegistry(keyPath);
}

void CTimeFilter::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        StoreBase(ar);
        for (const CLockableList* list : {&m_inclusions, &m_exclusions}) {
            CScopedLock lock(*list);
            WriteElements(ar, *list);
        }
        return;
    }
    std::string name, description;
    LoadBase(ar, name, description);
    SliceVector inclusions = ReadOwnedElements<CTimeSlice>(ar);
    SliceVector exclusions = ReadOwnedElements<CTimeSlice>(ar);
    CScopedLock lockInclusions(m_inclusions);
    CScopedLock lockExclusions(m_exclusions);
    ReplaceOwnedElements(m_inclusions, inclusions, m_exclusions, exclusions);
    SetName(std::move(name));
    SetDescription(std::move(description));
}
