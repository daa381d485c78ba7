#include "engine/access/AccessSession.h"

#include "engine/access/GroupMemberDatabase.h"
#include "engine/access/RequestVariables.h"
#include "foundation/NVDataObject.h"
#include "foundation/ScopedLock.h"

#include <algorithm>
#include <cstdint>
#include <limits>

bool GetUserRequestValue(CGroupMemberDatabase& users, const std::string& userName, DWORD index,
                         CNVDataObject& data) {
    static constexpr CUser::Counter kCounters[] = {
        CUser::ClientSendTraffic, CUser::ClientRecvTraffic, CUser::NonClientSendTraffic,
        CUser::NonClientRecvTraffic, CUser::TimeOnLine,
    };
    if (index < RequestUserClientSendTraffic || index > RequestUserAccountBalance)
        return false;
    CScopedLock lock(users);
    CUser* user = users.FindUserAccount(userName);
    if (user == nullptr)
        return true;
    if (index != RequestUserAccountBalance) {
        data.SetDWORD(user->GetCounter(kCounters[index - RequestUserClientSendTraffic]));
        return true;
    }
    user->UpdateBalance();
    const std::int64_t units = user->GetAmount(CUser::ClosingBalance).GetWholeUnits();
    constexpr std::int64_t low = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t high = std::numeric_limits<std::int32_t>::max();
    data.SetInt(static_cast<std::int32_t>(std::clamp(units, low, high)));
    return true;
}
