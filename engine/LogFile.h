#pragma once
// One open log file: a service's log, a user's audit file or the dialer's log.
//
// Shared ownership: the subject that opened the file (service, user, dialer) holds a CLogFileRef,
// and so does every log entry queued for it. Closing or reopening the subject's file drops the
// subject's reference only; entries already queued still write to the file they were made for,
// which stays open until the last of them is written. A descriptor is therefore never closed
// while an entry may still use it, and never reused by a socket under a queued entry.
//
// Files are opened for appending (FILE_APPEND_DATA): each line is one write at the file's end,
// so lines of two subjects sharing a file (a service named "Dialer" and the dialer) never
// interleave, and nothing is overwritten when another program appended meanwhile.

#include "platform/kernel/Types.h"

#include <atomic>
#include <memory>
#include <string>
#include <string_view>

class CLogFile;
using CLogFileRef = std::shared_ptr<CLogFile>;

class CLogFile {
public:
    // Opens "<folder>/<name>.log", creating the folder and the file when missing. Null when
    // `name` could escape the folder or name no file (empty, "." or "..", or holding '/', '\'
    // or a control character), when the folder is empty, or when the file cannot be opened.
    static CLogFileRef Open(const std::string& folder, const std::string& name);
    // The same in the folder named by the registry value "Settings\<valueName>" (default
    // `defaultFolder`); a stored '\' separates folders as '/' does. OpenServiceLog and
    // OpenAuditLog use the service-log folder ("LogFileDirectory", default "Logs") and the
    // audit folder ("AuditDirectory", default "Audit"). The registry root must be set.
    static CLogFileRef OpenInSettingFolder(const char* valueName, const char* defaultFolder,
                                           const std::string& name);
    static CLogFileRef OpenServiceLog(const std::string& name);
    static CLogFileRef OpenAuditLog(const std::string& name);
    // Whether any file OpenAuditLog opened is still open in this process. Every audit line
    // goes to such a file: while none is open, a writer can skip looking for its user's.
    static bool AnyAuditLogOpen() { return s_openAuditLogs.load(std::memory_order_relaxed) != 0; }

    ~CLogFile();
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    // Appends `text` with one write. FALSE when the write failed (disk full, I/O error).
    BOOL Append(std::string_view text);
    const std::string& GetPath() const { return m_path; }

private:
    CLogFile(int handle, std::string path) : m_handle(handle), m_path(std::move(path)) {}

    const int m_handle;
    const std::string m_path;
    bool m_audit = false;  // counted in s_openAuditLogs

    static std::atomic<long> s_openAuditLogs;
};
