#pragma once
// Who may make each console request, as a table. Before any rule is consulted the session's
// own logged-on user (never its machine's current user, which another console's log-on from
// the same host changes) must be a user of the database with AccountEnabled set, and the
// session must be logged on unless the code is 120. Every right test is the right's IsGranted
// for the session, request test included. Codes the table does not list are refused.

#include "engine/access/Right.h"
#include "platform/kernel/Types.h"

#include <algorithm>
#include <iterator>

namespace RequestPermissions {

enum class Permission {
    kRefused,       // never
    kGranted,       // every logged-on session
    kSystemRight,   // the engine's right of kind `right`
    kServiceRight,  // the right of kind `right` of service Arg1; no such service: refused
    kOwnPassword,   // Arg1 is exactly the session's user and Arg2 exactly its password
};

struct Rule {
    WORD first;
    WORD last;
    Permission permission;
    DWORD right;
    // Refused, whatever the right says, when Arg1 is exactly one of these (built-in entries
    // and the console's own service).
    const char* protectedNames[2];
};

inline constexpr Rule kRules[] = {
    {10, 11, Permission::kRefused, 0, {}},
    {12, 13, Permission::kGranted, 0, {}},
    {20, 22, Permission::kSystemRight, RightUserAdd, {}},
    {23, 23, Permission::kSystemRight, RightUserAdd, {"Administrator", "Guest"}},
    {24, 25, Permission::kSystemRight, RightUserAdd, {}},
    {26, 26, Permission::kSystemRight, RightUserAdd, {"Administrators", "Users"}},
    {27, 27, Permission::kSystemRight, RightUserAdd, {}},
    {30, 32, Permission::kSystemRight, RightServiceAdd, {}},
    {33, 33, Permission::kSystemRight, RightServiceAdd, {"Remote Control Service"}},
    {34, 34, Permission::kServiceRight, RightEdit, {}},
    {35, 35, Permission::kServiceRight, RightStartStop, {}},
    {40, 42, Permission::kSystemRight, RightPolicyEdit, {}},
    // Locations are administered under the user-administration right.
    {50, 56, Permission::kSystemRight, RightUserAdd, {}},
    {60, 63, Permission::kSystemRight, RightDialerEdit, {}},
    {70, 70, Permission::kSystemRight, RightActivityMonitor, {}},
    {71, 72, Permission::kRefused, 0, {}},
    {73, 73, Permission::kSystemRight, RightActivityControl, {}},
    {74, 75, Permission::kRefused, 0, {}},
    {76, 76, Permission::kSystemRight, RightActivityControl, {}},
    {80, 84, Permission::kSystemRight, RightActivityMonitor, {}},
    {90, 91, Permission::kGranted, 0, {}},
    {100, 104, Permission::kGranted, 0, {}},
    {110, 111, Permission::kGranted, 0, {}},
    {120, 120, Permission::kOwnPassword, 0, {}},
    {130, 134, Permission::kSystemRight, RightCacheManagement, {}},
    {140, 140, Permission::kSystemRight, RightShutdown, {}},
};

// The rule of `code`, or null (refused).
inline const Rule* FindRule(WORD code) {
    const Rule* found =
        std::find_if(std::begin(kRules), std::end(kRules),
                     [code](const Rule& rule) { return code >= rule.first && code <= rule.last; });
    return found == std::end(kRules) ? nullptr : found;
}

}  // namespace RequestPermissions
