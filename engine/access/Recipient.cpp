#include "engine/access/Recipient.h"

#include "engine/access/AccessFormat.h"
#include "engine/access/AccessStore.h"
#include "engine/access/AccessTexts.h"
#include "engine/access/AddressRestrictions.h"
#include "foundation/Archive.h"
#include "foundation/DateTime.h"
#include "foundation/RegistryStore.h"

#include <cstdint>

IMPLEMENT_SERIAL(CRecipient, CObject, 1)

CRecipient::CRecipient()
    : m_userName(AccessTexts::kEveryone),
      m_description(AccessTexts::kUnrestrictedRights),
      m_timeFilter(std::make_unique<CTimeFilter>()),
      m_requestFilter(std::make_unique<CRequestFilterCollection>()) {}

CRecipient::CRecipient(std::string userName) : CRecipient() {
    m_userName = std::move(userName);
    m_specifyUser = 1;
}

CRecipient::~CRecipient() = default;

BOOL CRecipient::IsSatisfiedBy(CAccessSession& session, BOOL skipRequestTest) const {
    return IsSatisfiedBy(session, skipRequestTest, session.GetUserName());
}

BOOL CRecipient::IsSatisfiedBy(CAccessSession& session, BOOL skipRequestTest,
                               const std::string& userName) const {
    if (static_cast<std::int64_t>(session.GetLogonLevel()) < static_cast<std::int64_t>(m_minimumSecurityLevel))
        return FALSE;
    if (m_specifyUser != 0 &&
        !EntryContainsUser(session.GetAccessContext().GetUserDatabase(), m_userName, userName))
        return FALSE;
    if (m_specifyLocation != 0 && !AddressAdmitted(m_included, m_excluded, session.GetClientAddress()))
        return FALSE;
    if (m_specifyTime != 0 && !m_timeFilter->Includes(CDateTime::Now()))
        return FALSE;
    if (m_specifyRequest != 0 && !skipRequestTest && !m_requestFilter->MatchRequest(session))
        return FALSE;
    return TRUE;
}

std::string CRecipient::GetDescriptionText() {
    using namespace AccessTexts;
    std::string restrictions;
    auto add = [&](DWORD flag, const char* word) {
        if (flag == 0)
            return;
        if (!restrictions.empty())
            restrictions += kRestrictionSeparator;
        restrictions += word;
    };
    add(m_minimumSecurityLevel, kSecurityLevelRestriction);
    add(m_specifyLocation, kLocationRestriction);
    add(m_specifyTime, kTimeRestriction);
    add(m_specifyRequest, kRequestRestriction);
    m_description = restrictions.empty() ? std::string(kUnrestrictedRights) : kRestrictedBy + restrictions;
    return m_description;
}

void CRecipient::Copy(const CRecipient& other) {
    if (&other == this)
        return;
    auto timeFilter = std::make_unique<CTimeFilter>();
    timeFilter->Copy(*other.m_timeFilter);
    auto requestFilter = std::make_unique<CRequestFilterCollection>();
    requestFilter->Copy(*other.m_requestFilter);
    LocationList included = other.m_included;
    LocationList excluded = other.m_excluded;
    m_userName = other.m_userName;
    m_description = other.m_description;
    m_specifyUser = other.m_specifyUser;
    m_specifyLocation = other.m_specifyLocation;
    m_specifyTime = other.m_specifyTime;
    m_specifyRequest = other.m_specifyRequest;
    m_minimumSecurityLevel = other.m_minimumSecurityLevel;
    m_included = std::move(included);
    m_excluded = std::move(excluded);
    m_timeFilter = std::move(timeFilter);
    m_requestFilter = std::move(requestFilter);
}

BOOL CRecipient::SaveToRegistry(const std::string& keyPath) const {
    using namespace AccessFormat;
    BOOL ok = RegWriteString(keyPath, kUserName, m_userName);
    ok &= RegWriteString(keyPath, kDescription, m_description);
    ok &= RegWriteDWORD(keyPath, kSpecifyUser, m_specifyUser);
    ok &= RegWriteDWORD(keyPath, kSpecifyLocation, m_specifyLocation);
    ok &= RegWriteDWORD(keyPath, kSpecifyTime, m_specifyTime);
    ok &= RegWriteDWORD(keyPath, kSpecifyRequest, m_specifyRequest);
    ok &= RegWriteDWORD(keyPath, kMinimumSecurityLevel, m_minimumSecurityLevel);
    ok &= SaveAddressPatterns(SubKeyPath(keyPath, kIncludedLocationsKey), m_included);
    ok &= SaveAddressPatterns(SubKeyPath(keyPath, kExcludedLocationsKey), m_excluded);
    ok &= m_timeFilter->SaveToRegistry(SubKeyPath(keyPath, kTimeFilterKey));
    ok &= m_requestFilter->SaveToRegistry(SubKeyPath(keyPath, kRequestFilterKey));
    return ok;
}

void CRecipient::LoadFromRegistry(const std::string& keyPath) {
    using namespace AccessFormat;
    m_userName = RegReadString(keyPath, kUserName, "");
    m_description = RegReadString(keyPath, kDescription, "");
    m_specifyUser = RegReadDWORD(keyPath, kSpecifyUser, 0);
    m_specifyLocation = RegReadDWORD(keyPath, kSpecifyLocation, 0);
    m_specifyTime = RegReadDWORD(keyPath, kSpecifyTime, 0);
    m_specifyRequest = RegReadDWORD(keyPath, kSpecifyRequest, 0);
    m_minimumSecurityLevel = RegReadDWORD(keyPath, kMinimumSecurityLevel, 0);
    m_included = LoadAddressPatterns(SubKeyPath(keyPath, kIncludedLocationsKey));
    m_excluded = LoadAddressPatterns(SubKeyPath(keyPath, kExcludedLocationsKey));
    m_timeFilter->LoadFromRegistry(SubKeyPath(keyPath, kTimeFilterKey));
    m_requestFilter->LoadFromRegistry(SubKeyPath(keyPath, kRequestFilterKey));
}

void CRecipient::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar << m_userName << m_description << m_specifyUser << m_specifyLocation << m_specifyTime
           << m_specifyRequest << m_minimumSecurityLevel;
        ar.WriteStringList(m_included);
        ar.WriteStringList(m_excluded);
        m_timeFilter->Serialize(ar);
        m_requestFilter->Serialize(ar);
        return;
    }
    std::string userName, description;
    DWORD flags[5];
    ar >> userName >> description;
    for (DWORD& flag : flags)
        ar >> flag;
    LocationList included, excluded;
    ar.ReadStringList(included);
    ar.ReadStringList(excluded);
    auto timeFilter = std::make_unique<CTimeFilter>();
    timeFilter->Serialize(ar);
    auto requestFilter = std::make_unique<CRequestFilterCollection>();
    requestFilter->Serialize(ar);
    m_userName = std::move(userName);
    m_description = std::move(description);
    m_specifyUser = flags[0];
    m_specifyLocation = flags[1];
    m_specifyTime = flags[2];
    m_specifyRequest = flags[3];
    m_minimumSecurityLevel = flags[4];
    m_included = std::move(included);
    m_excluded = std::move(excluded);
    m_timeFilter = std::move(timeFilter);
    m_requestFilter = std::move(requestFilter);
}
