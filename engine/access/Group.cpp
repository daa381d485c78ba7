#include "engine/access/Group.h"

#include "engine/access/AccessFormat.h"
#include "engine/access/AccessStore.h"
#include "engine/access/AccessTexts.h"
#include "engine/access/GroupMemberDatabase.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"

#include <algorithm>

IMPLEMENT_SERIAL(CGroup, CFilterComponent, 1)

namespace {

constexpr std::size_t kMinMemberBytes = 5;  // a length byte and the 4-byte flag

DWORD DwordData(const RegTreeValue& value) {
    if (value.data.size() != 4)
        return 0;
    DWORD flag = 0;
    for (std::size_t i = 0; i < 4; ++i)
        flag |= static_cast<DWORD>(static_cast<unsigned char>(value.data[i])) << (8 * i);
    return flag;
}

}  // namespace

void CGroup::SetMember(MemberMap& members, std::string_view name, DWORD flag) {
    for (auto it = members.begin(); it != members.end();) {
        if (it->first != name && RegNamesEqual(it->first, name))
            it = members.erase(it);
        else
            ++it;
    }
    auto it = members.find(name);
    if (it != members.end())
        it->second = flag;
    else
        members.emplace(std::string(name), flag);
}

void CGroup::AddMember(const CFilterComponent& entry) {
    AddMember(entry.GetName(), entry.GetEntryKind() == EntryKind::group ? kGroupMember : kUserMember);
}

void CGroup::AddMember(std::string_view name, DWORD flag) {
    CScopedLock lock(*this);
    SetMember(m_members, name, flag);
}

BOOL CGroup::RemoveMember(std::string_view name) {
    CScopedLock lock(*this);
    auto it = m_members.find(name);
    if (it == m_members.end())
        return FALSE;
    m_members.erase(it);
    return TRUE;
}

BOOL CGroup::HasMember(std::string_view name) const {
    CScopedLock lock(*this);
    return m_members.find(name) != m_members.end() ? TRUE : FALSE;
}

CGroup::MemberMap CGroup::GetMembers() const {
    CScopedLock lock(*this);
    return m_members;
}

BOOL CGroup::ContainsUser(const std::string& userName) const {
    const CGroupMemberDatabase* database = m_database.load();
    if (database == nullptr)
        return FALSE;
    CScopedLock databaseLock(*database);
    if (m_database.load() != database)  // let go of while we waited
        return FALSE;
    VisitedGroups visited;
    return Search(userName, *database, visited) ? TRUE : FALSE;
}

bool CGroup::VisitedGroups::Insert(const CGroup* group) {
    const auto end = m_first.begin() + m_firstCount;
    if (std::find(m_first.begin(), end, group) != end)
        return false;
    if (m_firstCount < m_first.size()) {
        m_first[m_firstCount++] = group;
        return true;
    }
    return m_more.insert(group).second;
}

bool CGroup::Search(const std::string& userName, const CGroupMemberDatabase& database,
                    VisitedGroups& visited) const {
    // A group entered before has either answered false already or is on the current path
    // (a cycle): searching it again cannot find anyone new.
    if (!visited.Insert(this))
        return false;
    CScopedLock lock(*this);
    for (auto it = m_members.begin(); it != m_members.end();) {
        const CFilterComponent* member = database.FindUser(it->first, it->second != kUserMember);
        if (member == nullptr) {
            it = m_members.erase(it);  // stale: the name is gone or now names the other kind
            continue;
        }
        const bool found = member->GetEntryKind() == EntryKind::group
                               ? static_cast<const CGroup*>(member)->Search(userName, database, visited)
                               : member->ContainsUser(userName);
        if (found)
            return true;
        ++it;
    }
    return false;
}

BOOL CGroup::SaveToRegistry(const std::string& keyPath) const {
    using namespace AccessFormat;
    if (!CFilterComponent::SaveToRegistry(keyPath) || !RegWriteString(keyPath, kType, kTypeGroup))
        return FALSE;
    const std::string membersPath = SubKeyPath(keyPath, kMembersKey);
    if (!RegDeleteKeyTree(membersPath))
        return FALSE;
    const MemberMap members = GetMembers();
    for (const auto& [name, flag] : members) {
        if (!RegWriteDWORD(membersPath, name, flag))
            return FALSE;
    }
    return TRUE;
}

void CGroup::LoadFromRegistry(const std::string& keyPath) {
    // Value names are unique in the store whatever their case; names that could not be an
    // entry's ("" for one) would only be pruned at the first membership test.
    MemberMap members;
    for (const RegTreeValue& value : RegEnumValues(SubKeyPath(keyPath, AccessFormat::kMembersKey))) {
        if (CGroupMemberDatabase::IsValidName(value.name))
            members.emplace(value.name, DwordData(value));
    }
    CFilterComponent::LoadFromRegistry(keyPath);
    CScopedLock lock(*this);
    m_members = std::move(members);
}

void CGroup::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        StoreBase(ar);
        CScopedLock lock(*this);
        ar.WriteCount(m_members.size());
        for (const auto& [name, flag] : m_members)
            ar << name << flag;
        return;
    }
    std::string name, description;
    LoadBase(ar, name, description);
    MemberMap members;
    std::unordered_set<std::string> folded;
    for (DWORD n = ar.ReadCount(kMinMemberBytes); n > 0; --n) {
        std::string member = ar.ReadString();
        DWORD flag = 0;
        ar >> flag;
        if (!CGroupMemberDatabase::IsValidName(member) || !folded.insert(RegFoldName(member)).second)
            throw new CArchiveException(CArchiveException::generic);
        members.emplace(std::move(member), flag);
    }
    // The administrators' group never loses its administrator: flagged as the user it is,
    // whatever the stream said about it.
    if (name == AccessTexts::kAdministrators)
        SetMember(members, AccessTexts::kAdministrator, kUserMember);
    CScopedLock lock(*this);
    m_members = std::move(members);
    SetName(std::move(name));
    SetDescription(std::move(description));
}
