#pragma once
// The session framework's access to the user accounts of the engine's user database: one
// place that takes the database's lock, finds a user account (not a group) by name and runs a
// caller's code on it while the lock is held. Lock order: machine map, machine, then the user
// database (callers may hold the first two).

#include "foundation/LinkHandshake.h"
#include "platform/kernel/Types.h"

#include <functional>
#include <string>

class CUser;

// Runs `use` on the account `userName` under the user database's lock. False, `use` not run,
// when the database holds no user account of that name.
bool WithUserAccount(const std::string& userName, const std::function<void(CUser&)>& use);

// The link handshake's view of the user database: the password of the user account of that
// name. With `enabledOnly`, a disabled account counts as missing.
CLinkUserLookup LinkUserLookup(bool enabledOnly);
