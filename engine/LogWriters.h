#pragma once
// The writers of the service logs, the audit logs and the dialer's log: each formats the
// caller's message, builds one line of engine/LogFormat.h for the current local time, and
// posts it to the log manager thread. Nothing is written by the calling thread.
//
// The subjects call these from their own writers: a service's WriteLog (service lines, with
// its log file and `LogOptions`), the user database's WriteAudit (audit lines, with the user's
// audit file and `AuditOptions`, under its lock), and the dialer's WriteLog. A session's
// WriteServiceLog and WriteAudit decide and gather themselves and post the entries of
// MakeSessionLogEntry / MakeAuditLogEntry below: the same lines.
//
// Every line is bounded and holds exactly one CR LF, its last two characters:
//  - the caller's message is formatted into 2048 bytes (longer messages are cut), and line
//    breaks that end it are dropped;
//  - control characters in every text field (message, description, user name, address) are
//    written as "\xHH", so text from the network can neither end a line nor add a field;
//  - a line longer than 2047 characters with its CR LF is cut before the CR LF, never inside
//    a "\xHH".
// Messages are printf formats of the program's own (checked by the compiler); text from
// outside is an argument of "%s", never a format. Lines that carry no message (traffic,
// created, requested, logged in and out) are written with the format "%s" and "".

#include "engine/LogFile.h"
#include "foundation/Format.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/Types.h"

#include <cstdarg>
#include <memory>
#include <span>
#include <string>
#include <string_view>

class CLogEntry;
class CLogManager;
namespace LogFormat {
struct LogLineForm;
}

// A session's traffic as its "Traffic" lines show it.
struct LogTraffic {
    DWORD clientSent = 0;
    DWORD clientReceived = 0;
    DWORD remoteSent = 0;
    DWORD remoteReceived = 0;
    DWORD seconds = 0;  // since the session started
};

// What a session line says about its session. The views must stay valid during the call.
struct SessionLogFields {
    std::string_view clientAddress;
    std::string_view userName;
    DWORD sessionId = 0;
    std::string_view description;  // the session's GetDescription()
    LogTraffic traffic;            // read by the traffic lines only
};

// The local time as log lines show it, "%m/%d/%y %H:%M:%S".
std::string LogTimeStamp();
std::string LogTimeStamp(const SYSTEMTIME& time);

// The line of each writer for an event, CR LF included; empty when that writer has no line for
// the bit. `message` is the formatted message (used by the lines that carry a text).
std::string BuildServiceLogLine(DWORD eventBit, std::string_view timeStamp, std::string_view message);
std::string BuildSessionLogLine(DWORD eventBit, std::string_view timeStamp,
                                const SessionLogFields& session, std::string_view message);
std::string BuildAuditLogLine(DWORD eventBit, std::string_view timeStamp,
                              const SessionLogFields& session, std::string_view message);
std::string BuildDialerLogLine(DWORD type, std::string_view timeStamp, std::string_view message);

// The writers. Each posts nothing when `file` is null, when `eventBit` is not in `options`,
// or when the writer has no line for the bit (a service writer knows bits 1, 64 and 128; a
// session writer 2, 4, 8, 16, 32, 128 and 512; the audit writer 1, 2, 4, 8, 16, 32, 64 and 256;
// the dialer writer types 1 and 2). TRUE when a line was queued.
BOOL PostServiceLogLine(CLogManager& manager, const CLogFileRef& file, DWORD options,
                        DWORD eventBit, const char* format, ...) NV_PRINTF_FORMAT(5, 6);
BOOL PostServiceLogLineV(CLogManager& manager, const CLogFileRef& file, DWORD options,
                         DWORD eventBit, const char* format, va_list args) NV_PRINTF_FORMAT(5, 0);
BOOL PostSessionLogLine(CLogManager& manager, const CLogFileRef& file, DWORD options,
                        DWORD eventBit, const SessionLogFields& session, const char* format, ...)
    NV_PRINTF_FORMAT(6, 7);
BOOL PostSessionLogLineV(CLogManager& manager, const CLogFileRef& file, DWORD options,
                         DWORD eventBit, const SessionLogFields& session, const char* format,
                         va_list args) NV_PRINTF_FORMAT(6, 0);
BOOL PostAuditLogLine(CLogManager& manager, const CLogFileRef& file, DWORD options,
                      DWORD eventBit, const SessionLogFields& session, const char* format, ...)
    NV_PRINTF_FORMAT(6, 7);
BOOL PostAuditLogLineV(CLogManager& manager, const CLogFileRef& file, DWORD options,
                       DWORD eventBit, const SessionLogFields& session, const char* format,
                       va_list args) NV_PRINTF_FORMAT(6, 0);
BOOL PostDialerLogLine(CLogManager& manager, const CLogFileRef& file, DWORD options, DWORD type,
                       const char* format, ...) NV_PRINTF_FORMAT(5, 6);
BOOL PostDialerLogLineV(CLogManager& manager, const CLogFileRef& file, DWORD options, DWORD type,
                        const char* format, va_list args) NV_PRINTF_FORMAT(5, 0);

// The caller's message as the writers use it: formatted into 2048 bytes, closing line breaks
// dropped.
std::string FormatLogMessageV(const char* format, va_list args) NV_PRINTF_FORMAT(1, 0);
// The same without a copy: the view is of `buffer`, or for the format "%s" of the argument
// itself, and lasts as long as both.
std::string_view FormatLogMessageInto(std::span<char, 2048> buffer, const char* format, va_list args)
    NV_PRINTF_FORMAT(2, 0);

// For writers that decide and gather themselves (a session's): the line a session writer or
// the audit writer has for a bit (a row of engine/LogFormat.h's tables), null when it has none.
const LogFormat::LogLineForm* FindSessionLineForm(DWORD eventBit);
const LogFormat::LogLineForm* FindAuditLineForm(DWORD eventBit);
// The entry of that line for `file`, stamped now, ready for CLogManager::PostLogEntry: the
// texts the line shows are copied into the entry's own block (one allocation), and its text is
// made on the log thread. `form` is a row FindSessionLineForm / FindAuditLineForm gave; the
// message is used only by lines that show it.
std::unique_ptr<CLogEntry> MakeSessionLogEntry(CLogFileRef file, const LogFormat::LogLineForm& form,
                                               const SessionLogFields& session, std::string_view message);
std::unique_ptr<CLogEntry> MakeAuditLogEntry(CLogFileRef file, const LogFormat::LogLineForm& form,
                                             const SessionLogFields& session, std::string_view message);
