#pragma once
// A group of the user database: a named set of member names, each a user or another group.
//
// Members: a map from member name to a flag, 1 when the member was a group when it was
// added and 0 when it was a user; a member is resolved by that flag (a member flagged 1
// only ever finds a group, one flagged 0 only a user). Names compare exactly, but the
// store keeps one value per name whatever its letter case, so adding "bob" replaces a
// member "Bob".
//
// ContainsUser(userName): whether the user is a member, directly or through member groups,
// resolved in the database that holds this group (a group in no database contains no one).
// A member that no longer names an entry of its recorded kind is removed on the way. The
// search visits each group at most once, so groups that contain themselves, directly or
// through others, end the search instead of recursing forever.
//
// Locking: the group's own re-entrant mutex (Lock/Unlock) guards the members. The database
// lock comes first: a membership test takes the database lock and then the group mutexes,
// outer before inner; callers that test membership hold the database lock already (the
// access decision holds it around its lookup and the test).
//
// Registry form: Name, Description, "Type" = "Group"; then the key tree "<key>\Members" is
// deleted and each member written there as a DWORD value named by the member, with its flag.
// Loading reads Name and Description and replaces the members by the values of
// "<key>\Members" (DWORD data, 0 when it is not a DWORD).
//
// Archive form: Name, Description, then a count and for each member its name (string) and
// its flag (4 bytes). A load reads everything aside and replaces the members only when the
// whole group was read; a member name that could not be an entry name, or that a member
// before it already holds in another letter case, fails the load (generic cause). After
// loading, a group named "Administrators" holds member "Administrator" (flag 0).

#include "engine/access/FilterComponent.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Types.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <unordered_set>

class CGroupMemberDatabase;

class CGroup : public CFilterComponent {
    DECLARE_SERIAL(CGroup)
public:
    using MemberMap = std::map<std::string, DWORD, std::less<>>;
    static constexpr DWORD kUserMember = 0;
    static constexpr DWORD kGroupMember = 1;

    CGroup() : CFilterComponent(EntryKind::group) {}
    CGroup(std::string name, std::string description)
        : CFilterComponent(EntryKind::group, std::move(name), std::move(description)) {}
    CGroup(const CGroup&) = delete;
    CGroup& operator=(const CGroup&) = delete;

    // Adds the entry's Name with flag 1 for a group and 0 for anything else (an existing
    // member's flag is overwritten).
    void AddMember(const CFilterComponent& entry);
    // Adds `name` with `flag`.
    void AddMember(std::string_view name, DWORD flag);
    // Removes that member name (exact); FALSE when it was not a member.
    BOOL RemoveMember(std::string_view name);
    // Whether `name` is a direct member (exact name).
    BOOL HasMember(std::string_view name) const;
    // A copy of the members, taken under the group mutex.
    MemberMap GetMembers() const;

    // Lock/Unlock of the group mutex (see above).
    void Lock() const { m_mutex.Lock(); }
    void Unlock() const { m_mutex.Unlock(); }

    void Serialize(CArchive& ar) override;
    BOOL ContainsUser(const std::string& userName) const override;
    BOOL SaveToRegistry(const std::string& keyPath) const override;
    void LoadFromRegistry(const std::string& keyPath) override;

private:
    friend class CGroupMemberDatabase;
    // Set by the database that takes the group, cleared when it lets the group go; always
    // under the database lock.
    void SetDatabase(const CGroupMemberDatabase* database) { m_database.store(database); }
    // The groups one search has entered: the first few inline (a membership test of a
    // typical nesting allocates nothing), any further ones in a set.
    class VisitedGroups {
    public:
        // False when the group was entered before.
        bool Insert(const CGroup* group);

    private:
        std::array<const CGroup*, 8> m_first{};
        std::size_t m_firstCount = 0;
        std::unordered_set<const CGroup*> m_more;
    };

    // The search of ContainsUser; `visited` holds the groups entered so far.
    bool Search(const std::string& userName, const CGroupMemberDatabase& database,
                VisitedGroups& visited) const;
    // Sets a member, replacing any member of the same name in another letter case. The
    // caller holds the mutex.
    static void SetMember(MemberMap& members, std::string_view name, DWORD flag);

    mutable CMutex m_mutex;
    // Mutable: a membership test prunes members that no longer resolve.
    mutable MemberMap m_members;
    std::atomic<const CGroupMemberDatabase*> m_database{nullptr};
};
