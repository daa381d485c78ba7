#pragma once
// The remote-control operations as one table: a row for every code the protocol knows, with
// all that the engine and the console decide by code. The framing, the statuses and the other
// texts of the protocol are remote/RCPFormat.h; what the engine does for each request is
// remote/RequestDispatcher.h, what the console does with each message console/session/
// ConsoleNotifications.h.
//
// A code names a request (console to engine), a notification (engine to console), or both. A
// change a console makes is echoed to every registered console, the requester included, as the
// notification of the request's own code and arguments (22 "Add user" comes back as 22, the
// user added); a few codes carry the engine's own news under a request's number (73 asks to end
// a machine's activity; as a notification it tells that a machine went).
//
// The columns of a row:
//   code, name    the number, and the constant below that names it (null: no name)
//   text          the request's description in logs and the activity view: "%s" is Arg1, but
//                 76 names Arg2 before Arg1, and 35 and 63 take one of the texts after the
//                 table by Arg2; null: no text
//   may ask       who may make the request (Rule below), once the session's own user was found
//                 with its account enabled and, for every code but 120, the session logged on
//   request       what travels between the request's statuses 1 and 3 (Payload)
//   notification  what the engine sends for a notification of the code (Notice)
//   echo          whether an accepted request is echoed to every registered console (41 and 61
//                 are, but have no notification: nothing of them reaches a console)
//   log-on        the request's place among those the console sends once it has logged on
//                 (1 first), or 0; a refusal of one of them shows nothing (an empty branch)
//   console       what else the console does by the code (ConsoleUse)
// A code without a row is neither: it is refused, has no text and is never sent.

#include "engine/access/AccessTexts.h"
#include "engine/access/Right.h"
#include "engine/framework/FrameworkFormat.h"
#include "platform/kernel/Types.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace RCPOperations {

enum class Permission : BYTE {
    kNotARequest,   // a notification's code only: refused
    kRefused,       // a request that is always refused
    kGranted,       // every session
    kSystemRight,   // the engine's right of kind `right` (engine/access/Right.h)
    kServiceRight,  // the right of kind `right` of service Arg1; no such service: refused
    kOwnPassword,   // Arg1 is exactly the session's user and Arg2 exactly its password
};

// Names that no request may touch, whatever its rights: the built-in entries of the user
// database, and the consoles' own service.
struct Protected {
    const char* names[2];
};
inline constexpr Protected kBuiltInUsers = {{AccessTexts::kAdministrator, AccessTexts::kGuest}};
inline constexpr Protected kBuiltInGroups = {{AccessTexts::kAdministrators, AccessTexts::kUsers}};
inline constexpr Protected kOwnService = {{FrameworkFormat::kRemoteControlName, nullptr}};

// Every right test is the right's IsGranted for the session, request test included. A request
// whose Arg1 is exactly one of the protected names is refused.
struct Rule {
    Permission permission;
    DWORD right;
    Protected except;
};

constexpr Rule NotARequest() { return {Permission::kNotARequest, 0, {}}; }
constexpr Rule Refused() { return {Permission::kRefused, 0, {}}; }
constexpr Rule Granted() { return {Permission::kGranted, 0, {}}; }
constexpr Rule Needs(DWORD right, Protected except = {}) {
    return {Permission::kSystemRight, right, except};
}
constexpr Rule ServiceNeeds(DWORD right) { return {Permission::kServiceRight, right, {}}; }
constexpr Rule OwnPassword() { return {Permission::kOwnPassword, 0, {}}; }

// What travels between a request's statuses 1 and 3, a frame for each object (untagged unless
// said).
enum class Payload : BYTE {
    kNothing,
    // Console to engine. The new object queued with the request:
    kNewUser,
    kNewGroup,
    kNewService,  // tagged: its class is the service's kind
    kNewLocation,
    // the object the request names (Arg1; a location by Arg2, its text after the change):
    kNamedUser,
    kNamedGroup,
    kNamedService,
    kNamedLocation,
    // or a whole part of the configuration:
    kUserDatabase,
    kServiceManager,
    kLocationArray,
    kRights,  // the eleven rights, kinds 0 to 10 in order
    kDialer,
    kCache,
    // Engine to console.
    kRightsToConsole,
    kDialerToConsole,
    kCacheToConsole,
};

// What the engine sends for a notification: the message, then the object it announces. The
// object is looked up as the message goes out, under its container's lock; when it no longer
// exists nothing at all is sent.
enum class Notice : BYTE {
    kNotSent,            // nothing
    kAlone,              // the message alone
    kLogsOn,             // the message alone; the session counts as logged on from now on
    kLogOnAnswer,        // the message alone, and only as the session's own log-on answer
    kAloneIfService,     // the message alone, while the service Arg1 exists
    kAloneIfMachine,     // the message alone, while the client machine Arg1 exists
    kWithUser,           // the CUser named Arg1
    kWithGroup,          // the CGroup named Arg1
    kWithService,        // the service named Arg1
    kWithTaggedService,  // the service named Arg1, tagged; then its state (35) is queued
    kWithLocation,       // the location whose text is Arg1
    kWithLocationArg2,   // the location whose text is Arg2
    kWithRights,         // the eleven rights, kinds 0 to 10 in order
    kWithDialer,
    kWithCache,
};

enum class ConsoleUse : BYTE {
    kNone,
    kBranch,        // a completed request of the log-on lets the configuration view build
                    // the branch of its list
    kUnsaved,       // once accepted, the engine holds a change that request 12 saves
    kAsksPassword,  // until the console has logged on, the message asks for a new password
};

struct Operation {
    WORD code;
    const char* name;
    const char* text;
    Rule mayAsk;
    Payload request;
    Notice notification;
    bool echoed;
    int logOn;
    ConsoleUse console;
};

namespace Detail {

constexpr auto Rows() {
    using enum Payload;
    using enum Notice;
    using enum ConsoleUse;
    constexpr bool kEcho = true;
    constexpr bool kOwn = false;
    // clang-format off
    return std::to_array<Operation>({
// code name                     text                               may ask                              request           notification        echo   log-on console
{  5,   "kNotifyLoggedOn",       nullptr,                           NotARequest(),                       kNothing,         kLogsOn,            kOwn,  0,     kNone},
{ 10,   "kRetrieveAll",          "Retrieve all settings",           Refused(),                           kNothing,         kNotSent,           kOwn,  0,     kNone},
{ 11,   "kUploadAll",            "Upload all settings",             Refused(),                           kNothing,         kNotSent,           kOwn,  0,     kNone},
{ 12,   "kCommitConfiguration",  "Commit configuration to disk",    Granted(),                           kNothing,         kNotSent,           kOwn,  0,     kNone},
{ 13,   "kReloadConfiguration",  "Reload configuration from disk",  Granted(),                           kNothing,         kNotSent,           kOwn,  0,     kNone},
{ 20,   "kRetrieveUsers",        "Retrieve user database",          Needs(RightUserAdd),                 kNothing,         kNotSent,           kOwn,  1,     kBranch},
{ 21,   "kUploadUsers",          "Upload user database",            Needs(RightUserAdd),                 kUserDatabase,    kNotSent,           kOwn,  0,     kNone},
{ 22,   "kAddUser",              "Add user %s",                     Needs(RightUserAdd),                 kNewUser,         kWithUser,          kEcho, 0,     kUnsaved},
{ 23,   "kDeleteUser",           "Delete user %s",                  Needs(RightUserAdd, kBuiltInUsers),  kNothing,         kAlone,             kEcho, 0,     kUnsaved},
{ 24,   "kModifyUser",           "Modify user %s",                  Needs(RightUserAdd),                 kNamedUser,       kWithUser,          kEcho, 0,     kNone},
{ 25,   "kAddGroup",             "Add group %s",                    Needs(RightUserAdd),                 kNewGroup,        kWithGroup,         kEcho, 0,     kUnsaved},
{ 26,   "kDeleteGroup",          "Delete group %s",                 Needs(RightUserAdd, kBuiltInGroups), kNothing,         kAlone,             kEcho, 0,     kUnsaved},
{ 27,   "kModifyGroup",          "Modify group %s",                 Needs(RightUserAdd),                 kNamedGroup,      kWithGroup,         kEcho, 0,     kNone},
{ 30,   "kRetrieveServices",     "Retrieve service configurations", Needs(RightServiceAdd),              kNothing,         kNotSent,           kOwn,  3,     kBranch},
{ 31,   "kUploadServices",       "Upload service configurations",   Needs(RightServiceAdd),              kServiceManager,  kNotSent,           kOwn,  0,     kNone},
{ 32,   "kAddService",           "Add service %s",                  Needs(RightServiceAdd),              kNewService,      kWithTaggedService, kEcho, 0,     kUnsaved},
{ 33,   "kDeleteService",        "Delete service %s",               Needs(RightServiceAdd, kOwnService), kNothing,         kAlone,             kEcho, 0,     kUnsaved},
{ 34,   "kModifyService",        "Modify service %s",               ServiceNeeds(RightEdit),             kNamedService,    kWithService,       kEcho, 0,     kUnsaved},
{ 35,   "kStartStopService",     nullptr,                           ServiceNeeds(RightStartStop),        kNothing,         kAloneIfService,    kOwn,  0,     kNone},
{ 40,   "kRetrievePolicies",     "Retrieve system policies",        Needs(RightPolicyEdit),              kRightsToConsole, kNotSent,           kOwn,  4,     kBranch},
{ 41,   "kUploadPolicies",       "Upload system policies",          Needs(RightPolicyEdit),              kRights,          kNotSent,           kEcho, 0,     kUnsaved},
{ 42,   "kModifyPolicies",       "Modify system policies",          Needs(RightPolicyEdit),              kRights,          kWithRights,        kEcho, 0,     kUnsaved},
// Locations are administered under the user-administration right.
{ 50,   "kRetrieveLocations",    "Retrieve locations",              Needs(RightUserAdd),                 kNothing,         kNotSent,           kOwn,  2,     kBranch},
{ 51,   "kUploadLocations",      "Upload locations",                Needs(RightUserAdd),                 kLocationArray,   kNotSent,           kOwn,  0,     kNone},
{ 52,   "kAddLocation",          "Add location %s",                 Needs(RightUserAdd),                 kNewLocation,     kWithLocation,      kEcho, 0,     kUnsaved},
{ 53,   "kDeleteLocation",       "Delete location %s",              Needs(RightUserAdd),                 kNothing,         kAlone,             kEcho, 0,     kUnsaved},
{ 54,   "kModifyLocation",       "Modify location %s",              Needs(RightUserAdd),                 kNamedLocation,   kWithLocationArg2,  kEcho, 0,     kUnsaved},
{ 55,   "kPromoteLocation",      "Promote location %s",             Needs(RightUserAdd),                 kNothing,         kAlone,             kEcho, 0,     kUnsaved},
{ 56,   "kDemoteLocation",       "Demote location %s",              Needs(RightUserAdd),                 kNothing,         kAlone,             kEcho, 0,     kUnsaved},
{ 60,   "kRetrieveDialer",       "Retrieve dialer settings",        Needs(RightDialerEdit),              kDialerToConsole, kNotSent,           kOwn,  5,     kBranch},
{ 61,   "kUploadDialer",         "Upload dialer settings",          Needs(RightDialerEdit),              kDialer,          kNotSent,           kEcho, 0,     kNone},
{ 62,   "kModifyDialer",         "Modify dialer settings",          Needs(RightDialerEdit),              kDialer,          kWithDialer,        kEcho, 0,     kUnsaved},
{ 63,   "kDialHangUp",           nullptr,                           Needs(RightDialerEdit),              kNothing,         kAlone,             kOwn,  0,     kNone},
{ 70,   "kRetrieveActivity",     "Retrieve activity information",   Needs(RightActivityMonitor),         kNothing,         kNotSent,           kOwn,  7,     kNone},
{ 71,   "kNotifyMachineAdded",   nullptr,                           NotARequest(),                       kNothing,         kAloneIfMachine,    kOwn,  0,     kNone},
{ 72,   "kNotifyMachineChanged", nullptr,                           NotARequest(),                       kNothing,         kAlone,             kOwn,  0,     kNone},
{ 73,   "kTerminateMachine",     "Terminate all activity on %s",    Needs(RightActivityControl),         kNothing,         kAlone,             kOwn,  0,     kNone},
{ 74,   "kNotifySessionStarted", nullptr,                           NotARequest(),                       kNothing,         kAlone,             kOwn,  0,     kNone},
{ 75,   "kNotifySessionStatus",  nullptr,                           NotARequest(),                       kNothing,         kAlone,             kOwn,  0,     kNone},
{ 76,   "kTerminateSession",     "Terminate session %s on %s",      Needs(RightActivityControl),         kNothing,         kAlone,             kOwn,  0,     kNone},
// 80-84 have one effect: the session receives every notification from then on.
{ 80,   "kRegisterEverything",   "Register for everything",         Needs(RightActivityMonitor),         kNothing,         kNotSent,           kOwn,  8,     kNone},
{ 81,   "kRegisterAlerts",       "Register for alerts",             Needs(RightActivityMonitor),         kNothing,         kNotSent,           kOwn,  0,     kNone},
{ 82,   "kRegisterMessages",     "Register for messages",           Needs(RightActivityMonitor),         kNothing,         kNotSent,           kOwn,  0,     kNone},
{ 83,   "kRegisterActivity",     "Register for activity updates",   Needs(RightActivityMonitor),         kNothing,         kNotSent,           kOwn,  0,     kNone},
{ 84,   "kRegisterDialer",       "Register for dialler updates",    Needs(RightActivityMonitor),         kNothing,         kNotSent,           kOwn,  0,     kNone},
{ 90,   "kNotifyAlert",          nullptr,                           Granted(),                           kNothing,         kAlone,             kOwn,  0,     kNone},
{ 91,   "kSendMessage",          "Send message to %s",              Granted(),                           kNothing,         kAlone,             kOwn,  0,     kNone},
{100,   "kAttention",            nullptr,                           Granted(),                           kNothing,         kAlone,             kOwn,  0,     kAsksPassword},
{101,   "kNotifyAttention",      nullptr,                           Granted(),                           kNothing,         kAlone,             kOwn,  0,     kAsksPassword},
{102,   nullptr,                 nullptr,                           Granted(),                           kNothing,         kNotSent,           kOwn,  0,     kNone},
{103,   nullptr,                 nullptr,                           Granted(),                           kNothing,         kNotSent,           kOwn,  0,     kNone},
{104,   nullptr,                 nullptr,                           Granted(),                           kNothing,         kAlone,             kOwn,  0,     kAsksPassword},
{110,   nullptr,                 nullptr,                           Granted(),                           kNothing,         kAlone,             kOwn,  0,     kAsksPassword},
{111,   nullptr,                 nullptr,                           Granted(),                           kNothing,         kAlone,             kOwn,  0,     kAsksPassword},
{120,   "kChangePassword",       "Change password",                 OwnPassword(),                       kNothing,         kLogOnAnswer,       kOwn,  0,     kNone},
{130,   "kRetrieveCache",        "Retrieve cache settings",         Needs(RightCacheManagement),         kCacheToConsole,  kNotSent,           kOwn,  6,     kBranch},
{131,   "kUpdateCache",          "Update cache settings",           Needs(RightCacheManagement),         kCache,           kWithCache,         kEcho, 0,     kUnsaved},
{132,   "kPurgeCache",           "Purge cache",                     Needs(RightCacheManagement),         kNothing,         kNotSent,           kOwn,  0,     kNone},
{133,   "kRemoveCacheEntry",     "Remove cache entry %s",           Needs(RightCacheManagement),         kNothing,         kNotSent,           kOwn,  0,     kNone},
{134,   "kRebuildCacheIndex",    "Rebuild cache index file",        Needs(RightCacheManagement),         kNothing,         kNotSent,           kOwn,  0,     kNone},
{140,   "kShutdown",             "Shutdown",                        Needs(RightShutdown),                kNothing,         kNotSent,           kOwn,  0,     kNone},
    });
    // clang-format on
}

}  // namespace Detail

inline constexpr auto kOperations = Detail::Rows();

// The row of `code`, or null.
constexpr const Operation* Find(WORD code) {
    for (const Operation& row : kOperations)
        if (row.code == code)
            return &row;
    return nullptr;
}

// Whether the code is a request (a row whose rule is more than a notification's).
constexpr bool IsRequest(WORD code) {
    const Operation* row = Find(code);
    return row != nullptr && row->mayAsk.permission != Permission::kNotARequest;
}

// The code of the row named `name`; a name without a row fails the build.
constexpr WORD CodeOf(std::string_view name) {
    for (const Operation& row : kOperations)
        if (row.name != nullptr && name == row.name)
            return row.code;
    throw "no operation of that name";
}

// --- The names -------------------------------------------------------------------------------
// Requests, and the notifications that echo them under the same code.
inline constexpr WORD kRetrieveAll = CodeOf("kRetrieveAll");
inline constexpr WORD kUploadAll = CodeOf("kUploadAll");
inline constexpr WORD kCommitConfiguration = CodeOf("kCommitConfiguration");
inline constexpr WORD kReloadConfiguration = CodeOf("kReloadConfiguration");
inline constexpr WORD kRetrieveUsers = CodeOf("kRetrieveUsers");
inline constexpr WORD kUploadUsers = CodeOf("kUploadUsers");
inline constexpr WORD kAddUser = CodeOf("kAddUser");
inline constexpr WORD kDeleteUser = CodeOf("kDeleteUser");
inline constexpr WORD kModifyUser = CodeOf("kModifyUser");
inline constexpr WORD kAddGroup = CodeOf("kAddGroup");
inline constexpr WORD kDeleteGroup = CodeOf("kDeleteGroup");
inline constexpr WORD kModifyGroup = CodeOf("kModifyGroup");
inline constexpr WORD kRetrieveServices = CodeOf("kRetrieveServices");
inline constexpr WORD kUploadServices = CodeOf("kUploadServices");
inline constexpr WORD kAddService = CodeOf("kAddService");
inline constexpr WORD kDeleteService = CodeOf("kDeleteService");
inline constexpr WORD kModifyService = CodeOf("kModifyService");
inline constexpr WORD kStartStopService = CodeOf("kStartStopService");
inline constexpr WORD kRetrievePolicies = CodeOf("kRetrievePolicies");
inline constexpr WORD kUploadPolicies = CodeOf("kUploadPolicies");
inline constexpr WORD kModifyPolicies = CodeOf("kModifyPolicies");
inline constexpr WORD kRetrieveLocations = CodeOf("kRetrieveLocations");
inline constexpr WORD kUploadLocations = CodeOf("kUploadLocations");
inline constexpr WORD kAddLocation = CodeOf("kAddLocation");
inline constexpr WORD kDeleteLocation = CodeOf("kDeleteLocation");
inline constexpr WORD kModifyLocation = CodeOf("kModifyLocation");
inline constexpr WORD kPromoteLocation = CodeOf("kPromoteLocation");
inline constexpr WORD kDemoteLocation = CodeOf("kDemoteLocation");
inline constexpr WORD kRetrieveDialer = CodeOf("kRetrieveDialer");
inline constexpr WORD kUploadDialer = CodeOf("kUploadDialer");
inline constexpr WORD kModifyDialer = CodeOf("kModifyDialer");
inline constexpr WORD kDialHangUp = CodeOf("kDialHangUp");
inline constexpr WORD kRetrieveActivity = CodeOf("kRetrieveActivity");
inline constexpr WORD kTerminateMachine = CodeOf("kTerminateMachine");
inline constexpr WORD kTerminateSession = CodeOf("kTerminateSession");
inline constexpr WORD kRegisterEverything = CodeOf("kRegisterEverything");
inline constexpr WORD kRegisterAlerts = CodeOf("kRegisterAlerts");
inline constexpr WORD kRegisterMessages = CodeOf("kRegisterMessages");
inline constexpr WORD kRegisterActivity = CodeOf("kRegisterActivity");
inline constexpr WORD kRegisterDialer = CodeOf("kRegisterDialer");
inline constexpr WORD kSendMessage = CodeOf("kSendMessage");
inline constexpr WORD kAttention = CodeOf("kAttention");
inline constexpr WORD kChangePassword = CodeOf("kChangePassword");
inline constexpr WORD kRetrieveCache = CodeOf("kRetrieveCache");
inline constexpr WORD kUpdateCache = CodeOf("kUpdateCache");
inline constexpr WORD kPurgeCache = CodeOf("kPurgeCache");
inline constexpr WORD kRemoveCacheEntry = CodeOf("kRemoveCacheEntry");
inline constexpr WORD kRebuildCacheIndex = CodeOf("kRebuildCacheIndex");
inline constexpr WORD kShutdown = CodeOf("kShutdown");

// Notifications, with their texts; numbers in them are decimal.
inline constexpr WORD kNotifyLoggedOn = CodeOf("kNotifyLoggedOn");  // log-on accepted
inline constexpr WORD kNotifyMustChangePassword = kChangePassword;  // accepted, must change first
inline constexpr WORD kNotifyAlert = CodeOf("kNotifyAlert");        // title, text, ""
inline constexpr WORD kNotifyMessage = kSendMessage;            // sender's address, user, text
inline constexpr WORD kNotifyAttention = CodeOf("kNotifyAttention");  // sender's address, user, ""
inline constexpr WORD kNotifyUserAdded = kAddUser;
inline constexpr WORD kNotifyUserDeleted = kDeleteUser;
inline constexpr WORD kNotifyUserModified = kModifyUser;
inline constexpr WORD kNotifyGroupAdded = kAddGroup;
inline constexpr WORD kNotifyGroupDeleted = kDeleteGroup;
inline constexpr WORD kNotifyGroupModified = kModifyGroup;
inline constexpr WORD kNotifyServiceAdded = kAddService;
inline constexpr WORD kNotifyServiceDeleted = kDeleteService;
inline constexpr WORD kNotifyServiceModified = kModifyService;
inline constexpr WORD kNotifyServiceState = kStartStopService;  // name, running state "%i", ""
inline constexpr WORD kNotifyPolicies = kModifyPolicies;
inline constexpr WORD kNotifyLocationAdded = kAddLocation;
inline constexpr WORD kNotifyLocationDeleted = kDeleteLocation;
inline constexpr WORD kNotifyLocationModified = kModifyLocation;  // text before, text after
inline constexpr WORD kNotifyLocationPromoted = kPromoteLocation;
inline constexpr WORD kNotifyLocationDemoted = kDemoteLocation;
inline constexpr WORD kNotifyDialer = kModifyDialer;
inline constexpr WORD kNotifyDialerState = kDialHangUp;  // profile, state code, state text
inline constexpr WORD kNotifyMachineAdded = CodeOf("kNotifyMachineAdded");  // address, user, level
inline constexpr WORD kNotifyMachineChanged = CodeOf("kNotifyMachineChanged");  // the same
inline constexpr WORD kNotifyMachineRemoved = kTerminateMachine;  // address, seconds on line, ""
inline constexpr WORD kNotifySessionStarted = CodeOf("kNotifySessionStarted");  // address, id, text
inline constexpr WORD kNotifySessionStatus = CodeOf("kNotifySessionStatus");    // the same
inline constexpr WORD kNotifySessionEnded = kTerminateSession;  // address, id, the four counters
inline constexpr WORD kNotifyCache = kUpdateCache;              // also after every purge

// The texts of requests 35 and 63, by Arg2; any other Arg2 gives no text.
inline constexpr const char* kArgOn = "1";
inline constexpr const char* kArgOff = "0";
inline constexpr const char* kStartServiceText = "Start service %s";
inline constexpr const char* kStopServiceText = "Stop service %s";
inline constexpr const char* kDialText = "Dial %s";
inline constexpr const char* kHangUpText = "Hang up %s";

// --- The console's requests at log-on, in the order they go out ------------------------------
namespace Detail {

constexpr std::size_t LogOnCount() {
    std::size_t count = 0;
    for (const Operation& row : kOperations)
        count += row.logOn != 0 ? 1 : 0;
    return count;
}

template <std::size_t N>
constexpr std::array<WORD, N> LogOnRequests() {
    std::array<WORD, N> codes{};
    for (const Operation& row : kOperations)
        if (row.logOn != 0)
            codes[static_cast<std::size_t>(row.logOn - 1)] = row.code;
    return codes;
}

}  // namespace Detail

inline constexpr auto kLogOnRequests = Detail::LogOnRequests<Detail::LogOnCount()>();

// --- What the table promises --------------------------------------------------------------------
namespace Detail {

// One row per code: the rows ascend strictly.
constexpr bool OneRowPerCode() {
    for (std::size_t n = 1; n < kOperations.size(); ++n)
        if (kOperations[n - 1].code >= kOperations[n].code)
            return false;
    return true;
}

constexpr bool NamesDiffer() {
    for (std::size_t a = 0; a < kOperations.size(); ++a)
        for (std::size_t b = a + 1; b < kOperations.size(); ++b)
            if (kOperations[a].name != nullptr && kOperations[b].name != nullptr &&
                std::string_view(kOperations[a].name) == kOperations[b].name)
                return false;
    return true;
}

// Places 1 to N at log-on, each once.
constexpr bool LogOnPlacesDiffer() {
    for (std::size_t place = 1; place <= kLogOnRequests.size(); ++place) {
        int seen = 0;
        for (const Operation& row : kOperations)
            seen += static_cast<std::size_t>(row.logOn) == place ? 1 : 0;
        if (seen != 1)
            return false;
    }
    return true;
}

// Only requests have texts, payloads, echoes and places at log-on; only lists of the log-on
// build branches.
constexpr bool ColumnsAgree() {
    for (const Operation& row : kOperations) {
        const bool request = row.mayAsk.permission != Permission::kNotARequest;
        if (!request && (row.text != nullptr || row.request != Payload::kNothing || row.echoed ||
                         row.logOn != 0))
            return false;
        if (row.console == ConsoleUse::kBranch && row.logOn == 0)
            return false;
    }
    return true;
}

// The console's columns ask only what the engine's allow: it asks at log-on, and marks as
// unsaved, only requests that some session may be granted; it receives an object after a
// status 1 only from a list of the log-on; it asks for a password only on messages the engine
// sends.
constexpr bool ConsoleAgrees() {
    for (const Operation& row : kOperations) {
        const Permission permission = row.mayAsk.permission;
        const bool grantable =
            permission != Permission::kNotARequest && permission != Permission::kRefused;
        if ((row.logOn != 0 || row.console == ConsoleUse::kUnsaved) && !grantable)
            return false;
        const bool toConsole = row.request == Payload::kRightsToConsole ||
                               row.request == Payload::kDialerToConsole ||
                               row.request == Payload::kCacheToConsole;
        if (toConsole && row.logOn == 0)
            return false;
        if (row.console == ConsoleUse::kAsksPassword && row.notification == Notice::kNotSent)
            return false;
    }
    return true;
}

}  // namespace Detail

static_assert(Detail::OneRowPerCode(), "the rows must ascend by code, one row per code");
static_assert(Detail::NamesDiffer(), "each name must name one row");
static_assert(Detail::LogOnPlacesDiffer(), "the log-on places must run 1, 2, ... once each");
static_assert(Detail::ColumnsAgree(), "a column says what another rules out");
static_assert(Detail::ConsoleAgrees(), "the console asks for what the engine never grants or sends");

}  // namespace RCPOperations
