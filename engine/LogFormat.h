#pragma once
// The engine's log files, as a table: the event bits that choose which lines are written, the
// words of each line, the limits, and the registry values that name the log folders. Lines are
// built from these by engine/LogWriters.cpp; nothing else spells a log line.
//
// Every line is: the local time "%m/%d/%y %H:%M:%S", a tab, the subject's fields separated by
// tabs, the line's label and its field, then CR LF. The lines' fields, in printf terms:
//
//   service log, service writer   "%s\tConfiguration changed\t%s\r\n"            bit 1
//                                  "%s\t%s\r\n"                                   bit 64
//                                  "%s\tError:\t%s\r\n"                           bit 128
//   service log, session writer   "%s\t%s\t%s\t%010u\t" (time, client, user, session) then
//                                  "Failed authorisation:\t%s"                    bit 2
//                                  "Created:\t%s"          (description)          bit 4
//                                  "Requested:\t%s"        (description)          bit 8
//                                  "Traffic\t %u\t%u\t%u\t%u\t%us"                bit 16
//                                  "Terminated %s"                                bit 32
//                                  "Error:\t%s"                                   bit 128
//                                  "Debug:\t%s"                                   bit 512
//   audit log                     "%s\t%s\t%010u\t" (time, client, session) then
//                                  "Logged in"                                    bit 1
//                                  "Logged out"                                   bit 2
//                                  "%s"                                           bit 4
//                                  "Failed authorisation:\t%s"                    bit 8
//                                  "Created\t%s"           (description)          bit 16
//                                  "Requested\t%s"         (description)          bit 32
//                                  "Traffic\t %u\t%u\t%u\t%u\t%us"                bit 64
//                                  "Terminated %s"                                bit 256
//   dialer log ("Dialer.log")     "%s\t%s\r\n"                                   type 1
//                                  "%s\tDebug:\t%s\r\n"                           type 2
//
// The traffic fields are: bytes sent to the client, received from the client, sent to the
// remote side, received from the remote side, then the session's seconds since its start.
// Note the blank after the tab before the first counter, the "s" after the seconds, and the
// colon after "Created" and "Requested" in the service log only.

#include "platform/kernel/Thread.h"
#include "platform/kernel/Types.h"

#include <cstddef>

namespace LogFormat {

// Service-log event bits (a service's `LogOptions`, copied into each of its sessions).
inline constexpr DWORD kLogConfigurationChanged = 1;
inline constexpr DWORD kLogFailedAuthorisation = 2;
inline constexpr DWORD kLogSessionCreated = 4;
inline constexpr DWORD kLogRequest = 8;
inline constexpr DWORD kLogTraffic = 16;
inline constexpr DWORD kLogTerminated = 32;
inline constexpr DWORD kLogServiceEvent = 64;
inline constexpr DWORD kLogError = 128;
inline constexpr DWORD kLogDebug = 512;

// Bits 1, 2, 8, 16, 64 and 128: a new service logs neither "Created:" nor "Terminated" nor
// debug lines.
inline constexpr DWORD kDefaultLogOptions = 219;
static_assert(kDefaultLogOptions == (kLogConfigurationChanged | kLogFailedAuthorisation |
                                     kLogRequest | kLogTraffic | kLogServiceEvent | kLogError));

// Audit-log event bits (a user's `AuditOptions`). The same events carry other numbers than in
// the service log.
inline constexpr DWORD kAuditLogOn = 1;
inline constexpr DWORD kAuditLogOff = 2;
inline constexpr DWORD kAuditText = 4;
inline constexpr DWORD kAuditFailedAuthorisation = 8;
inline constexpr DWORD kAuditSessionCreated = 16;
inline constexpr DWORD kAuditRequest = 32;
inline constexpr DWORD kAuditTraffic = 64;
inline constexpr DWORD kAuditTerminated = 256;

// Dialer-log line types (the dialer's `LogOptions`).
inline constexpr DWORD kDialerNormal = 1;
inline constexpr DWORD kDialerDebug = 2;

// The line of each event: the label written after the subject's fields, and the field that
// follows it. Rows are looked up by exact bit; a writer has no line for a bit not in its table.
enum class LogField {
    kNone,         // nothing after the label
    kText,         // the caller's formatted message
    kDescription,  // the session's description (the message is formatted but not used)
    kTraffic,      // the five traffic fields
};

struct LogLineForm {
    DWORD bit;
    const char* label;
    LogField field;
};

// Service lines written by a service: "time \t label field".
inline constexpr LogLineForm kServiceLines[] = {
    {kLogConfigurationChanged, "Configuration changed\t", LogField::kText},
    {kLogServiceEvent, "", LogField::kText},
    {kLogError, "Error:\t", LogField::kText},
};

// Service lines written by a session: "time \t client \t user \t session \t label field".
inline constexpr LogLineForm kSessionLines[] = {
    {kLogFailedAuthorisation, "Failed authorisation:\t", LogField::kText},
    {kLogSessionCreated, "Created:\t", LogField::kDescription},
    {kLogRequest, "Requested:\t", LogField::kDescription},
    {kLogTraffic, "Traffic\t ", LogField::kTraffic},
    {kLogTerminated, "Terminated ", LogField::kText},
    {kLogError, "Error:\t", LogField::kText},
    {kLogDebug, "Debug:\t", LogField::kText},
};

// Audit lines: "time \t client \t session \t label field".
inline constexpr LogLineForm kAuditLines[] = {
    {kAuditLogOn, "Logged in", LogField::kNone},
    {kAuditLogOff, "Logged out", LogField::kNone},
    {kAuditText, "", LogField::kText},
    {kAuditFailedAuthorisation, "Failed authorisation:\t", LogField::kText},
    {kAuditSessionCreated, "Created\t", LogField::kDescription},
    {kAuditRequest, "Requested\t", LogField::kDescription},
    {kAuditTraffic, "Traffic\t ", LogField::kTraffic},
    {kAuditTerminated, "Terminated ", LogField::kText},
};

// Dialer lines: "time \t label field".
inline constexpr LogLineForm kDialerLines[] = {
    {kDialerNormal, "", LogField::kText},
    {kDialerDebug, "Debug:\t", LogField::kText},
};

inline constexpr const char* kFieldSeparator = "\t";
inline constexpr const char* kLineEnd = "\r\n";
// "%010u" session numbers and "%u" traffic counters.
inline constexpr const char* kSessionNumber = "%010u";
inline constexpr const char* kTrafficFields = "%u\t%u\t%u\t%u\t%us";
// The time stamp: month/day/two-digit year, then the time (what the C library's "%c" gave in
// the original program's locale; glibc's "%c" differs).
inline constexpr const char* kTimeStamp = "%02u/%02u/%02u %02u:%02u:%02u";

// A caller's message is formatted into this many bytes, its terminating NUL included.
inline constexpr std::size_t kMessageBuffer = 2048;
// A whole line, CR LF included, holds at most this many characters; longer ones are cut
// before their CR LF.
inline constexpr std::size_t kLineLimit = 2047;
// A control character in a field (a byte below 0x20, or 0x7F) is written as "\xHH" in this
// form, so network text can neither end a line early nor add a field.
inline constexpr const char* kControlEscape = "\\x%02X";

// The thread message that carries a log entry to the log manager thread; lParam is the entry.
inline constexpr UINT kWriteEntryMessage = WM_USER + 1;

// Where the log files live: values under the configuration key "Settings", each a folder
// (relative folders resolve against the engine's current folder, its program folder).
inline constexpr const char* kSettingsKey = "Settings";
inline constexpr const char* kLogFolderValue = "LogFileDirectory";
inline constexpr const char* kLogFolderDefault = "Logs";
inline constexpr const char* kAuditFolderValue = "AuditDirectory";
inline constexpr const char* kAuditFolderDefault = "Audit";
// "%s\%s.log" on the original platform: folder, subject name.
inline constexpr const char* kLogFileName = "%s/%s.log";
// The dialer's own log in the service-log folder.
inline constexpr const char* kDialerLogName = "Dialer";

}  // namespace LogFormat
