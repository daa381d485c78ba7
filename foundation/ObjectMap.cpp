#include "foundation/ObjectMap.h"

#include "foundation/Containers.h"

IMPLEMENT_DYNAMIC(CObjectMap, CObject)

bool CObjectMap::Lookup(std::string_view key, CObject*& object) const {
    auto it = m_entries.find(key);
    if (it == m_entries.end())
        return false;
    object = it->second;
    return true;
}

CObject* CObjectMap::Lookup(std::string_view key) const {
    auto it = m_entries.find(key);
    return it == m_entries.end() ? nullptr : it->second;
}

void CObjectMap::SetAt(std::string_view key, CObject* object) {
    auto it = m_entries.find(key);
    if (it != m_entries.end())
        it->second = object;
    else
        m_entries.emplace(std::string(key), object);
}

bool CObjectMap::RemoveKey(std::string_view key) {
    auto it = m_entries.find(key);
    if (it == m_entries.end())
        return false;
    m_entries.erase(it);
    return true;
}

void CObjectMap::DeleteElements() {
    Map entries = std::move(m_entries);
    m_entries.clear();
    ReleaseDistinct(entries, [](const Map::value_type& entry) { return entry.second; });
}

void CObjectMap::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteCount(m_entries.size());
        for (const auto& [key, value] : m_entries) {
            ar << key;
            ar.WriteObject(value);
        }
        return;
    }
    // Read into a map aside and moved in whole, so a failed load frees what it read and
    // leaves the map as it was.
    CObjectMap loaded;
    try {
        loaded.LoadEntries(ar, [&] { return ar.ReadOwnedObject(nullptr, true); });
    } catch (...) {
        DeleteLoadedDistinct(loaded.m_entries, [](const Map::value_type& e) { return e.second; });
        throw;
    }
    while (!loaded.m_entries.empty()) {
        auto node = loaded.m_entries.extract(loaded.m_entries.begin());
        auto it = m_entries.find(node.key());
        if (it != m_entries.end())
            it->second = node.mapped();
        else
            m_entries.insert(std::move(node));
    }
}
