#pragma once
// The common base of the named, described configuration objects of the access-control model:
// time slices and time filters, groups and user accounts, request criteria and request
// filters, dialer profiles.
//
// Virtual operations, in this order after the object root's (derived classes add theirs
// after these: time test, statistics save, request and cache tests):
//   ContainsUser(userName)   whether the component stands for that user; the base: FALSE.
//                            Users and groups override it.
//   GetDescriptionText()     the text that describes the component. The base returns
//                            Description unchanged; derived classes build a text, store it
//                            into Description and return it.
//   SaveToRegistry(keyPath)  the base writes strings "Name" and "Description" under the key
//                            (engine/access/AccessFormat.h); TRUE when every value was
//                            stored. Derived classes call the base first.
//   LoadFromRegistry(keyPath) the base reads "Name" and "Description", each default "".
//
// Archive form: Name (string), Description (string); derived classes append their fields.
// A derived Serialize that loads must leave the object as it was when the load fails:
// read every field aside (LoadBase for these two) and assign only once all were read.
//
// Locking: none of its own. Name and Description change only while the object is not yet
// shared (while the console edits it, or while it is being loaded); derived classes that are
// shared guard their own data with mutexes of their own.

#include "foundation/LockableObject.h"
#include "platform/kernel/Types.h"

#include <string>
#include <utility>

class CArchive;

class CFilterComponent : public CLockableObject {
    DECLARE_SERIAL(CFilterComponent)
public:
    // What a component is as an entry of the user database, fixed by its class at
    // construction: the database and membership tests tell users from groups by it, which is
    // cheaper than asking the run-time type on every lookup.
    enum class EntryKind : unsigned char { other, user, group };

    CFilterComponent() = default;
    CFilterComponent(std::string name, std::string description);

    EntryKind GetEntryKind() const { return m_entryKind; }

    const std::string& GetName() const { return m_name; }
    void SetName(std::string name) { m_name = std::move(name); }
    const std::string& GetDescription() const { return m_description; }
    void SetDescription(std::string description) { m_description = std::move(description); }

    void Serialize(CArchive& ar) override;

    virtual BOOL ContainsUser(const std::string& userName) const;
    virtual std::string GetDescriptionText();
    virtual BOOL SaveToRegistry(const std::string& keyPath) const;
    virtual void LoadFromRegistry(const std::string& keyPath);

protected:
    explicit CFilterComponent(EntryKind kind) : m_entryKind(kind) {}
    CFilterComponent(EntryKind kind, std::string name, std::string description);

    // The base fields of the archive form, written, or read aside for a transactional load.
    void StoreBase(CArchive& ar) const;
    static void LoadBase(CArchive& ar, std::string& name, std::string& description);
    // Copies Name and Description (for the derived classes' Copy).
    void CopyBase(const CFilterComponent& other);

private:
    EntryKind m_entryKind = EntryKind::other;
    std::string m_name;
    std::string m_description;
};
