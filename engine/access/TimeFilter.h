#pragma once
// A time filter: a list of included time slices and a list of excluded ones. A recipient of a
// right holds one and asks it whether the current moment is allowed.
//
// Includes(moment): TRUE when some inclusion includes the moment and no exclusion does. A
// filter without inclusions allows no moment, whatever its exclusions say.
//
// Ownership: the filter owns every slice in its lists and deletes them with itself. A slice
// is in at most one list of one filter: AddInclusion and AddExclusion refuse (FALSE) a null
// slice and a slice this filter already holds in either list; on TRUE the filter has taken
// the slice, on FALSE the caller has nothing to free.
//
// Locking: each list has its own re-entrant mutex (Lock/Unlock of the list). The time test
// and the saving take one at a time, inclusions first; loading and adding hold the
// inclusion mutex and then the exclusion mutex. Copy reads the source under the source's
// list mutexes and replaces the target's lists under the target's, never holding both
// filters' mutexes at once. A caller that walks a list (GetInclusions) holds its lock for the
// whole walk:
//     CScopedLock lock(filter.GetInclusions());
//     for (CObject* slice : filter.GetInclusions()) ... static_cast<CTimeSlice*>(slice) ...
//
// Registry form: the whole key tree at the key path is deleted first; then Name and
// Description, then each inclusion under "<key>\Inclusion<n>" and each exclusion under
// "<key>\Exclusion<n>", n from 0 in list order. Loading empties both lists first, then takes
// every sub-key whose name begins with exactly "Incl" (case-sensitive) as an inclusion and
// "Excl" as an exclusion, in the numeric order of the numbers after "Inclusion" and
// "Exclusion"; other sub-keys are ignored.
//
// Archive form: Name, Description, then the inclusion list and the exclusion list, each as
// a count and each slice as a class-tagged object. Loading reads both lists aside (only new
// CTimeSlice objects, no back-references) and replaces the old slices only when the whole
// filter was read: a failed load leaves the filter as it was.

#include "engine/access/FilterComponent.h"
#include "engine/access/TimeSlice.h"
#include "foundation/DateTime.h"
#include "foundation/LockableList.h"
#include "platform/kernel/Types.h"

#include <string>
#include <utility>

class CTimeFilter : public CFilterComponent {
    DECLARE_SERIAL(CTimeFilter)
public:
    CTimeFilter() = default;
    CTimeFilter(std::string name, std::string description)
        : CFilterComponent(std::move(name), std::move(description)) {}
    ~CTimeFilter() override;
    CTimeFilter(const CTimeFilter&) = delete;
    CTimeFilter& operator=(const CTimeFilter&) = delete;

    BOOL AddInclusion(CTimeSlice* slice);
    BOOL AddExclusion(CTimeSlice* slice);
    // Unlinks the slice and deletes it; FALSE (nothing done) when it is not in that list.
    BOOL RemoveInclusion(CTimeSlice* slice);
    BOOL RemoveExclusion(CTimeSlice* slice);
    // Deletes every slice of both lists.
    void RemoveAll();

    // Becomes a copy of `other`: its Name and Description and a new copy of each of its
    // slices, in order. Copying a filter onto itself changes nothing. Throws std::bad_alloc
    // with this filter's lists as they were.
    void Copy(const CTimeFilter& other);

    // The lists, for walking under their locks (see above). Elements are CTimeSlice.
    CLockableList& GetInclusions() { return m_inclusions; }
    const CLockableList& GetInclusions() const { return m_inclusions; }
    CLockableList& GetExclusions() { return m_exclusions; }
    const CLockableList& GetExclusions() const { return m_exclusions; }

    void Serialize(CArchive& ar) override;
    BOOL SaveToRegistry(const std::string& keyPath) const override;
    void LoadFromRegistry(const std::string& keyPath) override;
    virtual BOOL Includes(const CDateTime& moment) const;

private:
    BOOL Add(CLockableList& list, CTimeSlice* slice);
    static BOOL Remove(CLockableList& list, CTimeSlice* slice);

    CLockableList m_inclusions;
    CLockableList m_exclusions;
};
