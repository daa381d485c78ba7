#pragma once
// A recipient of a right: who the right is given to, and under which conditions. It names a
// user or group of the user database (or, with SpecifyUser clear, everyone) and may further
// require a minimum log-on level, a client address inside IncludedLocations and outside
// ExcludedLocations (address patterns, engine/access/IPFilter.h), a moment its time filter
// allows, and a request its request filter collection accepts.
//
// Fields and defaults:       plain constructor       constructor with a name
//   UserName                 "Everyone"              the name
//   Description              "Unrestricted Rights"   "Unrestricted Rights"
//   SpecifyUser              0                       1
//   SpecifyLocation, SpecifyTime, SpecifyRequest, MinimumSecurityLevel: 0; both location lists,
//   the time filter and the request filter collection empty.
//
// IsSatisfiedBy(session, skipRequestTest), each step failing at once:
//   1. the session's log-on level is at least MinimumSecurityLevel (compared as numbers, so a
//      level above 2 admits no one);
//   2. SpecifyUser: UserName names an entry of the user database whose ContainsUser(the
//      session's user name) holds (the same user, or a group holding it at any depth); the
//      database lock is held across the lookup and the test;
//   3. SpecifyLocation: the client address matches some included pattern and no excluded
//      one (so an empty included list admits no one);
//   4. SpecifyTime: the time filter includes the current local moment;
//   5. SpecifyRequest, unless skipRequestTest: the collection's MatchRequest(session) holds
//      (so an empty collection admits no request).
//
// Registry form: "UserName", "Description", DWORDs "SpecifyUser", "SpecifyLocation",
// "SpecifyTime", "SpecifyRequest", "MinimumSecurityLevel"; the key trees "<key>\IncludedLocations"
// and "<key>\ExcludedLocations" are deleted and rewritten with one DWORD value (data 0) per
// pattern, named by it; then the time filter under "<key>\TimeFilter" and the collection
// under "<key>\RequestFilter". Loading takes every value (texts default "", DWORDs 0), each
// location list from its sub-key's value names in the store's order, then the filters.
//
// Archive form: UserName, Description, the four Specify flags and MinimumSecurityLevel
// (4 bytes each), IncludedLocations and ExcludedLocations (each a count and its strings),
// then the time filter's and the collection's own forms (not class-tagged). A load reads
// everything aside and changes the recipient only when the whole record was read.
//
// Locking: none of its own; the time filter and the collection guard their lists. A recipient
// in a right changes only under the right's recipient-list mutex (loads and copies replace
// whole recipients), so the decision, which runs under that mutex, never sees one change.

#include "engine/access/AccessSession.h"
#include "engine/access/AddressRestrictions.h"
#include "engine/access/RequestFilterCollection.h"
#include "engine/access/TimeFilter.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

class CRecipient : public CObject {
    DECLARE_SERIAL(CRecipient)
public:
    using LocationList = AddressPatternList;

    CRecipient();
    explicit CRecipient(std::string userName);
    ~CRecipient() override;
    CRecipient(const CRecipient&) = delete;
    CRecipient& operator=(const CRecipient&) = delete;

    const std::string& GetUserName() const { return m_userName; }
    void SetUserName(std::string name) { m_userName = std::move(name); }
    const std::string& GetDescription() const { return m_description; }
    void SetDescription(std::string description) { m_description = std::move(description); }
    DWORD GetSpecifyUser() const { return m_specifyUser; }
    void SetSpecifyUser(DWORD flag) { m_specifyUser = flag; }
    DWORD GetSpecifyLocation() const { return m_specifyLocation; }
    void SetSpecifyLocation(DWORD flag) { m_specifyLocation = flag; }
    DWORD GetSpecifyTime() const { return m_specifyTime; }
    void SetSpecifyTime(DWORD flag) { m_specifyTime = flag; }
    DWORD GetSpecifyRequest() const { return m_specifyRequest; }
    void SetSpecifyRequest(DWORD flag) { m_specifyRequest = flag; }
    DWORD GetMinimumSecurityLevel() const { return m_minimumSecurityLevel; }
    void SetMinimumSecurityLevel(DWORD level) { m_minimumSecurityLevel = level; }
    const LocationList& GetIncludedLocations() const { return m_included; }
    void SetIncludedLocations(LocationList patterns) { m_included = std::move(patterns); }
    const LocationList& GetExcludedLocations() const { return m_excluded; }
    void SetExcludedLocations(LocationList patterns) { m_excluded = std::move(patterns); }
    CTimeFilter& GetTimeFilter() { return *m_timeFilter; }
    const CTimeFilter& GetTimeFilter() const { return *m_timeFilter; }
    CRequestFilterCollection& GetRequestFilter() { return *m_requestFilter; }
    const CRequestFilterCollection& GetRequestFilter() const { return *m_requestFilter; }

    BOOL IsSatisfiedBy(CAccessSession& session, BOOL skipRequestTest) const;
    // The same for the session's user name `userName`, which the caller has taken already.
    BOOL IsSatisfiedBy(CAccessSession& session, BOOL skipRequestTest,
                       const std::string& userName) const;

    // "Unrestricted Rights", or "Restricted by " and "security level", "location", "time",
    // "request" for the restrictions set, joined by ", " (SpecifyUser does not count);
    // stored into Description and returned.
    std::string GetDescriptionText();

    // Becomes a copy of `other`: every field, the filters copied. Copying onto itself
    // changes nothing.
    void Copy(const CRecipient& other);

    void Serialize(CArchive& ar) override;
    // TRUE when everything was stored.
    virtual BOOL SaveToRegistry(const std::string& keyPath) const;
    virtual void LoadFromRegistry(const std::string& keyPath);

private:
    std::string m_userName;
    std::string m_description;
    DWORD m_specifyUser = 0;
    DWORD m_specifyLocation = 0;
    DWORD m_specifyTime = 0;
    DWORD m_specifyRequest = 0;
    DWORD m_minimumSecurityLevel = 0;
    LocationList m_included;
    LocationList m_excluded;
    // Held by pointer so that a load can put freshly read filters in place without failing.
    std::unique_ptr<CTimeFilter> m_timeFilter;
    std::unique_ptr<CRequestFilterCollection> m_requestFilter;
};
