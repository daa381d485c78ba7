#include "engine/framework/UserAccounts.h"

#include "engine/NorvaneEngine.h"
#include "engine/access/User.h"

CGroupMemberDatabase& EngineUserDatabase() { return CNorvaneEngine::Instance().GetUserDatabase(); }

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
