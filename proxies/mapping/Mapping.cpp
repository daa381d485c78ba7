#include "proxies/mapping/Mapping.h"

#include "engine/access/AccessStore.h"
#include "foundation/Archive.h"
#include "foundation/Format.h"
#include "foundation/RegistryStore.h"
#include "proxies/mapping/MappingFormat.h"

using namespace MappingFormat;

IMPLEMENT_SERIAL(CMapping, CObject, 1)

void CMapping::Copy(const CMapping& other) {
    if (&other == this)
        return;
    m_target = other.m_target;
    m_enabled = other.m_enabled;
    m_specifyUser = other.m_specifyUser;
    m_specifyLocation = other.m_specifyLocation;
    m_userName = other.m_userName;
    m_description = other.m_description;
    m_included = other.m_included;
    m_excluded = other.m_excluded;
}

std::string CMapping::GetDescription() {
    const char* host = m_target.Host.c_str();
    std::string text;
    if (m_specifyLocation != 0 || m_specifyUser != 0) {
        text = FormatText(kLinkRestricted, host, m_target.Port);
        if (m_specifyLocation != 0)
            text += kByLocation;
        if (m_specifyUser != 0) {
            if (m_specifyLocation != 0)
                text += kByAnd;
            text += kByUser;
        }
    } else {
        text = FormatText(kLinkUnrestricted, host, m_target.Port);
    }
    if (m_enabled == 0)
        text += kDisabled;
    m_description = text;
    return text;
}

BOOL CMapping::Matches(CAccessSession& session) const {
    if (m_enabled == 0)
        return FALSE;
    if (m_specifyUser != 0 && !EntryContainsSessionUser(session, m_userName))
        return FALSE;
    if (m_specifyLocation != 0 && !AddressAdmitted(m_included, m_excluded, session.GetClientAddress()))
        return FALSE;
    return TRUE;
}

void CMapping::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar << m_enabled << m_specifyUser << m_specifyLocation << m_userName;
        m_target.Serialize(ar);
        ar.WriteStringList(m_included);
        ar.WriteStringList(m_excluded);
        return;
    }
    DWORD enabled, specifyUser, specifyLocation;
    std::string userName;
    CHostPort target;
    AddressPatternList included, excluded;
    ar >> enabled >> specifyUser >> specifyLocation >> userName;
    target.Serialize(ar);
    ar.ReadStringList(included);
    ar.ReadStringList(excluded);
    m_enabled = enabled;
    m_specifyUser = specifyUser;
    m_specifyLocation = specifyLocation;
    m_userName = std::move(userName);
    m_target = std::move(target);
    m_included = std::move(included);
    m_excluded = std::move(excluded);
}

BOOL CMapping::SaveToRegistry(const std::string& keyPath) const {
    BOOL ok = RegWriteDWORD(keyPath, kEnabled, m_enabled);
    ok &= RegWriteDWORD(keyPath, kSpecifyUser, m_specifyUser);
    ok &= RegWriteDWORD(keyPath, kSpecifyLocation, m_specifyLocation);
    ok &= RegWriteString(keyPath, kUserName, m_userName);
    ok &= m_target.SaveToRegistry(keyPath);
    ok &= SaveAddressPatterns(SubKeyPath(keyPath, kIncludedLocationsKey), m_included);
    ok &= SaveAddressPatterns(SubKeyPath(keyPath, kExcludedLocationsKey), m_excluded);
    return ok;
}

void CMapping::LoadFromRegistry(const std::string& keyPath) {
    m_enabled = RegReadDWORD(keyPath, kEnabled, 1);
    m_specifyUser = RegReadDWORD(keyPath, kSpecifyUser, 0);
    m_specifyLocation = RegReadDWORD(keyPath, kSpecifyLocation, 0);
    m_userName = RegReadString(keyPath, kUserName, "");
    m_target.LoadFromRegistry(keyPath);
    m_included = LoadAddressPatterns(SubKeyPath(keyPath, kIncludedLocationsKey));
    m_excluded = LoadAddressPatterns(SubKeyPath(keyPath, kExcludedLocationsKey));
}
