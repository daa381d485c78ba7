#pragma once
// CSession: one client connection or conversation that a service handles. It holds what every
// session shares: its number, the client's address and port, the user and log-on level copied
// from its client machine, the idle time-out, the access right to check, the logging settings
// copied from its service, and the service-log and audit writers. CTCPSession makes a session
// a thread of its own; CUDPSession is a session its UDP service drives; protocol sessions
// derive from these.
//
// Numbers. A session gets its number when it is first admitted to its client machine
// (CMachine::Admit), from one process-wide atomic counter; the first is 1 and 0 never is one.
// Logs write it as ten zero-padded digits.
//
// Ending. Terminate(reason) acts once, whichever thread calls it first (the session's own,
// the engine's timer, a console's session, the machine): the machine removes the session,
// books its traffic to the user, tells the consoles, then the session's EndSession logs the
// end and stops the session (a TCP session's thread quits; a UDP session leaves its service).
// EndSession itself also runs at most once, so a session that a machine closed while its
// Terminate was on the way ends once. Exit codes: FrameworkFormat.h.
//
// Idle time-out. The deadline is kept on the 64-bit monotonic clock. Any traffic counted on
// the session's sockets since the last idle check counts as activity and moves the deadline
// (GetActivityCount), so no long download or tunnel is cut while bytes flow; protocol
// sessions may also call ResetIdleTimer themselves.
//
// Ownership. Sessions are shared: the thread of a TCP session, its client machine and the
// UDP service's map each hold a counted reference (CObject::AddRef), as does any walk that
// uses a session outside the lock it found it under. A session holds references to its
// service (whose access right and log file it uses) and to its machine, so neither can be
// freed under it. Always made with new.
//
// Locking. The session's own mutex guards its texts, its user and level and its machine
// reference; it is a leaf (nothing else is locked while it is held). Lock order around a
// session: machine map, machine, user database, then the session's leaf mutex.

#include "engine/LogFile.h"
#include "engine/access/AccessSession.h"
#include "foundation/Format.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Thread.h"
#include "platform/kernel/Types.h"

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <memory>
#include <string>
#include <string_view>

class CArchive;
class CMachine;
struct LogTraffic;
namespace LogFormat {
struct LogLineForm;
}
class CNVDataObject;
class CRight;
class CService;

class CSession : public CObject, public CAccessSession {
    DECLARE_SERIAL(CSession)
public:
    CSession();
    ~CSession() override;
    CSession(const CSession&) = delete;
    CSession& operator=(const CSession&) = delete;

    // --- Virtual operations (the base behaviour is described at each) -------------------
    // Arms the idle deadline. CTCPSession starts the session's thread.
    virtual void StartSession();
    // Ends the session once (see the top of this file); later calls only count.
    void Terminate(int reason);
    // LogEnd(code). CTCPSession also quits the thread; CUDPSession leaves its service.
    virtual void EndSession(int code);
    // Whether `text` is this host's address on the session's client connection: FALSE here.
    virtual BOOL IsOwnAddress(const std::string& text);
    virtual DWORD GetClientBytesSent() const { return 0; }
    virtual DWORD GetClientBytesReceived() const { return 0; }
    virtual DWORD GetClientBytesTotal() const { return 0; }
    virtual DWORD GetRemoteBytesSent() const { return 0; }
    virtual DWORD GetRemoteBytesReceived() const { return 0; }
    virtual DWORD GetRemoteBytesTotal() const { return 0; }
    virtual DWORD GetTotalBytes() const { return 0; }
    // Copies the service's non-proxy-request settings and keeps a reference to the service.
    virtual void SetService(CService& service);
    // Keeps `lease` until the session object is destroyed (its place among its service's live
    // sessions, CService::TakeSessionPlace). Set before the session is shared with other
    // threads, or on the one thread that drives it (a UDP session's service thread).
    void HoldWhileAlive(std::shared_ptr<void> lease) { m_aliveLease = std::move(lease); }
    bool HoldsLease() const { return m_aliveLease != nullptr; }
    // The right CheckAccess asks. `owner` (optional) holds the right and is kept alive with a
    // reference while the session uses it.
    void SetAccessRight(CRight* right, CObject* owner = nullptr);
    // The service's access right (its owner: the service).
    void SetAccessRights(CService& service);
    // The access right `other` checks, with its owner (a session taking over another's
    // connection with its rights).
    void SetAccessRightsOf(const CSession& other);
    void SetLoggingValues(DWORD options, CLogFileRef file);
    // The service's LogOptions and its open log file.
    void SetLogging(CService& service);
    // The protocol's refusal, sent to the client: nothing here.
    virtual void SendAccessDenied() {}
    std::string GetDescription() const;
    // Stores the text with control characters written as "\xHH" and cut to a bound
    // (engine/framework/DisplayText.h): descriptions often carry what a client sent.
    void SetDescription(std::string text);
    // Request variables (engine/access/RequestVariables.h). GetVariable: value untouched.
    void GetVariable(const std::string& name, CNVDataObject& value) override;
    // Ids 0, 1, 4 and 5 from the session; 6-10 the user's counters and 11 its balance in whole
    // units (under the user database's lock, value untouched when the user is not in the
    // database); 2, 3 and every other id integer 0 (two-ended sessions answer 2 and 3).
    void GetValue(DWORD id, CNVDataObject& value) override;
    // The protocol's first step, after a granted access check: nothing here.
    virtual void Initialize() {}
    // Runs when the session's thread ends: nothing here.
    virtual void OnEnd() {}

    // Tells the consoles how the session is doing (session status, 75) with `text` made safe
    // as descriptions are.
    void ReportStatus(std::string_view text);

    // --- Machine ------------------------------------------------------------------------
    // Gives this session's place on its client machine to `successor`, a session made on this
    // session's client connection and not started yet (CMachine::HandOver): the successor is
    // admitted with the machine's user and level and a number of its own, this session's
    // traffic is booked and it ends with `code`. The successor shares this session's place
    // among its service's live sessions. FALSE (the machine unchanged) when this session no
    // longer belongs to a machine or is already ending.
    BOOL HandOverTo(CSession& successor, int code);
    // Logs `userName` on to the session's machine with `level` (CMachine::LogOn) and takes the
    // machine's user and level. FALSE when the session belongs to no machine.
    BOOL LogOnToMachine(const std::string& userName, int level);

    // --- Access decision ----------------------------------------------------------------
    std::string GetUserName() const override;
    int GetLogonLevel() const override;
    std::string GetClientAddress() const override;
    // The engine's user database and default rights.
    CAccessContext& GetAccessContext() const override;

    // The access right's decision for this session; FALSE also when no right is set or the
    // decision throws. Nothing else happens.
    BOOL IsAccessGranted(BOOL skipRequestTest);
    // Asks the access right. Refused (also when no right is set, or the decision throws):
    // SendAccessDenied, the failed-authorisation lines with the description, Terminate(1),
    // FALSE. `skipRequestTest`: TRUE at the start, before any request is known.
    BOOL CheckAccess(BOOL skipRequestTest);

    // --- Logs ---------------------------------------------------------------------------
    // The audit line for the session's user (engine/LogWriters.h): only for a user in the
    // database with AuditUser set, the bit in its AuditOptions and its audit file open (looked
    // up under the user database's lock; nothing is looked up while no audit file is open).
    void WriteAudit(DWORD eventBit, const char* format, ...) NV_PRINTF_FORMAT(3, 4);
    // The service-log line for the session, with its copies of the service's log file and
    // LogOptions. A line not chosen costs one atomic load; the message is formatted only for
    // lines that show it.
    void WriteServiceLog(DWORD eventBit, const char* format, ...) NV_PRINTF_FORMAT(3, 4);
    // The end's four lines: audit Traffic and Terminated, service-log Traffic and Terminated
    // ("exit code %u" with the code, -1 written 4294967295), each only when chosen. The user's
    // audit choices are looked up once for both audit lines.
    void LogEnd(int code);

    // --- Idle time-out ------------------------------------------------------------------
    // Stores both and arms the deadline.
    void SetSessionTimeout(BOOL enabled, DWORD seconds);
    // Deadline = now + the time-out. Callable from any thread.
    void ResetIdleTimer();
    // Terminate(2) when HasIdleExpired.
    void CheckIdleTimeout();
    // Whether the time-out is enabled and its deadline has passed with no traffic since the
    // last check (traffic moves the deadline instead).
    bool HasIdleExpired();
    BOOL GetTimeoutEnabled() const { return m_idleEnabled.load(); }
    DWORD GetTimeoutSeconds() const { return m_idleSeconds.load(); }

    // --- State --------------------------------------------------------------------------
    DWORD GetSessionId() const { return m_sessionId.load(); }
    std::time_t GetStartTime() const;
    // Whole seconds since the session was made.
    DWORD GetSecondsConnected() const;
    UINT GetClientPort() const;
    void SetClientAddress(const std::string& address, UINT port);
    BOOL HasRemoteSide() const { return m_hasRemoteSide; }
    int GetTerminateCount() const { return m_terminateCount.load(); }
    // Whether EndSession has run.
    bool HasSessionEnded() const { return m_ended.load(); }
    // Whether the session is ending: Terminate was called (by any thread), or it has ended.
    bool IsEnding() const { return GetTerminateCount() != 0 || HasSessionEnded(); }
    // The client machine the session belongs to (empty before admission and after it left).
    CRef<CMachine> GetMachine() const;
    DWORD GetNonProxyRequestAction() const;
    std::string GetNonProxyRequestHost() const;
    DWORD GetNonProxyRequestPort() const;
    DWORD GetLogOptions() const;
    CLogFileRef GetServiceLogFile() const;

    // Archive form (the console's activity view): session id, start time (4-byte seconds),
    // description, client address, client port.
    void Serialize(CArchive& ar) override;

    // --- Clock --------------------------------------------------------------------------
    // The millisecond clock of idle deadlines: GetTickCount64 unless a test installed another.
    using TickSource = std::uint64_t (*)();
    static void SetTickSource(TickSource source);
    static std::uint64_t Now();

    // The next number of the process-wide counter (never 0).
    static DWORD NextSessionId();

protected:
    void SetHasRemoteSide(BOOL flag) { m_hasRemoteSide = flag; }
    // A number that changes whenever the session's sockets move bytes: by default the sum of
    // the four counters. A protocol session with sockets of its own adds theirs.
    virtual std::uint64_t GetActivityCount() const;
    // Whether the session was admitted by a hand-over (HandOverTo) rather than by the engine.
    bool WasHandedOver() const { return m_handedOver.load(); }

private:
    friend class CMachine;
    struct LogLine;

    // Takes the session's texts for `count` lines with one hold of its lock, then makes and
    // posts their entries in that order (a service-log line only if still chosen then).
    void PostLogLines(const LogLine* lines, std::size_t count, const LogTraffic& traffic);
    // One line of that form (to `*auditFile`, or with a null one to the service log) with
    // the caller's message.
    void PostLogLineV(const LogFormat::LogLineForm& form, const CLogFileRef* auditFile,
                      const char* format, va_list args) NV_PRINTF_FORMAT(4, 0);
    // The traffic counters as the traffic lines show them.
    LogTraffic GetLogTraffic() const;

    // Machine side of admission and ending; called by CMachine under its lock.
    void AttachToMachine(CMachine* machine, const std::string& userName, int level);
    void DetachFromMachine();
    // Counts a Terminate; true for the first.
    bool CountTerminate();
    // Runs EndSession(code) unless it has run.
    void EndOnce(int code);
    // The user and level after a console log-on from the session's machine.
    void SetUser(const std::string& userName, int level);

    mutable std::mutex m_mutex;  // leaf
    std::atomic<DWORD> m_sessionId{0};
    std::time_t m_startTime;
    const std::uint64_t m_startTick;
    std::string m_description;
    std::string m_clientAddress;
    UINT m_clientPort = 0;
    std::string m_userName;
    int m_logonLevel = 0;
    CRef<CMachine> m_machine;

    std::atomic<BOOL> m_idleEnabled{FALSE};
    std::atomic<DWORD> m_idleSeconds{0};
    std::atomic<std::uint64_t> m_idleDeadline{0};
    std::atomic<std::uint64_t> m_lastActivity{0};

    std::atomic<int> m_terminateCount{0};
    std::atomic<bool> m_ended{false};
    std::atomic<bool> m_handedOver{false};
    BOOL m_hasRemoteSide = FALSE;

    DWORD m_nonProxyAction = 0;
    std::string m_nonProxyHost;
    DWORD m_nonProxyPort = 0;
    CRef<CObject> m_serviceRef;
    std::shared_ptr<void> m_aliveLease;
    CRef<CObject> m_rightOwner;
    CRight* m_accessRight = nullptr;
    DWORD m_logOptions = 0;
    CLogFileRef m_logFile;
    // m_logOptions while there is a log file, else 0: lets a writer skip an unchosen line
    // without the lock. The lock's pair decides.
    std::atomic<DWORD> m_serviceLogBits{0};

    static std::atomic<DWORD> s_lastSessionId;
    static std::atomic<TickSource> s_tickSource;
};
