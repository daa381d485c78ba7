#pragma once
// CMappings: the mapping table of a port-mapping service (UDP or TCP): an ordered list of
// owned CMapping objects, tried from the head, and a default target for the sessions that no
// mapping accepts, used only while AllowDefault is non-zero. A session asks the table once,
// when it starts (FindTarget). The stored and archive forms are in
// proxies/mapping/MappingFormat.h.
//
// Defaults: an empty list, AllowDefault 0 and an empty default target; a table loaded from a
// key without an AllowDefault value has AllowDefault 1.
//
// Ownership. The table owns its mappings: removing one, replacing the list and destroying the
// table give them up. The table itself is shared: its service holds one reference and every
// session that looks a target up holds another while it does (a console's change replaces
// the service's table, never frees it under a session). Always made with new.
//
// Locking. The list's re-entrant mutex guards the list, AllowDefault and the default target.
// Lock order: the table, then the user database (Matches takes it inside the walk).

#include "engine/access/AccessSession.h"
#include "foundation/HostPort.h"
#include "foundation/LockableList.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"
#include "proxies/mapping/Mapping.h"

#include <cstddef>
#include <string>
#include <vector>

class CMappings : public CLockableList {
    DECLARE_SERIAL(CMappings)
public:
    CMappings() = default;
    ~CMappings() override;
    CMappings(const CMappings&) = delete;
    CMappings& operator=(const CMappings&) = delete;

    // Appends at the tail; the table takes ownership. Null does nothing.
    void AddMapping(CMapping* mapping);
    // Takes that very mapping out and gives it up; a mapping not in the table is ignored.
    void RemoveMapping(CMapping* mapping);
    // Becomes a copy of `other`: AllowDefault, the default target and a copy of each mapping
    // in order. Only `other`'s lock is held while copying from it.
    void Copy(const CMappings& other);

    // The target of the first mapping, from the head, that accepts the session; else the
    // default target when AllowDefault is set (even an empty one). FALSE, `target` unchanged,
    // when the session has nowhere to go.
    BOOL FindTarget(CAccessSession& session, CHostPort& target) const;

    DWORD GetAllowDefault() const;
    void SetAllowDefault(DWORD flag);
    CHostPort GetDefaultTarget() const;
    void SetDefaultTarget(const CHostPort& target);
    std::size_t GetMappingCount() const;
    // Copies of the mappings in list order (for lists in a console, and for tests).
    std::vector<CRef<CMapping>> GetMappings() const;

    // Loading reads the whole table aside and replaces this one only when all of it was read;
    // a failure throws the archive's exception on, so the enclosing stream's reader stops
    // instead of reading the next fields out of step.
    void Serialize(CArchive& ar) override;
    // Deletes the key tree at keyPath, then writes AllowDefault, the default target and each
    // mapping under "<keyPath>\Mapping<n>". TRUE when everything was stored.
    virtual BOOL SaveToRegistry(const std::string& keyPath) const;
    // Replaces the table by the one stored at keyPath (a missing key gives an empty table
    // with AllowDefault 1).
    virtual void LoadFromRegistry(const std::string& keyPath);

private:
    DWORD m_allowDefault = 0;
    CHostPort m_defaultTarget;
};
