#include "engine/access/FilterComponent.h"

#include "engine/access/AccessFormat.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"

IMPLEMENT_SERIAL(CFilterComponent, CLockableObject, 1)

CFilterComponent::CFilterComponent(std::string name, std::string description)
    : m_name(std::move(name)), m_description(std::move(description)) {}

CFilterComponent::CFilterComponent(EntryKind kind, std::string name, std::string description)
    : m_entryKind(kind), m_name(std::move(name)), m_description(std::move(description)) {}

void CFilterComponent::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        StoreBase(ar);
        return;
    }
    std::string name, description;
    LoadBase(ar, name, description);
    m_name = std::move(name);
    m_description = std::move(description);
}

void CFilterComponent::StoreBase(CArchive& ar) const {
    ar << m_name << m_description;
}

void CFilterComponent::LoadBase(CArchive& ar, std::string& name, std::string& description) {
    ar >> name >> description;
}

void CFilterComponent::CopyBase(const CFilterComponent& other) {
    m_name = other.m_name;
    m_description = other.m_description;
}

BOOL CFilterComponent::ContainsUser(const std::string&) const { return FALSE; }

std::string CFilterComponent::GetDescriptionText() { return m_description; }

BOOL CFilterComponent::SaveToRegistry(const std::string& keyPath) const {
    return RegWriteString(keyPath, AccessFormat::kName, m_name) &&
                   RegWriteString(keyPath, AccessFormat::kDescription, m_description)
               ? TRUE
               : FALSE;
}

void CFilterComponent::LoadFromRegistry(const std::string& keyPath) {
    m_name = RegReadString(keyPath, AccessFormat::kName, "");
    m_description = RegReadString(keyPath, AccessFormat::kDescription, "");
}
