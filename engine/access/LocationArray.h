#pragma once
// The engine's ordered list of locations: the first location, in array order, whose filter
// matches a client address names the user assumed for that host. One instance lives in the
// engine object (and one in the console's copy of the configuration).
//
// Ownership: the array owns its locations (RemoveAll, RemoveLocation, a load and the
// destructor delete them). AddLocation refuses (FALSE) null and a location the array already
// holds; on TRUE the array has taken it, on FALSE the caller keeps what it passed (nothing to
// free when it was already held).
//
// Locking: every operation takes the array's re-entrant mutex (Lock/Unlock of the array).
// FindLocation and GetLocation hand out a pointer into the array: the caller holds the lock
// from before the lookup until it is done with the location (a session thread may otherwise
// see it deleted by a console's change):
//     CScopedLock lock(locations);
//     if (CLocation* location = locations.FindLocation(text)) ...
// GetUserForAddress returns a copy and needs no lock held.
//
// Registry form: the key tree at the key path is deleted, then the location at position i
// is saved under "<key>\Location<i>", i from 0. Loading empties the array first, then takes
// the sub-keys "Location<n>" in the numeric order of n (Location2 before Location10; gaps
// close up), then any other sub-keys in the store's order, so that nothing is lost.
//
// Archive form: a count, then each location as a class-tagged object. Loading reads every
// location aside (only new CLocation objects, no back-references) and replaces the old ones
// only when the whole array was read; a failed load leaves the array as it was and the
// archive's exception goes on to the caller.

#include "engine/access/Location.h"
#include "foundation/LockableArray.h"
#include "platform/kernel/Types.h"

#include <cstddef>
#include <string>
#include <string_view>

class CLocationArray : public CLockableArray {
    DECLARE_SERIAL(CLocationArray)
public:
    CLocationArray() = default;
    ~CLocationArray() override;

    BOOL AddLocation(CLocation* location);
    // The position of that very location, or -1.
    int IndexOf(const CLocation* location) const;
    // The first location whose Filter text equals `filterText` exactly (case-sensitive), or
    // null. Hold the lock while using it (see above).
    CLocation* FindLocation(std::string_view filterText) const;
    // The location at `index`, or null beyond the end. Hold the lock while using it.
    CLocation* GetLocation(std::size_t index) const;
    // Removes and deletes the first location of that Filter text; FALSE when there is none.
    BOOL RemoveLocation(std::string_view filterText);
    // Moves the location of that Filter text one place towards the front (Promote) or the
    // back (Demote). Nothing happens for the first (last) location or a text that names
    // none; TRUE when it moved.
    BOOL PromoteLocation(std::string_view filterText);
    BOOL DemoteLocation(std::string_view filterText);
    // The Username of the first location, in array order, that matches `addressText`; ""
    // when none does (the caller assumes "Guest").
    std::string GetUserForAddress(std::string_view addressText) const;

    void Serialize(CArchive& ar) override;
    // TRUE when the old tree was removed and every location stored; a failure part-way
    // stops the save and answers FALSE.
    virtual BOOL SaveToRegistry(const std::string& keyPath) const;
    virtual void LoadFromRegistry(const std::string& keyPath);
    // Deletes every location and empties the array.
    virtual void RemoveAll();
    // Takes every location of `fresh` (an array loaded aside, left empty), in its order, in
    // place of this array's, which are deleted.
    void ReplaceWith(CLocationArray& fresh);

private:
    // The first index of that Filter text, or -1. The caller holds the lock.
    std::ptrdiff_t FindIndex(std::string_view filterText) const;
    void Swap(std::size_t a, std::size_t b);
};
