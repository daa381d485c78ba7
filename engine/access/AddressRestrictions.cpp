#include "engine/access/AddressRestrictions.h"

#include "engine/access/GroupMemberDatabase.h"
#include "engine/access/IPFilter.h"
#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"

#include <algorithm>

namespace {

bool AnyMatches(const AddressPatternList& patterns, const std::string& address) {
    return std::any_of(patterns.begin(), patterns.end(), [&](const std::string& pattern) {
        return CIPFilter::MatchPattern(pattern, address);
    });
}

}  // namespace

bool EntryContainsSessionUser(CAccessSession& session, const std::string& entryName) {
    return EntryContainsUser(session.GetAccessContext().GetUserDatabase(), entryName,
                             session.GetUserName());
}

bool EntryContainsUser(const CGroupMemberDatabase& users, const std::string& entryName,
                       const std::string& userName) {
    CScopedLock lock(users);
    const CFilterComponent* entry = users.FindEntry(entryName);
    return entry != nullptr && entry->ContainsUser(userName);
}

bool AddressAdmitted(const AddressPatternList& included, const AddressPatternList& excluded,
                     const std::string& address) {
    return AnyMatches(included, address) && !AnyMatches(excluded, address);
}

BOOL SaveAddressPatterns(const std::string& keyPath, const AddressPatternList& patterns) {
    BOOL ok = RegDeleteKeyTree(keyPath);
    for (const std::string& pattern : patterns)
        ok &= RegWriteDWORD(keyPath, pattern, 0);
    return ok;
}

AddressPatternList LoadAddressPatterns(const std::string& keyPath) {
    AddressPatternList patterns;
    for (const RegTreeValue& value : RegEnumValues(keyPath))
        patterns.push_back(value.name);
    return patterns;
}
