#pragma once
// A request filter: a named list of criteria that must all hold. An empty filter holds for
// every request. Filter collections hold them (engine/access/RequestFilterCollection.h).
//
// Ownership: the filter owns its criteria (CRequestCriterion or CCachePurgeCriterion) and
// deletes them with itself. AddCriterion refuses (FALSE) null and a criterion already listed;
// on TRUE the filter has taken it, on FALSE the caller keeps what it passed.
//
// MatchRequest: every criterion's MatchRequest. MatchCacheEntry: every criterion's
// MatchCacheEntry, where a plain request criterion (it has no cache-entry test) answers FALSE.
//
// Locking: one re-entrant mutex guards the list (Lock/Unlock of GetCriteria()), held for every
// walk: the tests, saving, copying from the filter. Copy reads the source under its mutex and
// replaces this list under this one, never holding both.
//
// Registry form: the key tree at the key path is deleted, then Name and Description, then
// each criterion under "<key>\Criterion<n>", n from 0 in list order (each with its "Type").
// Loading reads Name and Description and takes the sub-keys "Criterion<n>" in numeric order
// (then any others): "Type" "CRequestCriterion" or "CCachePurgeCriterion" makes that class;
// other types, and criteria out of range, are skipped. The loaded list replaces the old one.
//
// Archive form: Name, Description, then the criteria as a count and class-tagged objects.
// Loading reads everything aside (only new criteria, no back-references) and replaces the old
// criteria only when the whole filter was read; a failed load leaves the filter as it was.

#include "engine/access/CachePurgeCriterion.h"
#include "engine/access/FilterComponent.h"
#include "engine/access/RequestCriterion.h"
#include "engine/access/RequestValueSource.h"
#include "foundation/LockableList.h"
#include "platform/kernel/Types.h"

#include <string>

class CRequestFilter : public CFilterComponent {
    DECLARE_SERIAL(CRequestFilter)
public:
    CRequestFilter() = default;
    CRequestFilter(std::string name, std::string description)
        : CFilterComponent(std::move(name), std::move(description)) {}
    ~CRequestFilter() override;
    CRequestFilter(const CRequestFilter&) = delete;
    CRequestFilter& operator=(const CRequestFilter&) = delete;

    BOOL AddCriterion(CRequestCriterion* criterion);
    // Unlinks the criterion and deletes it; FALSE (nothing done) when it is not listed.
    BOOL RemoveCriterion(CRequestCriterion* criterion);
    // Deletes every criterion.
    void RemoveAll();

    // Becomes a copy of `other`: its Name and Description, and a new criterion of the same
    // class for each of its criteria, in order. Copying onto itself changes nothing.
    void Copy(const CRequestFilter& other);

    // The list, for walking under its lock. Elements are CRequestCriterion (or derived).
    CLockableList& GetCriteria() { return m_criteria; }
    const CLockableList& GetCriteria() const { return m_criteria; }

    void Serialize(CArchive& ar) override;
    BOOL SaveToRegistry(const std::string& keyPath) const override;
    void LoadFromRegistry(const std::string& keyPath) override;
    virtual BOOL MatchCacheEntry(const CCacheEntryValueSource& entry) const;
    virtual BOOL MatchRequest(CRequestValueSource& source) const;

private:
    // Every criterion answers `test`; TRUE for an empty list.
    template <class Test>
    BOOL All(Test test) const;

    CLockableList m_criteria;
};
