#pragma once
// The stored form of the access-control objects: their registry value names and the names of
// the numbered sub-keys their lists are saved under, as a table. Other programs and older
// configurations rely on every name here, byte for byte.
//
//   object            value           kind      default on load
//   filter component  Name            string    ""
//                     Description     string    ""
//   time slice        Every           DWORD     1
//                     CheckTime       DWORD     0
//                     EveryWhat       DWORD     127
//                     StartTime       double    0.0       (8-byte binary, days since 1899-12-30)
//                     EndTime         double    0.0
//   time filter       <key>\Inclusion<n>, <key>\Exclusion<n>: one time slice each, n from 0
//   address filter    InternalFilter  string    ""        (taken as stored, never rebuilt)
//                     Filter          string    ""
//   location          the address filter's values, then
//                     Username        string    "Guest"
//   location array    <key>\Location<n>: one location each, n from 0
//   request criterion Type            string    (the run-time class name, written on save;
//                                               the filter's loader picks the class by it)
//                     Name, Description
//                     Comparison      DWORD     0
//                     DataIndex       DWORD     0
//                     VariableName    string    ""
//                     Not             DWORD     0
//                     then the typed value's own values (foundation/DataObjectValues.h)
//   request filter    Name, Description, then <key>\Criterion<n>: one criterion each
//   filter collection <key>\Filter<n>: one request filter each
//   group             Name, Description, then
//                     Type            string    ""        "Group"
//                     <key>\Members: one DWORD value per member, named by the member:
//                                     1 when it was a group when added, 0 a user (default 0)
//   user              Name, Description, then
//                     Type            string    ""        "User"
//                     RealName        string    ""
//                     Password        string    ""        scrambled (foundation/Scrambler.h)
//                     the statistics: ClientSendTraffic, ClientRecvTraffic,
//                       NonClientSendTraffic, NonClientRecvTraffic, TimeOnLine (DWORD, 0),
//                       OpeningBalanceHi/Lo, ClosingBalanceHi/Lo
//                     the rates: ClientSendTrafficRateHi/Lo, ClientRecvTrafficRateHi/Lo,
//                       NonClientSendTrafficRateHi/Lo, NonClientRecvTrafficRateHi/Lo,
//                       TimeRateHi/Lo
//                     AccountEnabled  DWORD     1
//                     UserCannotChangePassword, UserMustChangePassword, AuditUser,
//                       AuditOptions  DWORD     0
//                     An amount is two DWORDs: <name>Hi the high 32 bits and <name>Lo the
//                     low 32 bits of its 64-bit count of ten-thousandths (0 each).
//   user database     UserDatabase\<name>: one user or group each, by its Type; other
//                     sub-keys are skipped on loading and deleted by the next save
//   right             RightType       DWORD     0
//                     Description     string    ""
//                     IncludeDefaultRights DWORD 1
//                     <key>\Recipient<n>: one recipient each, n from 0
//   recipient         UserName        string    ""
//                     Description     string    ""
//                     SpecifyUser, SpecifyLocation, SpecifyTime, SpecifyRequest,
//                       MinimumSecurityLevel  DWORD  0
//                     <key>\IncludedLocations, <key>\ExcludedLocations: one DWORD value
//                       (data 0, ignored on loading) per address pattern, named by it
//                     <key>\TimeFilter: a time filter; <key>\RequestFilter: a collection
//
// A list's saver deletes the list's whole key tree first, so a shrunken list leaves nothing
// stale behind.

namespace AccessFormat {

inline constexpr char kName[] = "Name";
inline constexpr char kDescription[] = "Description";

inline constexpr char kEvery[] = "Every";
inline constexpr char kCheckTime[] = "CheckTime";
inline constexpr char kEveryWhat[] = "EveryWhat";
inline constexpr char kStartTime[] = "StartTime";
inline constexpr char kEndTime[] = "EndTime";

inline constexpr char kInclusionKey[] = "Inclusion";
inline constexpr char kExclusionKey[] = "Exclusion";
// A time filter's sub-key is an inclusion or an exclusion by exactly these first four
// characters (case-sensitive); any other sub-key is ignored.
inline constexpr char kInclusionMark[] = "Incl";
inline constexpr char kExclusionMark[] = "Excl";

inline constexpr char kInternalFilter[] = "InternalFilter";
inline constexpr char kFilter[] = "Filter";
inline constexpr char kUsername[] = "Username";
inline constexpr char kDefaultUsername[] = "Guest";

inline constexpr char kLocationKey[] = "Location";

inline constexpr char kType[] = "Type";
inline constexpr char kComparison[] = "Comparison";
inline constexpr char kDataIndex[] = "DataIndex";
inline constexpr char kVariableName[] = "VariableName";
inline constexpr char kNot[] = "Not";
inline constexpr char kCriterionKey[] = "Criterion";
inline constexpr char kFilterKey[] = "Filter";

inline constexpr char kRightType[] = "RightType";
inline constexpr char kIncludeDefaultRights[] = "IncludeDefaultRights";
inline constexpr char kRecipientKey[] = "Recipient";
inline constexpr char kUserName[] = "UserName";
inline constexpr char kSpecifyUser[] = "SpecifyUser";
inline constexpr char kSpecifyLocation[] = "SpecifyLocation";
inline constexpr char kSpecifyTime[] = "SpecifyTime";
inline constexpr char kSpecifyRequest[] = "SpecifyRequest";
inline constexpr char kMinimumSecurityLevel[] = "MinimumSecurityLevel";
inline constexpr char kIncludedLocationsKey[] = "IncludedLocations";
inline constexpr char kExcludedLocationsKey[] = "ExcludedLocations";
inline constexpr char kTimeFilterKey[] = "TimeFilter";
inline constexpr char kRequestFilterKey[] = "RequestFilter";
inline constexpr char kTypeUser[] = "User";
inline constexpr char kTypeGroup[] = "Group";
inline constexpr char kMembersKey[] = "Members";
inline constexpr char kUserDatabaseKey[] = "UserDatabase";

inline constexpr char kRealName[] = "RealName";
inline constexpr char kPassword[] = "Password";
inline constexpr char kAccountEnabled[] = "AccountEnabled";
inline constexpr char kUserCannotChangePassword[] = "UserCannotChangePassword";
inline constexpr char kUserMustChangePassword[] = "UserMustChangePassword";
inline constexpr char kAuditUser[] = "AuditUser";
inline constexpr char kAuditOptions[] = "AuditOptions";
inline constexpr char kHighSuffix[] = "Hi";
inline constexpr char kLowSuffix[] = "Lo";

// A user's usage counters, in the order of its archive form.
inline constexpr const char* kUserCounters[] = {
    "ClientSendTraffic", "ClientRecvTraffic", "NonClientSendTraffic", "NonClientRecvTraffic",
    "TimeOnLine",
};
// A user's amounts, in the order of its archive form: the five rates, then the balances.
inline constexpr const char* kUserAmounts[] = {
    "ClientSendTrafficRate", "ClientRecvTrafficRate", "NonClientSendTrafficRate",
    "NonClientRecvTrafficRate", "TimeRate", "OpeningBalance", "ClosingBalance",
};

}  // namespace AccessFormat
