#include "engine/framework/UserAccounts.h"

#include "engine/NorvaneEngine.h"
#include "engine/ServiceTexts.h"
#include "engine/access/User.h"
#include "platform/service/EventLog.h"

#include <string>

namespace {

void ReportLogOnBurst(const CLinkLogOnThrottle::Burst& burst) {
    using namespace ServiceTexts;
    static EVENTSOURCE_HANDLE const source = RegisterEventSource(nullptr, kServiceName);
    if (source == nullptr)
        return;
    const std::string failures = std::to_string(burst.failures);
    const char* strings[] = {burst.address.c_str(),
                             burst.started ? burst.account.c_str() : failures.c_str()};
    ReportEvent(source, burst.started ? EVENTLOG_WARNING_TYPE : EVENTLOG_INFORMATION_TYPE, 0,
                burst.started ? EVMSG_LOGONFAILURES : EVMSG_LOGONFAILURESENDED, nullptr, 2, 0,
                strings, nullptr);
}

}  // namespace

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

CLinkLogOnThrottle& EngineLogOnThrottle() {
    // Never destroyed: a session thread may still be answering as the process ends.
    static CLinkLogOnThrottle* const throttle = new CLinkLogOnThrottle(ReportLogOnBurst);
    return *throttle;
}
