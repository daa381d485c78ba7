#pragma once
// The two conditions that recipients of rights (engine/access/Recipient.h) and port-mapping
// targets (proxies/mapping/Mapping.h) put on a session: whose session it is (a user or group
// of the user database), and where it comes from (lists of address patterns,
// engine/access/IPFilter.h), with the registry form of such a pattern list.

#include "engine/access/AccessSession.h"
#include "platform/kernel/Types.h"

#include <string>
#include <vector>

using AddressPatternList = std::vector<std::string>;

// Whether the entry named exactly `entryName` in the session's user database contains the
// session's user (a user contains only itself, a group its members at any depth). An unknown
// name contains nobody. The database lock is held across the lookup and the test.
bool EntryContainsSessionUser(CAccessSession& session, const std::string& entryName);
// The same test for the user named `userName` in `users`.
bool EntryContainsUser(const CGroupMemberDatabase& users, const std::string& entryName,
                       const std::string& userName);

// Whether `address` matches at least one pattern of `included` and none of `excluded`; an
// empty `included` admits no address.
bool AddressAdmitted(const AddressPatternList& included, const AddressPatternList& excluded,
                     const std::string& address);

// Registry form of a pattern list: the key at `keyPath` holds one DWORD value (data 0) per
// pattern, named by the pattern. Saving deletes the key tree first; TRUE when everything was
// stored. Loading takes the value names in the store's order (the data is not used).
BOOL SaveAddressPatterns(const std::string& keyPath, const AddressPatternList& patterns);
AddressPatternList LoadAddressPatterns(const std::string& keyPath);
