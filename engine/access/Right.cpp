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

DWORD CRight::GetRightType() const { return m_rightType.load(); }

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

DWORD CRight::GetIncludeDefaultRights() const { return m_includeDefaultRights.load(); }

void CRight::SetIncludeDefaultRights(DWORD flag) {
    CScopedLock lock(*this);
    m_includeDefaultRights = flag;
}

BOOL CRight::IsGranted(CAccessSession& session, BOOL skipRequestTest) const {
    CAccessContext& context = session.GetAccessContext();
    // The user is looked up once: the default right consulted below decides for the same
    // account.
    const std::string userName = session.GetUserName();
    if (!context.GetUserDatabase().IsEnabledAccount(userName))
        return FALSE;
    const DWORD kind = m_rightType.load();
    if (m_includeDefaultRights.load() != 0 && kind <= kLastDefaultRightKind) {
        if (const CRight* defaultRight = context.GetDefaultRight(kind)) {
            // Written only when set: the flag is read by every decision of every session.
            if (defaultRight->m_includeDefaultRights.load() != 0) {
                CScopedLock lock(*defaultRight);
                defaultRight->m_includeDefaultRights.store(0);
            }
            if (defaultRight != this &&
                defaultRight->AnyRecipientSatisfied(session, skipRequestTest, userName))
                return TRUE;
        }
    }
    return AnyRecipientSatisfied(session, skipRequestTest, userName) ? TRUE : FALSE;
}

bool CRight::AnyRecipientSatisfied(CAccessSession& session, BOOL skipRequestTest,
                                   const std::string& userName) const {
    CScopedLock lock(*this);
    for (const CObject* recipient : m_recipients) {
        if (static_cast<const CRecipient*>(recipient)->IsSatisfiedBy(session, skipRequestTest, userName))
            return true;
    }
    return false;
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
        kind = other.m_rightType.load();
        description = other.m_description;
        includeDefault = other.m_includeDefaultRights.load();
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
    BOOL ok = RegWriteDWORD(keyPath, kRightType, m_rightType.load());
    ok &= RegWriteString(keyPath, kDescription, m_description);
    ok &= RegWriteDWORD(keyPath, kIncludeDefaultRights, m_includeDefaultRights.load());
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
        ar << m_rightType.load() << m_description << m_includeDefaultRights.load();
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
