#include "engine/access/GroupMemberDatabase.h"

#include "engine/access/AccessFormat.h"
#include "engine/access/AccessStore.h"
#include "engine/access/AccessTexts.h"
#include "engine/LogFile.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"
#include "platform/kernel/Paths.h"

#include <memory>
#include <unordered_set>

IMPLEMENT_SERIAL(CGroupMemberDatabase, CLockableMap, 1)

namespace {

struct BuiltInName {
    const char* name;
    bool isGroup;
};
constexpr BuiltInName kBuiltInNames[] = {
    {AccessTexts::kAdministrator, false},
    {AccessTexts::kGuest, false},
    {AccessTexts::kAdministrators, true},
    {AccessTexts::kUsers, true},
};

// A built-in name belongs to its built-in entry alone: no other letter case of it, and no
// entry of the other kind, may take it (the built-ins are re-created at every start).
bool ClashesWithBuiltIn(std::string_view name, bool isGroup) {
    for (const BuiltInName& builtIn : kBuiltInNames) {
        if (RegNamesEqual(name, builtIn.name) && (name != builtIn.name || isGroup != builtIn.isGroup))
            return true;
    }
    return false;
}

// The entry as a user or group of the database, or null for anything else: for objects
// that are not yet known to be entries (offered or freshly loaded).
CFilterComponent* AsEntry(CObject* object) {
    auto* entry = dynamic_cast<CFilterComponent*>(object);
    if (entry == nullptr || entry->GetEntryKind() == CFilterComponent::EntryKind::other)
        return nullptr;
    return entry;
}

// A value the map of a database in use holds: always a user or a group (AddEntry, the loads
// and CheckLoaded admit nothing else), so it is taken as an entry without asking the run-time
// type.
CFilterComponent* HeldEntry(CObject* value) { return static_cast<CFilterComponent*>(value); }

bool IsGroup(const CFilterComponent* entry) {
    return entry->GetEntryKind() == CFilterComponent::EntryKind::group;
}

std::string EntryKeyPath(std::string_view name) {
    return SubKeyPath(AccessFormat::kUserDatabaseKey, name);
}

}  // namespace

CGroupMemberDatabase::~CGroupMemberDatabase() { RemoveAll(); }

bool CGroupMemberDatabase::IsValidName(std::string_view name) {
    return name.size() <= REG_MAX_KEY_NAME && IsSafeName(std::string(name));
}

bool CGroupMemberDatabase::MayTake(std::string_view name, bool isGroup, CFilterComponent** replacing) const {
    *replacing = nullptr;
    if (!IsValidName(name) || ClashesWithBuiltIn(name, isGroup))
        return false;
    for (const auto& [key, entry] : *this) {
        if (key == name) {
            if (IsGroup(HeldEntry(entry)) != isGroup)
                return false;
            *replacing = HeldEntry(entry);
        } else if (RegNamesEqual(key, name)) {
            return false;
        }
    }
    return true;
}

BOOL CGroupMemberDatabase::CanTakeName(std::string_view name, bool isGroup) const {
    CScopedLock lock(*this);
    CFilterComponent* replacing = nullptr;
    return MayTake(name, isGroup, &replacing) ? TRUE : FALSE;
}

void CGroupMemberDatabase::Adopt(CFilterComponent* entry) {
    SetAt(entry->GetName(), entry);
    if (IsGroup(entry))
        static_cast<CGroup*>(entry)->SetDatabase(this);
}

void CGroupMemberDatabase::LetGo(CObject* value) {
    // Also called for what a refused upload left in a fresh map, which may be anything.
    CFilterComponent* entry = AsEntry(value);
    if (entry == nullptr)
        return;
    if (IsGroup(entry))
        static_cast<CGroup*>(entry)->SetDatabase(nullptr);
    else
        static_cast<CUser*>(entry)->CloseAuditFile();
}

BOOL CGroupMemberDatabase::AddEntry(CFilterComponent* entry, BOOL* saved) {
    if (saved != nullptr)
        *saved = FALSE;
    if (entry == nullptr || AsEntry(entry) == nullptr)
        return FALSE;
    CScopedLock lock(*this);
    const std::string& name = entry->GetName();
    bool held = false;
    for (const auto& [key, value] : *this) {
        if (value == entry) {
            if (key != name)
                return FALSE;  // renamed while held: it would sit under two names
            held = true;
        }
    }
    if (!held) {
        CFilterComponent* replacing = nullptr;
        if (!MayTake(name, IsGroup(entry), &replacing))
            return FALSE;
        Adopt(entry);  // the only step that may throw (allocation), before anything is given up
        if (replacing != nullptr) {
            LetGo(replacing);
            replacing->Release();
        }
    }
    const BOOL stored = m_storeless ? FALSE : entry->SaveToRegistry(EntryKeyPath(name));
    if (saved != nullptr)
        *saved = stored;
    return TRUE;
}

BOOL CGroupMemberDatabase::DeleteEntry(std::string_view name) {
    if (!IsValidName(name))
        return FALSE;  // such a name is never held, and as a key path it could reach others
    CScopedLock lock(*this);
    CObject* entry = Lookup(name);
    const bool present = entry != nullptr;
    if (present) {
        RemoveKey(name);
        LetGo(entry);
        entry->Release();
    }
    if (m_storeless)
        return present ? TRUE : FALSE;
    for (const auto& [key, value] : *this) {
        if (RegNamesEqual(key, name))
            return present ? TRUE : FALSE;  // the store's key is that entry's
    }
    RegDeleteKeyTree(EntryKeyPath(name));
    return present ? TRUE : FALSE;
}

CFilterComponent* CGroupMemberDatabase::FindEntry(std::string_view name) const {
    CScopedLock lock(*this);
    CObject* value = Lookup(name);
    return value != nullptr ? HeldEntry(value) : nullptr;
}

CFilterComponent* CGroupMemberDatabase::FindUser(std::string_view name, BOOL wantGroup) const {
    CScopedLock lock(*this);
    CObject* value = Lookup(name);
    if (value == nullptr || IsGroup(HeldEntry(value)) != (wantGroup != FALSE))
        return nullptr;
    return HeldEntry(value);
}

CUser* CGroupMemberDatabase::FindUserAccount(std::string_view name) const {
    return static_cast<CUser*>(FindUser(name, FALSE));
}

bool CGroupMemberDatabase::IsEnabledAccount(std::string_view name) const {
    CScopedLock lock(*this);
    const CUser* user = FindUserAccount(name);
    return user != nullptr && user->GetAccountEnabled() != FALSE;
}

CGroup* CGroupMemberDatabase::FindGroup(std::string_view name) const {
    return static_cast<CGroup*>(FindUser(name, TRUE));
}

void CGroupMemberDatabase::RemoveAll() {
    CScopedLock lock(*this);
    for (const auto& [key, entry] : *this)
        LetGo(entry);
    DeleteElements();
}

void CGroupMemberDatabase::ReplaceWith(CGroupMemberDatabase& fresh) {
    CScopedLock lock(*this);
    CScopedLock freshLock(fresh);
    TakeEntriesOf(fresh);
    fresh.RemoveAll();
}

bool CGroupMemberDatabase::HoldsBuiltInEntries() const {
    CScopedLock lock(*this);
    for (const BuiltInName& builtIn : kBuiltInNames) {
        if (FindUser(builtIn.name, builtIn.isGroup ? TRUE : FALSE) == nullptr)
            return false;
    }
    return true;
}

void CGroupMemberDatabase::CreateBuiltInAccounts() {
    using namespace AccessTexts;
    CScopedLock lock(*this);
    auto addUser = [&](const char* name, const char* description, BOOL mustChangePassword) {
        if (FindEntry(name) != nullptr)
            return;
        auto user = std::make_unique<CUser>(name, "", "", description);
        user->SetUserMustChangePassword(mustChangePassword);
        if (AddEntry(user.get()))
            user.release();
    };
    auto addGroup = [&](const char* name, const char* description,
                        std::initializer_list<const char*> members) {
        if (FindEntry(name) != nullptr)
            return;
        auto group = std::make_unique<CGroup>(name, description);
        for (const char* member : members) {
            if (const CFilterComponent* entry = FindEntry(member))
                group->AddMember(*entry);
        }
        if (AddEntry(group.get()))
            group.release();
    };
    addUser(kAdministrator, kAdministratorDescription, TRUE);
    addUser(kGuest, kGuestDescription, FALSE);
    addGroup(kAdministrators, kAdministratorsDescription, {kAdministrator});
    addGroup(kUsers, kUsersDescription, {kAdministrator, kGuest});
}

void CGroupMemberDatabase::OpenAuditFiles() {
    CScopedLock lock(*this);
    for (const auto& [key, entry] : *this) {
        if (!IsGroup(HeldEntry(entry)))
            static_cast<CUser*>(HeldEntry(entry))->OpenAuditFile();
    }
}

BOOL CGroupMemberDatabase::WriteAudit(CLogManager& manager, const std::string& userName,
                                      DWORD eventBit, const SessionLogFields& session,
                                      const char* format, ...) const {
    va_list args;
    va_start(args, format);
    const BOOL posted = WriteAuditV(manager, userName, eventBit, session, format, args);
    va_end(args);
    return posted;
}

BOOL CGroupMemberDatabase::WriteAuditV(CLogManager& manager, const std::string& userName,
                                       DWORD eventBit, const SessionLogFields& session,
                                       const char* format, va_list args) const {
    if (!CLogFile::AnyAuditLogOpen())
        return FALSE;  // no audit file is open: no line could be written
    CScopedLock lock(*this);
    const CUser* user = FindUserAccount(userName);
    if (user == nullptr || !user->GetAuditUser())
        return FALSE;
    return PostAuditLogLineV(manager, user->GetAuditFile(), user->GetAuditOptions(), eventBit,
                             session, format, args);
}

void CGroupMemberDatabase::TakeEntriesOf(CGroupMemberDatabase& fresh) {
    SwapEntries(fresh);
    for (const auto& [key, entry] : fresh)
        LetGo(entry);
    for (const auto& [key, entry] : *this) {
        if (IsGroup(HeldEntry(entry)))
            static_cast<CGroup*>(HeldEntry(entry))->SetDatabase(this);
    }
}

void CGroupMemberDatabase::CheckLoaded() const {
    std::unordered_set<std::string> folded;
    for (const auto& [key, object] : *this) {
        const CFilterComponent* entry = AsEntry(object);
        if (entry == nullptr || entry->GetName() != key || !IsValidName(key) ||
            ClashesWithBuiltIn(key, IsGroup(entry)) || !folded.insert(RegFoldName(key)).second)
            throw new CArchiveException(CArchiveException::generic);
    }
}

void CGroupMemberDatabase::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        CScopedLock lock(*this);
        CObjectMap::Serialize(ar);
        return;
    }
    // Users have the lockable object as their run-time base, groups the filter component:
    // the common class admits both, and CheckLoaded refuses every other.
    CGroupMemberDatabase fresh;
    fresh.LoadOwned<CFilterComponent>(ar, RUNTIME_CLASS(CLockableObject));
    fresh.CheckLoaded();
    CScopedLock lock(*this);
    TakeEntriesOf(fresh);
}

BOOL CGroupMemberDatabase::SaveToRegistry(const std::string& keyPath) const {
    CScopedLock lock(*this);
    std::unordered_set<std::string> names;
    for (const auto& [key, entry] : *this)
        names.insert(RegFoldName(key));
    for (const std::string& subKey : RegEnumSubKeys(keyPath)) {
        if (names.count(RegFoldName(subKey)) == 0 && !RegDeleteKeyTree(SubKeyPath(keyPath, subKey)))
            return FALSE;
    }
    for (const auto& [key, entry] : *this) {
        if (!HeldEntry(entry)->SaveToRegistry(SubKeyPath(keyPath, key)))
            return FALSE;
    }
    return TRUE;
}

BOOL CGroupMemberDatabase::SaveStatistics(const std::string& keyPath) const {
    CScopedLock lock(*this);
    for (const auto& [key, entry] : *this) {
        const CFilterComponent* held = HeldEntry(entry);
        if (!IsGroup(held) && !static_cast<const CUser*>(held)->SaveStatistics(SubKeyPath(keyPath, key)))
            return FALSE;
    }
    return TRUE;
}

void CGroupMemberDatabase::LoadFromRegistry(const std::string& keyPath) {
    using namespace AccessFormat;
    CGroupMemberDatabase fresh;
    std::unordered_set<std::string> folded;
    for (const std::string& subKey : RegEnumSubKeys(keyPath)) {
        const std::string path = SubKeyPath(keyPath, subKey);
        const std::string type = RegReadString(path, kType, "");
        std::unique_ptr<CFilterComponent> entry;
        if (type == kTypeUser)
            entry = std::make_unique<CUser>();
        else if (type == kTypeGroup)
            entry = std::make_unique<CGroup>();
        else
            continue;
        entry->LoadFromRegistry(path);
        const std::string& name = entry->GetName();
        if (!IsValidName(name) || ClashesWithBuiltIn(name, IsGroup(entry.get())) ||
            !folded.insert(RegFoldName(name)).second)
            continue;
        fresh.SetAt(name, entry.get());
        entry.release();
    }
    CScopedLock lock(*this);
    TakeEntriesOf(fresh);
}
