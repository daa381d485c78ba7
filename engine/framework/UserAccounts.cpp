#include "engine/framework/UserAccounts.h"

#include "engine/NorvaneEngine.h"
#include "engine/access/GroupMemberDatabase.h"
#include "engine/access/User.h"
#include "foundation/ScopedLock.h"

bool WithUserAccount(const std::string& userName, const std::function<void(CUser&)>& use) {
    CNorvaneEngine& engine = CNorvaneEngine::Instance();
    CGroupMemberDatabase& users = engine.GetUserDatabase();
    CScopedLock lock(users);
    auto* user = dynamic_cast<CUser*>(engine.FindUser(userName, FALSE));
    if (user == nullptr)
        return false;
    use(*user);
    return true;
}

CLinkUserLookup LinkUserLookup(bool enabledOnly) {
    return [enabledOnly](const std::string& userName, std::string& password) {
        bool enabled = false;
        const bool found = WithUserAccount(userName, [&](CUser& user) {
            enabled = user.GetAccountEnabled() != FALSE;
            password = user.GetPassword();
        });
        return found && (enabled || !enabledOnly);
    };
}
