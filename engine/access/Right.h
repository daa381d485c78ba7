#pragma once
// A right: who may do one kind of thing, as an ordered list of recipients
// (engine/access/Recipient.h). The engine holds eleven (kinds 0-10: the default rights of
// services and the system rights); every service holds one each of kinds 0-2.
//
// IsGranted(session, skipRequestTest) is the access decision of the whole system:
//   1. The session's user name must name a user account (not a group) of the user database
//      whose AccountEnabled is set, else FALSE: a disabled account is refused even by an
//      unrestricted "Everyone" recipient. (Looked up under the database lock.)
//   2. With IncludeDefaultRights set and RightType 0-2, the context's default right of that
//      kind is consulted first: its own IncludeDefaultRights is cleared (the value it then
//      holds, shows and saves), and if it grants, so does this right. The default right never
//      chains further, whatever its flag says by then.
//   3. Under the recipient-list mutex, the first recipient satisfied (IsSatisfiedBy) grants.
//   4. Otherwise FALSE.
// skipRequestTest passes over the recipients' request restrictions (the check made when a
// session starts, before any request is known).
//
// Ownership: the right owns its recipients. AddRecipient refuses (FALSE) null and a recipient
// already listed; on TRUE the right has taken it, on FALSE the caller keeps it.
//
// Locking: one re-entrant mutex (Lock/Unlock, the recipient list's) guards the list and
// Description; RightType and IncludeDefaultRights, which every decision reads and a default
// right's consulting rights clear, are atomic values (changed under the mutex too, so a
// reader holding it sees them with the list they belong to). Lock order: the user database
// is taken and released (the account test), then this mutex; under it a recipient takes the
// user database (then group mutexes), the time filter's and the request filters' mutexes. A
// default right is consulted with none of this right's locks held. Copy reads the source
// under its mutex and replaces this right's list under this one, never holding both.
// FindRecipient's result is used under the lock:
//     CScopedLock lock(right);
//     if (CRecipient* recipient = right.FindRecipient("Users")) ...
//
// Registry form: the key tree at the key path is deleted, then DWORD "RightType", string
// "Description", DWORD "IncludeDefaultRights", and each recipient under "<key>\Recipient<n>",
// n from 0 in list order. Loading reads the three values (defaults 0, "", 1) and makes a
// recipient of every sub-key, "Recipient<n>" in numeric order first; they replace the old
// recipients.
//
// Archive form: RightType (4 bytes), Description, IncludeDefaultRights (4 bytes), then the
// recipients as a count and class-tagged CRecipient objects. A load reads everything aside
// and changes the right only when the whole right was read.

#include "engine/access/AccessSession.h"
#include "engine/access/Recipient.h"
#include "foundation/LockableList.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <atomic>
#include <string>
#include <string_view>

// Kinds of rights (RightType).
enum RightKind : DWORD {
    RightAccess = 0,      // use a service
    RightStartStop = 1,   // start or stop a service
    RightEdit = 2,        // edit a service
    RightUserAdd = 3,
    RightServiceAdd = 4,
    RightActivityMonitor = 5,
    RightActivityControl = 6,
    RightPolicyEdit = 7,
    RightDialerEdit = 8,
    RightCacheManagement = 9,
    RightShutdown = 10,
};
inline constexpr DWORD kRightKindCount = 11;
// Kinds 0 up to this one have default rights.
inline constexpr DWORD kLastDefaultRightKind = RightEdit;

class CRight : public CObject {
    DECLARE_SERIAL(CRight)
public:
    CRight() = default;
    ~CRight() override;
    CRight(const CRight&) = delete;
    CRight& operator=(const CRight&) = delete;

    DWORD GetRightType() const;
    void SetRightType(DWORD kind);
    std::string GetDescription() const;
    void SetDescription(std::string description);
    DWORD GetIncludeDefaultRights() const;
    void SetIncludeDefaultRights(DWORD flag);

    BOOL IsGranted(CAccessSession& session, BOOL skipRequestTest) const;

    BOOL AddRecipient(CRecipient* recipient);
    // Appends a new recipient made with the constructor with a name (SpecifyUser 1).
    void AddRecipientFor(const std::string& name);
    // The first recipient whose UserName is exactly `name`, or null. Hold the lock.
    CRecipient* FindRecipient(std::string_view name) const;
    // Unlinks and deletes the first recipient of that UserName; FALSE when there is none.
    BOOL RemoveRecipient(std::string_view name);
    // Unlinks and deletes exactly `recipient` (of two recipients of one name, the one meant);
    // FALSE when this right does not hold it.
    BOOL RemoveRecipient(const CRecipient* recipient);
    // Deletes every recipient.
    void RemoveAll();

    // Becomes a copy of `other`: RightType, Description, IncludeDefaultRights and a copy of
    // each recipient, in order. Copying onto itself changes nothing.
    void Copy(const CRight& other);

    // The recipient list (elements are CRecipient), for walking under Lock.
    const CLockableList& GetRecipients() const { return m_recipients; }
    void Lock() const { m_recipients.Lock(); }
    void Unlock() const { m_recipients.Unlock(); }

    void Serialize(CArchive& ar) override;
    // TRUE when everything was stored; the first failing recipient ends the save.
    virtual BOOL SaveToRegistry(const std::string& keyPath) const;
    virtual void LoadFromRegistry(const std::string& keyPath);

private:
    // Step 3 of the decision for the session's user `userName`, whose account was found
    // enabled.
    bool AnyRecipientSatisfied(CAccessSession& session, BOOL skipRequestTest,
                               const std::string& userName) const;

    CLockableList m_recipients;
    std::atomic<DWORD> m_rightType{RightAccess};
    std::string m_description;
    // Mutable: a consulting right clears a default right's flag through a const decision.
    mutable std::atomic<DWORD> m_includeDefaultRights{1};
};
