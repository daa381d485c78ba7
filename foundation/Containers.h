#pragma once
// Helpers shared by the object containers (list, array, string map).

#include "foundation/Archive.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <cstddef>
#include <memory>
#include <unordered_set>
#include <vector>

// Releases each distinct non-null object of `objects` once (a pointer held twice is released
// once), in order. `project` maps an item of the range to its object.
template <class Range, class Project>
void ReleaseDistinct(const Range& objects, Project project) {
    std::unordered_set<const CObject*> seen;
    for (const auto& item : objects) {
        const CObject* object = project(item);
        if (object != nullptr && seen.insert(object).second)
            object->Release();
    }
}

template <class Range>
void ReleaseDistinct(const Range& objects) {
    ReleaseDistinct(objects, [](const CObject* object) { return object; });
}

// Frees an object that a generic container load made, with what that load gave it: a plain
// lockable list, array or map (exactly those classes, which own nothing) has its elements
// freed the same way first, and a machine map its machines. Objects of any other class free
// their own contents in their destructors. Null is ignored.
void DeleteLoaded(CObject* object);

// DeleteLoaded for each distinct object of `objects` (see ReleaseDistinct).
template <class Range, class Project>
void DeleteLoadedDistinct(const Range& objects, Project project) {
    std::unordered_set<CObject*> seen;
    for (const auto& item : objects) {
        CObject* object = project(item);
        if (object != nullptr && seen.insert(object).second)
            DeleteLoaded(object);
    }
}

// The generic load of the list and the array: `count` references, each null or a new object
// of any class. A failure frees what was read (DeleteLoaded) before it passes on.
std::vector<CObject*> ReadNewElements(CArchive& ar, DWORD count);

// The owned load of the list and the array: a count, then new T objects of class `expected`
// (null refused), each handed to `add` as it is read.
template <class T, class Add>
void LoadOwnedElements(CArchive& ar, const CRuntimeClass* expected, std::size_t minElementBytes,
                       Add add) {
    for (DWORD n = ar.ReadCount(minElementBytes); n > 0; --n) {
        std::unique_ptr<T> element = ar.ReadOwnedObject<T>(expected, false);
        add(element.get());
        element.release();
    }
}
