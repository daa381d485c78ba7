#pragma once
// The numbered values that request criteria test, as one table for every party: the request
// variables every session answers through GetValue (and the web session's header fields
// through GetVariable), and the values a web-cache entry answers for cache-purge criteria.
// Each row gives the name that criterion descriptions and the console show, and the type of
// the value. Suppliers answer with exactly that type and the console builds a criterion's
// value with it, because typed values of different types never compare equal (an unsigned
// 80 is not a signed 80). Stored criteria (registry, archives) rely on every number here.
//
//   index  request variable                    type      supplied by
//   0      Client IP number                    string    every session: the client's address
//   1      Client port number                  unsigned  every session
//   2      Server name                         string    two-ended TCP sessions (remote host),
//   3      Server port number                  unsigned  UDP mapping sessions (target)
//   4      User: Username                      string    every session
//   5      User: Authentication level          integer   every session: 0, 1 or 2
//   6-10   User: traffic counters, seconds     unsigned  the session user's account
//   11     User: Account balance               integer   ClosingBalance, whole units
//   12-18  HTTP ...                            string    web session (18 by header name)
//   19     POP3 Username                       string    POP3 session
//   20     FTP Username                        string    FTP session
//   21     VDOLive File                        string    VDOLive session
//   22-24  SOCKS ...                           unsigned  SOCKS session
// A session asked for an index it does not supply leaves the value as the caller set it
// (request criteria pass integer 0; the empty string for header fields).
//
//   index  cache-entry value                   type
//   0      URL                                 string
//   1      Cachefile name                      string
//   2      Cachefile size (bytes)              unsigned
//   3      Content type                        string
//   4      Hit count                           unsigned
//   5      Hit count times file size (bytes)   double
//   6      Relative Cache efficiency (%)       double
//   7      Time since last hit (hrs)           unsigned
//   8      Time since last modified (hrs)      unsigned

#include "foundation/NVDataObject.h"
#include "platform/kernel/Types.h"

#include <cstdint>
#include <span>

enum RequestDataIndex : DWORD {
    RequestClientIPNumber = 0,
    RequestClientPortNumber = 1,
    RequestServerName = 2,
    RequestServerPortNumber = 3,
    RequestUserName = 4,
    RequestUserAuthenticationLevel = 5,
    RequestUserClientSendTraffic = 6,
    RequestUserClientRecvTraffic = 7,
    RequestUserNonClientSendTraffic = 8,
    RequestUserNonClientRecvTraffic = 9,
    RequestUserTimeOnLine = 10,
    RequestUserAccountBalance = 11,
    RequestHTTPProtocol = 12,
    RequestHTTPMethod = 13,
    RequestHTTPResource = 14,
    RequestHTTPURL = 15,
    RequestHTTPPostData = 16,
    RequestHTTPQueryString = 17,
    RequestHTTPHeaderField = 18,
    RequestPOP3UserName = 19,
    RequestFTPUserName = 20,
    RequestVDOLiveFile = 21,
    RequestSOCKSVersion = 22,
    RequestSOCKSCommand = 23,
    RequestSOCKSAddressType = 24,
};

enum CacheEntryDataIndex : DWORD {
    CacheEntryURL = 0,
    CacheEntryFileName = 1,
    CacheEntrySize = 2,
    CacheEntryContentType = 3,
    CacheEntryHits = 4,
    CacheEntryHitsTimesSize = 5,
    CacheEntryEfficiency = 6,
    CacheEntryHoursSinceChecked = 7,
    CacheEntryHoursSinceModified = 8,
};

// One row of a table: the name shown and the type of the value (CNVDataObject::Type).
struct SRequestVariable {
    const char* name;
    CNVDataObject::Type type;
};

inline constexpr DWORD kRequestVariableCount = 25;
inline constexpr SRequestVariable kRequestVariables[kRequestVariableCount] = {
    {"Client IP number", CNVDataObject::TypeString},
    {"Client port number", CNVDataObject::TypeDWORD},
    {"Server name", CNVDataObject::TypeString},
    {"Server port number", CNVDataObject::TypeDWORD},
    {"User: Username", CNVDataObject::TypeString},
    {"User: Authentication level", CNVDataObject::TypeInt},
    {"User: Bytes sent to client", CNVDataObject::TypeDWORD},
    {"User: Bytes received from client", CNVDataObject::TypeDWORD},
    {"User: Bytes sent for client", CNVDataObject::TypeDWORD},
    {"User: Bytes received for client", CNVDataObject::TypeDWORD},
    {"User: Seconds on line", CNVDataObject::TypeDWORD},
    {"User: Account balance", CNVDataObject::TypeInt},
    {"HTTP Protocol", CNVDataObject::TypeString},
    {"HTTP Method", CNVDataObject::TypeString},
    {"HTTP Resource", CNVDataObject::TypeString},
    {"HTTP URL", CNVDataObject::TypeString},
    {"HTTP POST data", CNVDataObject::TypeString},
    {"HTTP Query string", CNVDataObject::TypeString},
    {"HTTP Header field", CNVDataObject::TypeString},
    {"POP3 Username", CNVDataObject::TypeString},
    {"FTP Username", CNVDataObject::TypeString},
    {"VDOLive File", CNVDataObject::TypeString},
    {"SOCKS Protocol version", CNVDataObject::TypeDWORD},
    {"SOCKS Command", CNVDataObject::TypeDWORD},
    {"SOCKS Address type", CNVDataObject::TypeDWORD},
};

inline constexpr DWORD kCacheEntryValueCount = 9;
inline constexpr SRequestVariable kCacheEntryValues[kCacheEntryValueCount] = {
    {"URL", CNVDataObject::TypeString},
    {"Cachefile name", CNVDataObject::TypeString},
    {"Cachefile size (bytes)", CNVDataObject::TypeDWORD},
    {"Content type", CNVDataObject::TypeString},
    {"Hit count", CNVDataObject::TypeDWORD},
    {"Hit count times file size (bytes)", CNVDataObject::TypeDouble},
    {"Relative Cache efficiency (%)", CNVDataObject::TypeDouble},
    {"Time since last hit (hrs)", CNVDataObject::TypeDWORD},
    {"Time since last modified (hrs)", CNVDataObject::TypeDWORD},
};

using RequestVariableTable = std::span<const SRequestVariable>;

// The row of `index` in `table`, or null beyond its end.
inline const SRequestVariable* FindVariable(RequestVariableTable table, DWORD index) {
    return index < table.size() ? &table[index] : nullptr;
}

// Comparison codes of a criterion, and the text each shows in descriptions and the console.
enum CriterionComparison : DWORD {
    ComparisonEquals = 0,       // every value type
    ComparisonGreaterThan = 1,  // values that are not strings
    ComparisonLessThan = 2,
    ComparisonContains = 3,     // string values
    ComparisonBeginsWith = 4,
    ComparisonEndsWith = 5,
    ComparisonIsEmpty = 6,
};

inline constexpr DWORD kComparisonCount = 7;
inline constexpr const char* kComparisonTexts[kComparisonCount] = {
    "equals", "greater than", "less than", "contains", "begins with", "ends with", "is empty",
};

// Whether `comparison` applies to a value of type `type`: "equals" to every type, "greater
// than" and "less than" to the types that are not strings, the others to strings only. FALSE
// for a code beyond the table.
BOOL IsComparisonApplicable(DWORD comparison, std::int32_t type);

// Service kind codes that decide which request variables a criterion editor offers (the
// service classes fix them; -1 asks for cache-entry values instead).
inline constexpr int kServiceKindRemoteControl = 0;
inline constexpr int kServiceKindWWW = 2;
inline constexpr int kServiceKindPOP3 = 3;
inline constexpr int kServiceKindFTP = 5;
inline constexpr int kServiceKindSOCKS = 7;
inline constexpr int kServiceKindDNS = 9;
inline constexpr int kServiceKindVDOLive = 11;
inline constexpr int kServiceKindCachePurge = -1;

// Whether a criterion for a service of kind `serviceKind` may test request variable `index`:
// 0, 1 and 4-11 always; 2 and 3 unless the service is remote control or DNS (they have no
// server side); 12-18 for the web proxy, 19 POP3, 20 FTP, 21 VDOLive, 22-24 SOCKS.
BOOL IsRequestVariableOffered(DWORD index, int serviceKind);
