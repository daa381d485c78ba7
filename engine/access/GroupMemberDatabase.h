#pragma once
// The user database: users (CUser) and groups (CGroup) by name. One instance lives in the
// engine object, one in the console's copy of the configuration.
//
// Names. An entry's key is its Name, compared exactly (FindEntry("bob") does not find
// "Bob"). Because the store's keys ignore letter case and names become key paths and audit
// file names, a name is taken only when it IsValidName (not empty, "." or "..", no '/', '\'
// or control character, at most 255 bytes), no entry holds it in another letter case, no
// entry of the other kind holds it, and it is no built-in name ("Administrator", "Guest",
// "Administrators", "Users") in another letter case or of the other kind.
//
// Ownership: the database owns its entries and gives them up with Release (a holder of a
// CRef keeps one alive); a user it gives up has its audit file closed at once. AddEntry takes the entry on TRUE; on FALSE the caller keeps it.
//
// Locking: the database lock is the map's re-entrant mutex (Lock/Unlock, CScopedLock). Every
// operation takes it. A pointer from FindEntry/FindUser is used only while the caller holds
// the lock (taken before the lookup), or after taking a CRef under it. Lock order: the
// database lock, then group mutexes (outer group before inner); a group's membership test
// takes them in that order itself. Registry writes of AddEntry and DeleteEntry happen under
// the lock, so the store never disagrees with the map about an entry.
//
// Registry form, below "UserDatabase" (engine/access/AccessFormat.h): one sub-key per entry,
// named by it, holding the entry's own form with "Type" "User" or "Group". Loading reads
// every sub-key whose Type is "User" or "Group" into a new entry kept under the Name it
// loaded, skipping sub-keys of any other Type and entries whose loaded name may not be
// taken (see Names; the first in the store's order wins); the loaded entries then replace
// the whole database.
//
// Archive form: a count, then for each entry its name (string) and the entry as a
// class-tagged object ("CUser" or "CGroup"). A load reads into a fresh database and
// replaces this one only when the whole stream was read and every entry is acceptable (of
// one of the two classes, kept under its own Name, a name that may be taken): a corrupt or
// refused upload leaves the database as it was and throws the archive's exception
// (generic cause for a refused entry) on to the caller.

#include "engine/LogWriters.h"
#include "engine/access/Group.h"
#include "engine/access/User.h"
#include "foundation/LockableMap.h"
#include "platform/kernel/Types.h"

#include <cstdarg>
#include <string>
#include <string_view>

class CLogManager;

class CGroupMemberDatabase : public CLockableMap {
    DECLARE_SERIAL(CGroupMemberDatabase)
public:
    CGroupMemberDatabase() = default;
    ~CGroupMemberDatabase() override;

    // Whether `name` may name an entry at all (see Names above).
    static bool IsValidName(std::string_view name);
    // Whether an entry of that kind could be added under `name` now: a new name, or the
    // exact name of an entry of the same kind (which AddEntry would replace).
    BOOL CanTakeName(std::string_view name, bool isGroup) const;

    // Maps the entry's Name to the entry, replacing (and giving up, its audit file closed)
    // an entry of the same kind under that exact name, then saves the entry under
    // "UserDatabase\<name>". FALSE, with nothing changed, for null, for anything but a
    // CUser or CGroup, for an entry the database holds already under another name, and for a
    // name that may not be taken. `saved`, when given, tells whether the save succeeded.
    BOOL AddEntry(CFilterComponent* entry, BOOL* saved = nullptr);
    // Removes and gives up the entry of exactly that name, then deletes the key tree
    // "UserDatabase\<name>" whether or not it was present, unless the name may not name an
    // entry or the key belongs to an entry held under another letter case. Answers whether
    // the entry was present.
    BOOL DeleteEntry(std::string_view name);
    // The entry of exactly that name, or null.
    CFilterComponent* FindEntry(std::string_view name) const;
    // The engine's user lookup: the entry of that name only if it is a CGroup (wantGroup)
    // or a CUser (not wantGroup), else null.
    CFilterComponent* FindUser(std::string_view name, BOOL wantGroup) const;
    CUser* FindUserAccount(std::string_view name) const;
    // Whether `name` names a user account whose AccountEnabled is set (one lock round trip).
    bool IsEnabledAccount(std::string_view name) const;
    CGroup* FindGroup(std::string_view name) const;

    // Gives up every entry and empties the database.
    void RemoveAll();
    // Takes every entry of `fresh` (a database loaded aside, left empty) in place of this
    // one's, which are given up.
    void ReplaceWith(CGroupMemberDatabase& fresh);
    // Whether each built-in entry is held, under its exact name, as the kind it is.
    bool HoldsBuiltInEntries() const;
    // A copy that never touches the store (the console's): AddEntry and DeleteEntry then save
    // and delete nothing there.
    void MarkStoreless() { m_storeless = true; }

    // Creates, saves and adds each built-in entry that FindEntry does not find, in the order
    // Administrator, Guest, Administrators, Users; a new group gets as members those of its
    // built-in members found at that moment.
    void CreateBuiltInAccounts();

    // OpenAuditFile of every user (engine start-up).
    void OpenAuditFiles();
    // A session's audit line for the user `userName`: under the database lock, posted only
    // when that user exists, AuditUser is set, `eventBit` is in its AuditOptions and its audit
    // file is open (engine/LogWriters.h gives the lines). TRUE when a line was queued.
    BOOL WriteAudit(CLogManager& manager, const std::string& userName, DWORD eventBit,
                    const SessionLogFields& session, const char* format, ...) const
        NV_PRINTF_FORMAT(6, 7);
    BOOL WriteAuditV(CLogManager& manager, const std::string& userName, DWORD eventBit,
                     const SessionLogFields& session, const char* format, va_list args) const
        NV_PRINTF_FORMAT(6, 0);

    void Serialize(CArchive& ar) override;
    // Deletes the sub-keys of keyPath that name no entry (letter case ignored, as the store
    // does), then saves every entry under "<keyPath>\<name>". TRUE when everything was
    // stored; the first failure ends the save.
    virtual BOOL SaveToRegistry(const std::string& keyPath) const;
    // SaveStatistics of every user under "<keyPath>\<name>"; TRUE when everything was stored.
    virtual BOOL SaveStatistics(const std::string& keyPath) const;
    virtual void LoadFromRegistry(const std::string& keyPath);

private:
    // Why a name may not be taken, for an entry of that kind (`replacing` is set to the entry
    // a same-named entry of the same kind would replace). The caller holds the lock.
    bool MayTake(std::string_view name, bool isGroup, CFilterComponent** replacing) const;
    // Puts `entry` under its Name without saving; the caller holds the lock and has checked.
    void Adopt(CFilterComponent* entry);
    // Gives one entry up: a group no longer resolves members through this database, a user's
    // audit file is closed.
    static void LetGo(CObject* entry);
    // Replaces every entry by those of `fresh`, giving the old ones up.
    void TakeEntriesOf(CGroupMemberDatabase& fresh);
    // Throws a generic archive exception unless every entry of a freshly read map is
    // acceptable (see Archive form).
    void CheckLoaded() const;

    bool m_storeless = false;
};
