#include "foundation/ObjectList.h"

#include <algorithm>

IMPLEMENT_DYNAMIC(CObjectList, CObject)

CObject* CObjectList::RemoveHead() {
    if (m_elements.empty())
        return nullptr;
    CObject* head = m_elements.front();
    m_elements.pop_front();
    return head;
}

CObject* CObjectList::RemoveTail() {
    if (m_elements.empty())
        return nullptr;
    CObject* tail = m_elements.back();
    m_elements.pop_back();
    return tail;
}

CObjectList::iterator CObjectList::Find(const CObject* object) {
    return std::find(m_elements.begin(), m_elements.end(), object);
}

bool CObjectList::Contains(const CObject* object) const {
    return std::find(m_elements.begin(), m_elements.end(), object) != m_elements.end();
}

bool CObjectList::Remove(const CObject* object) {
    auto it = Find(object);
    if (it == m_elements.end())
        return false;
    m_elements.erase(it);
    return true;
}

void CObjectList::DeleteElements() {
    std::list<CObject*> elements = std::move(m_elements);
    m_elements.clear();
    ReleaseDistinct(elements);
}

void CObjectList::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteCount(m_elements.size());
        for (CObject* element : m_elements)
            ar.WriteObject(element);
        return;
    }
    // Read aside and added in whole, so a failed load frees what it read and leaves the list
    // as it was (a list's range insert changes nothing when it fails).
    const std::vector<CObject*> loaded = ReadNewElements(ar, ar.ReadCount(kMinElementBytes));
    try {
        m_elements.insert(m_elements.end(), loaded.begin(), loaded.end());
    } catch (...) {
        DeleteLoadedDistinct(loaded, [](CObject* object) { return object; });
        throw;
    }
}
