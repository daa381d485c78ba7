#pragma once
// A request filter collection: a list of request filters of which one must hold. An empty
// collection holds for nothing. Recipients of rights restrict requests with one; the web
// cache keeps two (what to cache, tested against requests, and what to purge, tested against
// cache entries).
//
// Ownership: the collection owns its filters and deletes them with itself. AddFilter refuses
// (FALSE) null and a filter already listed; on TRUE the collection has taken it.
//
// Locking: the list's own re-entrant mutex (Lock/Unlock), held for every walk and change.
// A test takes it, then each filter's mutex in turn. Copy reads the source under the source's
// mutex and replaces this list under this one, never holding both.
//
// Registry form: the key tree at the key path is deleted, then each filter under
// "<key>\Filter<n>", n from 0 in list order; a failure part-way stops the save (FALSE).
// Loading makes a filter of every sub-key, "Filter<n>" in numeric order first, and replaces
// the old filters with them.
//
// Archive form: a count, then each filter as a class-tagged object. Loading reads every
// filter aside (only new CRequestFilter objects, no back-references) and replaces the old
// filters only when the whole collection was read; a failed load leaves it as it was.

#include "engine/access/RequestFilter.h"
#include "engine/access/RequestValueSource.h"
#include "foundation/LockableList.h"
#include "platform/kernel/Types.h"

#include <string>

class CRequestFilterCollection : public CLockableList {
    DECLARE_SERIAL(CRequestFilterCollection)
public:
    CRequestFilterCollection() = default;
    ~CRequestFilterCollection() override;

    BOOL AddFilter(CRequestFilter* filter);
    // Unlinks the filter and deletes it; FALSE (nothing done) when it is not listed.
    BOOL RemoveFilter(CRequestFilter* filter);
    // Deletes every filter.
    void RemoveAll();

    // Becomes a copy of `other`: a new copy of each of its filters, in order. Copying onto
    // itself changes nothing.
    void Copy(const CRequestFilterCollection& other);

    void Serialize(CArchive& ar) override;
    virtual BOOL SaveToRegistry(const std::string& keyPath) const;
    virtual void LoadFromRegistry(const std::string& keyPath);
    virtual BOOL MatchCacheEntry(const CCacheEntryValueSource& entry) const;
    virtual BOOL MatchRequest(CRequestValueSource& source) const;

private:
    // Some filter answers `test`; FALSE for an empty collection.
    template <class Test>
    BOOL Any(Test test) const;
};
