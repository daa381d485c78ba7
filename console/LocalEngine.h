#pragma once
// What the console can learn of an engine on its own machine without asking it: whether it
// runs, and how a user account is spelt in its store. Both only look: neither takes the
// engine's single-instance lock (an engine starting at that moment would end as "already
// running") nor creates anything in its store. The engine is the one of $NORVANE_STATE_DIR.

#include <string>

namespace LocalEngine {

// Whether some engine holds the single-instance lock "NorvaneEngineApp".
bool IsRunning();

enum class Account {
    Found,       // the account exists; `storedName` holds its stored Name
    Missing,     // the store has no such account
    Unreadable,  // the store cannot be read by this user: nothing is known
};
// Looks up the account `userName` (letter case aside, as the store compares names).
Account FindAccount(const std::string& userName, std::string& storedName);

}  // namespace LocalEngine
