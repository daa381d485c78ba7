#include "foundation/ObjectArray.h"

#include <algorithm>
#include <stdexcept>

IMPLEMENT_DYNAMIC(CObjectArray, CObject)

std::size_t CObjectArray::Add(CObject* object) {
    m_elements.push_back(object);
    return m_elements.size() - 1;
}

void CObjectArray::InsertAt(std::size_t index, CObject* object) {
    if (index > m_elements.size())
        throw std::out_of_range("CObjectArray::InsertAt");
    m_elements.insert(m_elements.begin() + static_cast<std::ptrdiff_t>(index), object);
}

void CObjectArray::RemoveAt(std::size_t index) {
    if (index >= m_elements.size())
        throw std::out_of_range("CObjectArray::RemoveAt");
    m_elements.erase(m_elements.begin() + static_cast<std::ptrdiff_t>(index));
}

std::ptrdiff_t CObjectArray::Find(const CObject* object) const {
    auto it = std::find(m_elements.begin(), m_elements.end(), object);
    return it == m_elements.end() ? -1 : it - m_elements.begin();
}

void CObjectArray::DeleteElements() {
    std::vector<CObject*> elements = std::move(m_elements);
    m_elements.clear();
    ReleaseDistinct(elements);
}

void CObjectArray::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteCount(m_elements.size());
        for (CObject* element : m_elements)
            ar.WriteObject(element);
        return;
    }
    // Read aside and swapped in whole, so a failed load frees what it read and leaves the
    // array as it was.
    std::vector<CObject*> loaded = ReadNewElements(ar, ar.ReadCount(kMinElementBytes));
    m_elements.swap(loaded);
}
