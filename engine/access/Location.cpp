#include "engine/access/Location.h"

#include "engine/access/AccessFormat.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"

IMPLEMENT_SERIAL(CLocation, CLockableObject, 1)

CLocation::CLocation(std::string filterText, std::string userName) {
    Set(std::move(filterText), std::move(userName));
}

void CLocation::Set(std::string filterText, std::string userName) {
    m_username = std::move(userName);
    m_filter.SetFilter(std::move(filterText));
}

void CLocation::Copy(const CLocation& other) {
    m_filter = other.m_filter;
    m_username = other.m_username;
}

BOOL CLocation::SaveToRegistry(const std::string& keyPath) const {
    return m_filter.SaveToRegistry(keyPath) &&
                   RegWriteString(keyPath, AccessFormat::kUsername, m_username)
               ? TRUE
               : FALSE;
}

void CLocation::LoadFromRegistry(const std::string& keyPath) {
    m_filter.LoadFromRegistry(keyPath);
    m_username = RegReadString(keyPath, AccessFormat::kUsername, AccessFormat::kDefaultUsername);
}

void CLocation::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        m_filter.Serialize(ar);
        ar << m_username;
        return;
    }
    CIPFilter filter;
    std::string userName;
    filter.Serialize(ar);
    ar >> userName;
    m_filter = std::move(filter);
    m_username = std::move(userName);
}
