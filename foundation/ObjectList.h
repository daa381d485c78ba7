#pragma once
// An ordered list of object pointers: the base of CLockableList.
//
// The list holds pointers and does not own them: removing an element, emptying the list or
// destroying it deletes nothing. Owners delete their elements themselves (DeleteElements).
// Not thread-safe by itself; CLockableList adds the lock.
//
// Archive form: count, then each element from head to tail as an object reference. Loading
// appends, and every element it reads is a new object (a back-reference is refused, so no
// object lands in a list twice or in two owners) that the list's owner owns.
//   - Serialize, the generic form, admits null and any class. A load that fails frees what it
//     had read and leaves the list as it was (so a list that is itself being read from the
//     stream leaks nothing when the stream is bad).
//   - LoadOwned<T>, for owners that hold one class, checks each class before the object is
//     made and refuses null. What it appended before a failure stays for the owner to free.

#include "foundation/Archive.h"
#include "foundation/Containers.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <cstddef>
#include <list>

class CObjectList : public CObject {
    DECLARE_DYNAMIC(CObjectList)
public:
    using iterator = std::list<CObject*>::iterator;
    using const_iterator = std::list<CObject*>::const_iterator;

    CObjectList() = default;
    CObjectList(const CObjectList&) = delete;
    CObjectList& operator=(const CObjectList&) = delete;

    std::size_t GetCount() const { return m_elements.size(); }
    bool IsEmpty() const { return m_elements.empty(); }
    // The first and last element; null when the list is empty.
    CObject* GetHead() const { return m_elements.empty() ? nullptr : m_elements.front(); }
    CObject* GetTail() const { return m_elements.empty() ? nullptr : m_elements.back(); }

    void AddHead(CObject* object) { m_elements.push_front(object); }
    void AddTail(CObject* object) { m_elements.push_back(object); }
    // Take the first or last element out of the list; null when it is empty.
    CObject* RemoveHead();
    CObject* RemoveTail();
    // The first position holding `object`, or end().
    iterator Find(const CObject* object);
    bool Contains(const CObject* object) const;
    // Takes the first occurrence of `object` out; false when it is not in the list.
    bool Remove(const CObject* object);
    iterator InsertBefore(const_iterator position, CObject* object) {
        return m_elements.insert(position, object);
    }
    iterator Erase(const_iterator position) { return m_elements.erase(position); }
    void RemoveAll() { m_elements.clear(); }
    // Gives up every distinct element (Release: deleted unless shared) and empties the list.
    void DeleteElements();

    iterator begin() { return m_elements.begin(); }
    iterator end() { return m_elements.end(); }
    const_iterator begin() const { return m_elements.begin(); }
    const_iterator end() const { return m_elements.end(); }

    void Serialize(CArchive& ar) override;
    // Loading for an owner of T objects: count, then each element, appended.
    template <class T>
    void LoadOwned(CArchive& ar, const CRuntimeClass* expected = T::ThisClass()) {
        LoadOwnedElements<T>(ar, expected, kMinElementBytes, [this](T* t) { AddTail(t); });
    }

protected:
    // An object reference takes at least a WORD tag.
    static constexpr std::size_t kMinElementBytes = 2;

private:
    std::list<CObject*> m_elements;
};
