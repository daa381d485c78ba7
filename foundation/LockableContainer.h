#pragma once
// The lock that makes a lockable container of a plain one (CLockableList, CLockableArray,
// CLockableMap): a re-entrant mutex of the container's own.
//
// The mutex guards the container's structure only. A caller that walks the container, or
// that reads an element and then uses it, holds the lock for the whole span (CScopedLock);
// Lock calls nest on one thread and each is paired with an Unlock. Elements are pointers the
// container does not own (see foundation/ObjectList.h). The archive form is the plain
// container's, and serialising does not take the lock: the owner that serialises holds it.
//
// Shared ownership: for elements that other threads may keep using after they leave the
// container (see CObject::AddRef), Snapshot() takes a counted reference to every non-null
// element under the lock, in the container's order, so the caller can walk them without
// holding it.

#include "foundation/ScopedLock.h"
#include "platform/framework/Object.h"

#include <mutex>
#include <utility>
#include <vector>

template <class Container>
class CLockableContainer : public Container {
public:
    // Wait for the mutex without time-out; release it.
    void Lock() const { m_mutex.lock(); }
    void Unlock() const { m_mutex.unlock(); }

    std::vector<CRef<CObject>> Snapshot() const {
        CScopedLock lock(*this);
        std::vector<CRef<CObject>> refs;
        for (const auto& item : *this) {
            if (CObject* object = ElementOf(item))
                refs.emplace_back(object);
        }
        return refs;
    }

private:
    static CObject* ElementOf(CObject* element) { return element; }
    template <class Key>
    static CObject* ElementOf(const std::pair<const Key, CObject*>& entry) {
        return entry.second;
    }

    // A plain re-entrant mutex: no system call uncontended, and a waiter sleeps only while
    // another thread holds it (a busy container, such as the web cache's map, is locked by
    // every session).
    mutable std::recursive_mutex m_mutex;
};
