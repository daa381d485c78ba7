#pragma once
// The session framework's access to the user accounts of the engine's user database: one
// place that takes the database's lock, finds a user account (not a group) by name and runs a
// caller's code on it while the lock is held. Lock order: machine map, machine, then the user
// database (callers may hold the first two).

#include "engine/access/GroupMemberDatabase.h"
#include "foundation/LinkHandshake.h"
#include "foundation/LinkLogOnThrottle.h"
#include "foundation/ScopedLock.h"
#include "platform/kernel/Types.h"

#include <string>

// The engine's user database.
CGroupMemberDatabase& EngineUserDatabase();

// Runs `use` (called with a CUser&) on the account `userName` under the user database's lock.
// False, `use` not run, when the database holds no user account of that name. A template, so
// that the busy callers (every session's end books its traffic here) pay for no wrapper.
template <class Use>
bool WithUserAccount(const std::string& userName, Use&& use) {
    CGroupMemberDatabase& users = EngineUserDatabase();
    CScopedLock lock(users);
    CUser* user = users.FindUserAccount(userName);
    if (user == nullptr)
        return false;
    use(*user);
    return true;
}

// The link handshake's view of the user database: the password of the user account of that
// name. With `enabledOnly`, a disabled account counts as missing.
CLinkUserLookup LinkUserLookup(bool enabledOnly);

// The engine's one throttle of link log-ons, shared by every door that checks link passwords
// (the remote-control service and the TCP mapping's enciphered links). Its bursts go to the
// event log. It lives as long as the process; the engine's timer sweeps it.
CLinkLogOnThrottle& EngineLogOnThrottle();
