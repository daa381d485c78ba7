#pragma once
// The event log: a program registers an event source by name and reports events (type, id,
// insertion strings). Each event is formatted with the program's own message table and goes
// to syslog (ident = the source name, priority from the type, facility daemon) and, when
// NORVANE_EVENTLOG_FILE names a file, is appended to that file as one line:
//
//   YYYY-MM-DD HH:MM:SS <TAB> source[pid] <TAB> type word <TAB> event id <TAB> text LF
//
// Message texts take their insertion strings by our own substitution ("%1" to "%99"; "%%" is
// a percent sign); an insertion string is never itself read as a format, and nothing of it
// can break the one-line form (control characters are written as \xHH).

#include "platform/kernel/Types.h"

#include <cstddef>
#include <string>
#include <vector>

inline constexpr WORD EVENTLOG_SUCCESS = 0x0000;
inline constexpr WORD EVENTLOG_ERROR_TYPE = 0x0001;
inline constexpr WORD EVENTLOG_WARNING_TYPE = 0x0002;
inline constexpr WORD EVENTLOG_INFORMATION_TYPE = 0x0004;
inline constexpr WORD EVENTLOG_AUDIT_SUCCESS = 0x0008;
inline constexpr WORD EVENTLOG_AUDIT_FAILURE = 0x0010;

// The environment variable naming the file that events are also appended to.
inline constexpr const char* kEventLogFileVariable = "NORVANE_EVENTLOG_FILE";

// One entry of a program's message table. Texts may end in CR LF, as message tables do; the
// line break is not written.
struct EventMessage {
    DWORD id;
    const char* text;
};

// Makes `entries` the program's message table (process-wide, replacing an earlier table). The
// entries are copied.
void RegisterEventMessageTable(const EventMessage* entries, std::size_t count);

struct EventSourceObject;
using EVENTSOURCE_HANDLE = EventSourceObject*;

// Opens an event source; `server` must be null (the local machine). Null, with
// ERROR_INVALID_PARAMETER, for an empty source name or one with control characters.
EVENTSOURCE_HANDLE RegisterEventSource(const char* server, const char* sourceName);

// Closes a source opened by RegisterEventSource. False (ERROR_INVALID_HANDLE) for anything else.
BOOL DeregisterEventSource(EVENTSOURCE_HANDLE source);

// Reports one event. `strings` holds `numStrings` insertion strings (null entries count as
// empty). The user id and raw data are accepted and not recorded. False when the source is not
// open or the type is unknown; writing is best effort (an unwritable file does not fail it).
BOOL ReportEvent(EVENTSOURCE_HANDLE source, WORD type, WORD category, DWORD eventId,
                 const void* userSid, WORD numStrings, DWORD dataSize, const char* const* strings,
                 const void* rawData);

// The text of event `eventId` from the registered table with its insertion strings
// substituted, without the table's closing line break. An id the table lacks gives
// "Event <id>" followed by the strings, each after ": ".
std::string FormatEventText(DWORD eventId, const std::vector<std::string>& strings);

// The substitution itself, over any message text.
std::string SubstituteInsertions(const std::string& text, const std::vector<std::string>& strings);

// "Error", "Warning", "Information", "Success", "Audit Success", "Audit Failure"; empty for
// an unknown type.
const char* EventTypeName(WORD type);
