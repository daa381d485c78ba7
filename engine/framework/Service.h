#pragma once
// CService: one configured proxy listener. It holds what every service shares (name, port,
// interface, the settings its sessions inherit, three rights and a log file), saves and loads
// them under its registry key and exchanges them with the console in its archive form
// (engine/framework/FrameworkFormat.h gives both layouts). CTCPService and CUDPService make a
// listener of it; the base's start and stop operations do nothing.
//
// Ownership. A service is shared between threads: the service manager's map holds one
// reference, every session started from it holds one (a session uses its service's access
// right and log settings for its whole life), and a UDP service's thread holds one while it
// runs. StopAndDelete stops the service and gives up its caller's reference (the map's): the
// object goes with its last holder, so replacing or deleting a service never frees it under
// a live session. A service is therefore always made with new.
//
// Locking. The settings are guarded by the service's settings mutex (re-entrant): a console's
// change (Serialize loading into the live object) and the accept callback, the sessions and
// the console's reads may run on different threads. Accessors copy under it. Start and Stop
// are serialised by a second mutex of their own; the accept callback takes neither of them
// across a close, so stopping never waits for a callback that waits for the stopper.
// Lock order: settings mutex, then a right's own mutexes.
//
// Ceilings. Each session of a service holds a place among the service's live sessions (within
// its ceiling and its client address's share of it) and, unless the service's sessions stay
// outside it, among the engine's (engine/framework/SessionCeiling.h); TakeSessionPlace takes
// both before a session is made. A service in the engine's ceiling takes half of it at most,
// so a flood on one service leaves the others room.

#include "engine/LogFile.h"
#include "engine/access/Right.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/OutboundTargetGuard.h"
#include "engine/framework/SessionCeiling.h"
#include "foundation/Format.h"
#include "foundation/X1Socket.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Thread.h"
#include "platform/kernel/Types.h"

#include <array>
#include <atomic>
#include <cstdarg>
#include <memory>
#include <string>

class CArchive;

class CService : public CObject, public CThread {
    DECLARE_SERIAL(CService)
public:
    // Running states (not saved).
    static constexpr int kStopped = 0;
    static constexpr int kRunning = 1;
    static constexpr int kStartFailed = 2;

    // The settings every service has, with the constructor's defaults.
    struct Settings {
        std::string name;
        std::string description;
        DWORD portNumber = 0;
        BOOL specifiedInterfaceAddress = FALSE;
        std::string interfaceAddress = "0.0.0.0";
        BOOL enabled = TRUE;
        BOOL criticalService = FALSE;
        BOOL timeOutSessions = TRUE;
        DWORD sessionTimeout = 60;
        BOOL limitSessions = FALSE;
        DWORD sessionLimit = 5;
        DWORD nonProxyRequestAction = 0;
        std::string nonProxyRequestHost;
        DWORD nonProxyRequestPort = 0;
        BOOL loggingEnabled = TRUE;
        DWORD logOptions = 219;
        BOOL restartRequested = FALSE;
    };

    CService();
    CService(UINT port, std::string name, std::string description, BOOL critical);
    ~CService() override;
    CService(const CService&) = delete;
    CService& operator=(const CService&) = delete;

    // --- Virtual operations -------------------------------------------------------------
    // StartIfEnabled: Start when Enabled (a UDP service starts its thread). StopAndDelete:
    // Stop (a UDP service ends its thread), then give up the caller's reference.
    virtual void StartIfEnabled();
    virtual void StopAndDelete();
    virtual void Start();
    virtual void Stop();
    // Stop, Start, clear the restart-requested flag, then "Service restarted" (bit 64).
    virtual void Restart();
    virtual std::string GetName() const;
    virtual void SetName(const std::string& name);
    virtual std::string GetDescription() const;
    virtual void SetDescription(const std::string& description);
    virtual BOOL HasExtraSettingsPage() const { return TRUE; }
    virtual BOOL HasMappings() const { return FALSE; }
    // Whether the console offers the non-proxy-request settings for the service.
    virtual BOOL HasNonProxyRequestOption() const { return TRUE; }
    // Writes the values of the registry table (ServiceType first) and the three rights under
    // their sub-keys. TRUE when everything was stored.
    virtual BOOL SaveToRegistry(const std::string& keyPath) const;
    // Reads the table's values with their load defaults and the three rights, then gives the
    // rights their fixed kinds and descriptions.
    virtual void LoadFromRegistry(const std::string& keyPath);
    // The archive form. Loading reads the whole record aside and changes the service only
    // when all of it was read (a console's change of a live service).
    void Serialize(CArchive& ar) override;

    // --- Settings -----------------------------------------------------------------------
    Settings GetSettings() const;
    void SetSettings(const Settings& settings);
    DWORD GetPortNumber() const;
    void SetPortNumber(DWORD port);
    void SetInterfaceAddress(BOOL specified, const std::string& address);
    // The address the service's sockets bind to: InterfaceAddress when
    // SpecifiedInterfaceAddress is set, else empty (every interface).
    std::string GetBindAddress() const;
    BOOL GetEnabled() const;
    void SetEnabled(BOOL enabled);
    BOOL GetCriticalService() const;
    void SetCriticalService(BOOL critical);
    void SetSessionTimeout(BOOL timeOutSessions, DWORD seconds);
    void SetLogging(BOOL enabled, DWORD options);
    void SetNonProxyRequest(DWORD action, const std::string& host, DWORD port);
    BOOL GetRestartRequested() const;
    void SetRestartRequested(BOOL requested);

    int GetServiceKind() const { return m_serviceKind; }
    int GetRunState() const { return m_runState.load(); }
    // The engine's services set their state as they start and stop; a console's copy takes
    // the state the engine reports.
    void SetRunState(int state) { m_runState = state; }

    // The three rights. They live as long as the service; a holder of a pointer to one holds
    // a reference to the service.
    CRight& GetAccessRights() { return m_accessRights; }
    CRight& GetStartStopRights() { return m_startStopRights; }
    CRight& GetEditRights() { return m_editRights; }
    // The three in their order: access, start/stop, edit.
    std::array<CRight*, 3> GetRights() { return {&m_accessRights, &m_startStopRights, &m_editRights}; }

    // --- Ceilings -----------------------------------------------------------------------
    // The service's ceiling on its live sessions: its bound (TCP services kMaxLiveSessions,
    // UDP services kMaxUDPSessions), but, when UsesEngineCeiling, at most half the engine's
    // ceiling, fitted each time the service starts (FitSessionCeiling).
    CSessionCeiling& GetSessionCeiling() { return m_sessionCeiling; }
    void FitSessionCeiling();
    // A place for a new session of the client at `address` (IPv4, host order) under the
    // service's ceiling and the address's share of it, and under the engine's when
    // UsesEngineCeiling: the lease the session holds while it lives, or null when refused. The
    // first refusal of a ceiling reached writes its line to the service's log (an error line)
    // and to the event log.
    std::shared_ptr<void> TakeSessionPlace(DWORD address);
    // Whether the service's sessions count against the engine's ceiling: those of every
    // service but the remote-control service (a console always gets in) here.
    virtual bool UsesEngineCeiling() const;

    // --- Log ----------------------------------------------------------------------------
    // Opens "<LogFileDirectory>/<name>.log" (after dropping the file open before) when
    // LoggingEnabled; a file that cannot be opened turns LoggingEnabled off.
    void OpenLogFile();
    CLogFileRef GetLogFile() const;
    // The service log's line for bits 1, 64 and 128 when the log file is open and the bit is
    // in LogOptions; nothing otherwise.
    void WriteLog(DWORD eventBit, const char* format, ...) NV_PRINTF_FORMAT(3, 4);

protected:
    // The thread's end gives up the thread's reference (UDP services).
    void Delete() override { Release(); }

    void SetServiceKind(int kind) { m_serviceKind = kind; }
    // The bound of the service's ceiling (and the ceiling itself until FitSessionCeiling).
    void SetSessionCeilingBound(std::size_t bound);
    // Binds the service's socket to its port on its interface (every interface unless
    // SpecifiedInterfaceAddress); a port outside 1-65535 throws X1SocketException(10022).
    void BindServiceSocket();
    // Registers `port` with the engine's outbound target guard as one this engine listens on,
    // until ForgetListeningPort (or the service goes).
    void RememberListeningPort(UINT port, OutboundTransport transport);
    void ForgetListeningPort();
    // The stop of a listening service: under the start/stop guard, close the socket, give
    // its port up, state 0, "Service stopped" (bit 64).
    void StopListening();

    // The base's archive record, for derived classes whose loads append fields: read the
    // whole record (the base's and their own) first, then apply it, so a record cut short
    // changes nothing.
    struct Record {
        Settings settings;
        CRight accessRights;
        CRight startStopRights;
        CRight editRights;
    };
    void StoreRecord(CArchive& ar);
    std::unique_ptr<Record> ReadRecord(CArchive& ar) const;
    void ApplyRecord(Record& record);

    // Settings guard (see the top of this file) and the start/stop guard.
    CMutex& SettingsMutex() const { return m_settingsMutex; }
    CMutex& RunMutex() const { return m_runMutex; }

    // The service's socket: listening stream socket or datagram socket.
    X1Socket m_socket;

private:
    void ApplyRightIdentities();
    // The log line and event of a refused place (`engine`: the engine's ceiling refused it).
    void ReportRefusal(const CSessionCeiling::STaken& taken, DWORD address, bool engine);

    mutable CMutex m_settingsMutex;
    mutable CMutex m_runMutex;
    Settings m_settings;
    CRight m_accessRights;
    CRight m_startStopRights;
    CRight m_editRights;
    CLogFileRef m_logFile;
    int m_serviceKind = 0;
    std::atomic<int> m_runState{kStopped};
    UINT m_listeningPort = 0;
    OutboundTransport m_listeningTransport = OutboundTransport::Tcp;
    std::size_t m_sessionCeilingBound = FrameworkFormat::kMaxLiveSessions;
    CSessionCeiling m_sessionCeiling{FrameworkFormat::kMaxLiveSessions};
};
