#pragma once
// A growable array of object pointers: the base of CLockableArray.
//
// Holds pointers without owning them, like CObjectList (see there). Indexes are checked:
// an index outside the array throws std::out_of_range.
//
// Archive form: count, then each element by index as an object reference. Every element a
// load reads is a new object that the array's owner owns (see foundation/ObjectList.h).
//   - Serialize, the generic form: the array becomes exactly the elements read (its size is
//     the count), null and any class admitted. A load that fails frees what it had read and
//     leaves the array as it was.
//   - LoadOwned<T> appends new T objects and refuses null; what it appended before a failure
//     stays for the owner to free.

#include "foundation/Archive.h"
#include "foundation/Containers.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <cstddef>
#include <vector>

class CObjectArray : public CObject {
    DECLARE_DYNAMIC(CObjectArray)
public:
    using iterator = std::vector<CObject*>::iterator;
    using const_iterator = std::vector<CObject*>::const_iterator;

    CObjectArray() = default;
    CObjectArray(const CObjectArray&) = delete;
    CObjectArray& operator=(const CObjectArray&) = delete;

    std::size_t GetSize() const { return m_elements.size(); }
    bool IsEmpty() const { return m_elements.empty(); }
    // New slots are null; shrinking drops pointers without deleting them.
    void SetSize(std::size_t size) { m_elements.resize(size, nullptr); }
    CObject* GetAt(std::size_t index) const { return m_elements.at(index); }
    void SetAt(std::size_t index, CObject* object) { m_elements.at(index) = object; }
    // Appends and returns the new element's index.
    std::size_t Add(CObject* object);
    // Inserts before `index` (GetSize() appends).
    void InsertAt(std::size_t index, CObject* object);
    // Takes the element at `index` out; the ones after it move down.
    void RemoveAt(std::size_t index);
    // The first index holding `object`, or -1.
    std::ptrdiff_t Find(const CObject* object) const;
    void RemoveAll() { m_elements.clear(); }
    // Gives up every distinct element (Release: deleted unless shared) and empties the array.
    void DeleteElements();

    iterator begin() { return m_elements.begin(); }
    iterator end() { return m_elements.end(); }
    const_iterator begin() const { return m_elements.begin(); }
    const_iterator end() const { return m_elements.end(); }

    void Serialize(CArchive& ar) override;
    template <class T>
    void LoadOwned(CArchive& ar, const CRuntimeClass* expected = T::ThisClass()) {
        LoadOwnedElements<T>(ar, expected, kMinElementBytes, [this](T* t) { Add(t); });
    }

protected:
    static constexpr std::size_t kMinElementBytes = 2;

private:
    std::vector<CObject*> m_elements;
};
