#pragma once
// CMapping: one target of a port-mapping table with the conditions under which a session goes
// there. It names the outside host and port, and may restrict itself to the sessions of one
// user or group (SpecifyUser, UserName) and to client addresses that match its included and
// none of its excluded address patterns (SpecifyLocation). A disabled mapping accepts nobody.
// The stored and archive forms are in proxies/mapping/MappingFormat.h.
//
// Defaults: Enabled 1, SpecifyUser 0, SpecifyLocation 0, everything else empty.
//
// Not locked: a mapping is read and changed only under its table's lock (CMappings).

#include "engine/access/AccessSession.h"
#include "engine/access/AddressRestrictions.h"
#include "foundation/HostPort.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <string>
#include <utility>

class CMapping : public CObject {
    DECLARE_SERIAL(CMapping)
public:
    CMapping() = default;
    CMapping(const CMapping&) = delete;
    CMapping& operator=(const CMapping&) = delete;

    // Becomes a copy of `other`: every field, the description text and both pattern lists in
    // their order included.
    void Copy(const CMapping& other);

    // The text the console lists the mapping by, kept as the description text:
    // "Link to <host>:<port> by " then "location", " and " (only after "location") and
    // "user" as restricted; or "Link to <host>:<port> no dependencies"; then " (disabled)"
    // when not Enabled.
    std::string GetDescription();
    const std::string& GetDescriptionText() const { return m_description; }

    // Whether this mapping accepts the session, in this order: Enabled; with SpecifyUser the
    // user database's entry named UserName (a user or a group) contains the session's user
    // (an unknown name accepts nobody); with SpecifyLocation the client address matches some
    // included pattern (an empty list accepts nobody) and no excluded one.
    BOOL Matches(CAccessSession& session) const;

    const CHostPort& GetTarget() const { return m_target; }
    void SetTarget(std::string host, DWORD port) { m_target = CHostPort(std::move(host), port); }
    DWORD GetEnabled() const { return m_enabled; }
    void SetEnabled(DWORD flag) { m_enabled = flag; }
    DWORD GetSpecifyUser() const { return m_specifyUser; }
    void SetSpecifyUser(DWORD flag) { m_specifyUser = flag; }
    DWORD GetSpecifyLocation() const { return m_specifyLocation; }
    void SetSpecifyLocation(DWORD flag) { m_specifyLocation = flag; }
    const std::string& GetUserName() const { return m_userName; }
    void SetUserName(std::string name) { m_userName = std::move(name); }
    const AddressPatternList& GetIncludedLocations() const { return m_included; }
    void SetIncludedLocations(AddressPatternList patterns) { m_included = std::move(patterns); }
    const AddressPatternList& GetExcludedLocations() const { return m_excluded; }
    void SetExcludedLocations(AddressPatternList patterns) { m_excluded = std::move(patterns); }

    // A load reads the whole record aside and changes the mapping only when all of it was
    // read; a failure throws as the archive does.
    void Serialize(CArchive& ar) override;
    // TRUE when everything was stored.
    virtual BOOL SaveToRegistry(const std::string& keyPath) const;
    virtual void LoadFromRegistry(const std::string& keyPath);

private:
    CHostPort m_target;
    DWORD m_enabled = 1;
    DWORD m_specifyUser = 0;
    DWORD m_specifyLocation = 0;
    std::string m_userName;
    std::string m_description;
    AddressPatternList m_included;
    AddressPatternList m_excluded;
};
