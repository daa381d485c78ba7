#pragma once
// How the console session tells the windows what changed: one notice per change, posted to the
// GUI thread's dispatcher (WM_VIEWUPDATE of the console's windows). A notice names the kind of
// window it is for (its target), the change code (a notification or request code, or 0 and 4
// below) and the record or object concerned.
//
//   target  receiver
//   0, 2    the configuration view
//   1       the activity view
//   3       the activity view, then the configuration view
//   4       nobody
//   5       the open user property sheet, only when the object is the user it was opened on
//   6       the open dialer property sheet, while one is registered
//   7       the open cache property sheet, while one is registered
//
// The object travels as a counted reference: a tree record (console/session/WHTreeItem.h) for
// an object that gets a new item, else the configuration object itself, or nothing. A window
// that keeps what a notice brought keeps the reference; an object the session removed stays
// valid until its last holder lets go, so its identity is never that of a newer object at a
// reused address.

#include "platform/framework/Object.h"
#include "platform/kernel/Thread.h"
#include "platform/kernel/Types.h"

namespace ViewTargets {
inline constexpr int kConfiguration = 0;
inline constexpr int kActivity = 1;
inline constexpr int kConfigurationView = 2;
inline constexpr int kActivityThenConfiguration = 3;
inline constexpr int kNobody = 4;
inline constexpr int kUserSheet = 5;
inline constexpr int kDialerSheet = 6;
inline constexpr int kCacheSheet = 7;
}  // namespace ViewTargets

namespace ViewCodes {
// The window message the notices stand for.
inline constexpr UINT WM_VIEWUPDATE = WM_USER + 1;
// A user's counters changed (the user sheet shows them).
inline constexpr UINT kUserCounters = 0;
// The session ended: the views empty themselves.
inline constexpr UINT kSessionEnded = 4;
}  // namespace ViewCodes

struct CViewNotice {
    int target = ViewTargets::kNobody;
    UINT code = 0;
    CRef<CObject> object;
};

class IViewDispatcher {
public:
    virtual ~IViewDispatcher() = default;
    // Hands `notice` to the GUI thread; any thread. Notices posted by one thread arrive in the
    // order they were posted.
    virtual void Post(CViewNotice notice) = 0;
};
