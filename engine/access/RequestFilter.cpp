#include "engine/access/RequestFilter.h"

#include "engine/access/AccessFormat.h"
#include "engine/access/AccessStore.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"

#include <memory>
#include <vector>

IMPLEMENT_SERIAL(CRequestFilter, CFilterComponent, 1)

namespace {

using CriterionVector = std::vector<std::unique_ptr<CRequestCriterion>>;

// A new, empty criterion of the class `className` names; null for any other name.
std::unique_ptr<CRequestCriterion> MakeCriterion(const std::string& className) {
    if (className == RUNTIME_CLASS(CRequestCriterion)->GetName())
        return std::make_unique<CRequestCriterion>();
    if (className == RUNTIME_CLASS(CCachePurgeCriterion)->GetName())
        return std::make_unique<CCachePurgeCriterion>();
    return nullptr;
}

}  // namespace

CRequestFilter::~CRequestFilter() { RemoveAll(); }

BOOL CRequestFilter::AddCriterion(CRequestCriterion* criterion) {
    CScopedLock lock(m_criteria);
    if (criterion == nullptr || m_criteria.Contains(criterion))
        return FALSE;
    m_criteria.AddTail(criterion);
    return TRUE;
}

BOOL CRequestFilter::RemoveCriterion(CRequestCriterion* criterion) {
    {
        CScopedLock lock(m_criteria);
        if (criterion == nullptr || !m_criteria.Remove(criterion))
            return FALSE;
    }
    criterion->Release();
    return TRUE;
}

void CRequestFilter::RemoveAll() {
    CScopedLock lock(m_criteria);
    m_criteria.DeleteElements();
}

void CRequestFilter::Copy(const CRequestFilter& other) {
    if (&other == this)
        return;
    CriterionVector copies;
    {
        CScopedLock lock(other.m_criteria);
        for (const CObject* element : other.m_criteria) {
            const auto& criterion = *static_cast<const CRequestCriterion*>(element);
            std::unique_ptr<CRequestCriterion> copy;
            if (criterion.IsKindOf(RUNTIME_CLASS(CCachePurgeCriterion)))
                copy = std::make_unique<CCachePurgeCriterion>();
            else
                copy = std::make_unique<CRequestCriterion>();
            copy->Copy(criterion);
            copies.push_back(std::move(copy));
        }
    }
    CScopedLock lock(m_criteria);
    ReplaceOwnedElements(m_criteria, copies);
    CopyBase(other);
}

template <class Test>
BOOL CRequestFilter::All(Test test) const {
    CScopedLock lock(m_criteria);
    for (const CObject* element : m_criteria) {
        if (!test(*static_cast<const CRequestCriterion*>(element)))
            return FALSE;
    }
    return TRUE;
}

BOOL CRequestFilter::MatchRequest(CRequestValueSource& source) const {
    return All([&](const CRequestCriterion& criterion) { return criterion.MatchRequest(source); });
}

BOOL CRequestFilter::MatchCacheEntry(const CCacheEntryValueSource& entry) const {
    return All([&](const CRequestCriterion& criterion) {
        const auto* purge = dynamic_cast<const CCachePurgeCriterion*>(&criterion);
        return purge != nullptr && purge->MatchCacheEntry(entry);
    });
}

BOOL CRequestFilter::SaveToRegistry(const std::string& keyPath) const {
    if (!RegDeleteKeyTree(keyPath) || !CFilterComponent::SaveToRegistry(keyPath))
        return FALSE;
    CScopedLock lock(m_criteria);
    return SaveNumberedElements<CRequestCriterion>(
        m_criteria, keyPath, AccessFormat::kCriterionKey,
        [](const CRequestCriterion& criterion, const std::string& path) {
            return criterion.SaveToRegistry(path);
        });
}

void CRequestFilter::LoadFromRegistry(const std::string& keyPath) {
    CriterionVector loaded = LoadSubKeyElements<CRequestCriterion>(
        keyPath, AccessFormat::kCriterionKey, [](const std::string& path) {
            auto criterion = MakeCriterion(RegReadString(path, AccessFormat::kType, ""));
            if (criterion != nullptr && !criterion->ReadFromRegistry(path))
                criterion.reset();
            return criterion;
        });
    CScopedLock lock(m_criteria);
    ReplaceOwnedElements(m_criteria, loaded);
    CFilterComponent::LoadFromRegistry(keyPath);
}

void CRequestFilter::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        StoreBase(ar);
        CScopedLock lock(m_criteria);
        WriteElements(ar, m_criteria);
        return;
    }
    std::string name, description;
    LoadBase(ar, name, description);
    CriterionVector loaded = ReadOwnedElements<CRequestCriterion>(ar);
    CScopedLock lock(m_criteria);
    ReplaceOwnedElements(m_criteria, loaded);
    SetName(std::move(name));
    SetDescription(std::move(description));
}
