#pragma once
// A location: an address filter (engine/access/IPFilter.h) and the user the engine assumes
// for a client host whose address matches it. Its Filter text is its identity: the console
// and the location array find, change, promote and remove locations by it.
//
// Username is empty after the default constructor, and "Guest" when loaded from a registry
// key without the value.
//
// Registry form: the filter's "InternalFilter" and "Filter", then string "Username".
// Archive form: the filter's own form (InternalFilter, Filter; not class-tagged), then
// Username. A load that fails leaves the location as it was.
//
// Locking: none of its own. A location in the engine's array changes only under the array's
// lock; callers use a location found in the array only while they hold that lock.

#include "engine/access/IPFilter.h"
#include "foundation/LockableObject.h"
#include "platform/kernel/Types.h"

#include <string>
#include <string_view>
#include <utility>

class CLocation : public CLockableObject {
    DECLARE_SERIAL(CLocation)
public:
    CLocation() = default;
    // Calls Set.
    CLocation(std::string filterText, std::string userName);

    // Sets Username and Filter, and rebuilds the internal filter.
    void Set(std::string filterText, std::string userName);
    // Becomes a copy of `other` (its filter as it is, internal form included, and its user).
    void Copy(const CLocation& other);

    const std::string& GetFilter() const { return m_filter.GetFilter(); }
    const CIPFilter& GetIPFilter() const { return m_filter; }
    const std::string& GetUsername() const { return m_username; }
    void SetUsername(std::string userName) { m_username = std::move(userName); }

    // The address filter's Match.
    BOOL Match(std::string_view addressText) const { return m_filter.Match(addressText); }

    void Serialize(CArchive& ar) override;
    // TRUE when every value was stored.
    virtual BOOL SaveToRegistry(const std::string& keyPath) const;
    virtual void LoadFromRegistry(const std::string& keyPath);

private:
    CIPFilter m_filter;
    std::string m_username;
};
