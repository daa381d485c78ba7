#pragma once
// A map from text keys to object pointers: the base of CLockableMap and CMachineMap.
//
// Keys are byte strings compared exactly (case matters). Holds pointers without owning them,
// like CObjectList (see there); setting a key that is present replaces its pointer and
// deletes nothing.
//
// Archive form: count, then for each entry the key as a string and the value as an object
// reference, in the map's order (a loader accepts any order). Loading sets each key to a new
// object that the map's owner owns; a key that comes twice in one stream is refused (generic
// cause), so no object read is orphaned.
//   - Serialize, the generic form, admits null and any class. A load that fails frees what it
//     had read and leaves the map as it was.
//   - LoadOwned<T> checks each class before the object is made and refuses null; what it set
//     before a failure stays for the owner to free.

#include "foundation/Archive.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>

class CObjectMap : public CObject {
    DECLARE_DYNAMIC(CObjectMap)
public:
    using Map = std::map<std::string, CObject*, std::less<>>;
    using iterator = Map::iterator;
    using const_iterator = Map::const_iterator;

    CObjectMap() = default;
    CObjectMap(const CObjectMap&) = delete;
    CObjectMap& operator=(const CObjectMap&) = delete;

    std::size_t GetCount() const { return m_entries.size(); }
    bool IsEmpty() const { return m_entries.empty(); }
    // True with `object` set when the key is present.
    bool Lookup(std::string_view key, CObject*& object) const;
    // The object of the key, or null (also for a key mapped to null).
    CObject* Lookup(std::string_view key) const;
    void SetAt(std::string_view key, CObject* object);
    // False when the key was not present.
    bool RemoveKey(std::string_view key);
    iterator Erase(const_iterator position) { return m_entries.erase(position); }
    void RemoveAll() { m_entries.clear(); }
    // Exchanges the whole contents with `other` (nothing is copied, nothing can fail).
    void SwapEntries(CObjectMap& other) noexcept { m_entries.swap(other.m_entries); }
    // Gives up every distinct value (Release: deleted unless shared) and empties the map.
    void DeleteElements();

    iterator begin() { return m_entries.begin(); }
    iterator end() { return m_entries.end(); }
    const_iterator begin() const { return m_entries.begin(); }
    const_iterator end() const { return m_entries.end(); }

    void Serialize(CArchive& ar) override;
    template <class T>
    void LoadOwned(CArchive& ar, const CRuntimeClass* expected = T::ThisClass()) {
        LoadEntries(ar, [&] { return ar.ReadOwnedObject<T>(expected, false).release(); });
    }

protected:
    // A key takes at least its length byte, a value its WORD tag.
    static constexpr std::size_t kMinEntryBytes = 3;

private:
    template <class ReadValue>
    void LoadEntries(CArchive& ar, ReadValue readValue) {
        std::unordered_set<std::string> seen;
        for (DWORD n = ar.ReadCount(kMinEntryBytes); n > 0; --n) {
            std::string key = ar.ReadString();
            if (!seen.insert(key).second)
                throw new CArchiveException(CArchiveException::generic);
            std::unique_ptr<CObject> value(readValue());
            SetAt(key, value.get());
            value.release();
        }
    }

    Map m_entries;
};
