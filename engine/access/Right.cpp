#include "engine/access/Right.h"

#include "engine/access/AccessFormat.h"
#include "engine/access/AccessStore.h"
#include "engine/access/GroupMemberDatabase.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"

#include <memory>
#include <vector>

IMPLEMENT_SERIAL(CRight, CObject, 1)

namespace {

using RecipientVector = std::vector<std::unique_ptr<CRecipient>>;

}  // namespace

CRight::~CRight() { RemoveAll(); }

DWORD CRight::GetRightType() const {
    CScopedLock lock(*this);
    return m_rightType;
}

void CRight::SetRightType(DWORD kind) {
    CScopedLock lock(*this);
    m_rightType = kind;
}

std::string CRight::GetDescription() const {
    CScopedLock lock(*this);
    return m_description;
}

void CRight::SetDescription(std::string description) {
    CScopedLock lock(*this);
    m_description = std::move(description);
}

DWORD CRight::GetIncludeDefaultRights() const {
    CScopedLock lock(*this);
    return m_includeDefaultRights;
}

void CRight::SetIncludeDefaultRights(DWORD flag) {
    CScopedLock lock(*this);
    m_includeDefaultRights = flag;
}

BOOL CRight::IsGranted(CAccessSession& session, BOOL skipRequestTest) const {
    return Decide(session, skipRequestTest, true);
}

BOOL CRight::Decide(CAccessSession& session, BOOL skipRequestTest, bool consultDefault) const {
    CAccessContext& context = session.GetAccessContext();
    {
        CGroupMemberDatabase& users = context.GetUserDatabase();
        CScopedLock lock(users);
        const CUser* user = users.FindUserAccount(session.GetUserName());
        if (user == nullptr || !user->GetAccountEnabled())
            return FALSE;
    }
    DWORD kind, includeDefault;
    {
        CScopedLock lock(*this);
        kind = m_rightType;
        includeDefault = m_includeDefaultRights;
    }
    if (consultDefault && includeDefault != 0 && kind <= kLastDefaultRightKind) {
        if (const CRight* defaultRight = context.GetDefaultRight(kind)) {
            {
                CScopedLock lock(*defaultRight);
                defaultRight->m_includeDefaultRights = 0;
            }
            if (defaultRight != this && defaultRight->Decide(session, skipRequestTest, false))
                return TRUE;
        }
    }
    CScopedLock lock(*this);
    for (const CObject* recipient : m_recipients) {
        if (static_cast<const CRecipient*>(recipient)->IsSatisfiedBy(session, skipRequestTest))
            return TRUE;
    }
    return FALSE;
}

BOOL CRight::AddRecipient(CRecipient* recipient) {
    CScopedLock lock(*this);
    if (recipient == nullptr || m_recipients.Contains(recipient))
        return FALSE;
    m_recipients.AddTail(recipient);
    return TRUE;
}

void CRight::AddRecipientFor(const std::string& name) {
    auto recipient = std::make_unique<CRecipient>(name);
    AddRecipient(recipient.get());
    recipient.release();
}

CRecipient* CRight::FindRecipient(std::string_view name) const {
    CScopedLock lock(*this);
    for (CObject* element : m_recipients) {
        auto* recipient = static_cast<CRecipient*>(element);
        if (recipient->GetUserName() == name)
            return recipient;
    }
    return nullptr;
}

BOOL CRight::RemoveRecipient(std::string_view name) {
    CRecipient* recipient = nullptr;
    {
        CScopedLock lock(*this);
        recipient = FindRecipient(name);
        if (recipient == nullptr)
            return FALSE;
        m_recipients.Remove(recipient);
    }
    recipient->Release();
    return TRUE;
}

BOOL CRight::RemoveRecipient(const CRecipient* recipient) {
    {
        CScopedLock lock(*this);
        if (recipient == nullptr || !m_recipients.Remove(recipient))
            return FALSE;
    }
    recipient->Release();
    return TRUE;
}

void CRight::RemoveAll() {
    CScopedLock lock(*this);
    m_recipients.DeleteElements();
}

void CRight::Copy(const CRight& other) {
    if (&other == this)
        return;
    RecipientVector copies;
    DWORD kind, includeDefault;
    std::string description;
    {
        CScopedLock lock(other);
        kind = other.m_rightType;
        description = other.m_description;
        includeDefault = other.m_includeDefaultRights;
        for (const CObject* element : other.m_recipients) {
            auto copy = std::make_unique<CRecipient>();
            copy->Copy(*static_cast<const CRecipient*>(element));
            copies.push_back(std::move(copy));
        }
    }
    CScopedLock lock(*this);
    ReplaceOwnedElements(m_recipients, copies);
    m_rightType = kind;
    m_description = std::move(description);
    m_includeDefaultRights = includeDefault;
}

BOOL CRight::SaveToRegistry(const std::string& keyPath) const {
    using namespace AccessFormat;
    CScopedLock lock(*this);
    if (!RegDeleteKeyTree(keyPath))
        return FALSE;
    BOOL ok = RegWriteDWORD(keyPath, kRightType, m_rightType);
    ok &= RegWriteString(keyPath, kDescription, m_description);
    ok &= RegWriteDWORD(keyPath, kIncludeDefaultRights, m_includeDefaultRights);
    return ok && SaveNumberedElements<CRecipient>(
                     m_recipients, keyPath, kRecipientKey,
                     [](const CRecipient& recipient, const std::string& path) {
                         return recipient.SaveToRegistry(path);
                     });
}

void CRight::LoadFromRegistry(const std::string& keyPath) {
    using namespace AccessFormat;
    const DWORD kind = RegReadDWORD(keyPath, kRightType, RightAccess);
    std::string description = RegReadString(keyPath, kDescription, "");
    const DWORD includeDefault = RegReadDWORD(keyPath, kIncludeDefaultRights, 1);
    RecipientVector loaded =
        LoadSubKeyElements<CRecipient>(keyPath, kRecipientKey, [](const std::string& path) {
            auto recipient = std::make_unique<CRecipient>();
            recipient->LoadFromRegistry(path);
            return recipient;
        });
    CScopedLock lock(*this);
    ReplaceOwnedElements(m_recipients, loaded);
    m_rightType = kind;
    m_description = std::move(description);
    m_includeDefaultRights = includeDefault;
}

void CRight::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        CScopedLock lock(*this);
        ar << m_rightType << m_description << m_includeDefaultRights;
        WriteElements(ar, m_recipients);
        return;
    }
    DWORD kind, includeDefault;
    std::string description;
    ar >> kind >> description >> includeDefault;
    RecipientVector loaded = ReadOwnedElements<CRecipient>(ar);
    CScopedLock lock(*this);
    ReplaceOwnedElements(m_recipients, loaded);
    m_rightType = kind;
    m_description = std::move(description);
    m_includeDefaultRights = includeDefault;
}
