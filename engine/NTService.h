#pragma once
// CNTService: the service wrapper. One object per process, reachable through m_pThis because
// the service main function and the control handler are plain functions without a receiver.
//
// From the command line it carries out one switch (install, uninstall, start, stop, clean,
// version) and reports how that went through ExitStatus(). Without a switch the program calls
// StartService(), which blocks in the control dispatcher: the dispatcher runs ServiceMain on
// the service thread (Initialize, then the virtual Run) and calls Handler on the main thread
// for each control. Derived classes supply Run and the On* operations.

#include "platform/kernel/Types.h"
#include "platform/service/EventLog.h"
#include "platform/service/ServiceTypes.h"

#include <atomic>
#include <mutex>
#include <string>

class CNTService {
public:
    CNTService(const char* serviceName, const char* displayName);
    virtual ~CNTService();
    CNTService(const CNTService&) = delete;
    CNTService& operator=(const CNTService&) = delete;

    // The operations a derived class overrides, in the system's slot order after the
    // destructor. The base versions trace and do nothing else.
    virtual void Run();
    virtual BOOL OnInit();
    virtual void OnStop();
    virtual void OnInterrogate();
    virtual void OnPause();
    virtual void OnContinue();
    virtual void OnShutdown();
    virtual BOOL OnUserControl(DWORD control);

    // Carries out the switch in argv[1]: TRUE when there was one (the program then ends with
    // ExitStatus()), FALSE when there is no argument (run as a service).
    BOOL ParseStandardArgs(int argc, char** argv);

    BOOL IsInstalled();
    // Creates the service record and the event source key, and reports event 0. FALSE with
    // the error in GetLastError() when either could not be made; InstalledWithoutEventSource()
    // then tells whether the service record exists nevertheless.
    BOOL Install();
    // Deletes the service record and the event source key; reports event 1 or 2.
    BOOL Uninstall();
    bool InstalledWithoutEventSource() const { return m_bInstalledWithoutEventSource; }

    // Reports an event under the service's name (registering the source on first use). The
    // strings are insertion strings, never formats.
    void LogEvent(WORD type, DWORD eventId, const char* string1 = nullptr,
                  const char* string2 = nullptr, const char* string3 = nullptr);

    // Blocks in the control dispatcher until the service has stopped. FALSE (error in
    // GetLastError()) when the program was not started by the service control manager.
    BOOL StartService();

    // Writes "[<service name>](<thread id>): " and the formatted text to the debug trace.
    // `format` is always one of this program's own literals.
    void DebugMsg(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // The process exit status: after a switch 0 when it did what it was asked, 1 when it
    // failed, 2 for an unknown switch; after running as a service 0, or 1 when the status
    // record holds an exit code.
    int ExitStatus() const;

    const std::string& ServiceName() const { return m_szServiceName; }
    const std::string& DisplayName() const { return m_szDisplayName; }
    SERVICE_STATUS Status() const;
    bool IsRunning() const { return m_bIsRunning.load(); }

    static CNTService* m_pThis;

protected:
    // The service main function and control handler the dispatcher calls.
    static void ServiceMain(DWORD argc, char** argv);
    static void Handler(DWORD control);

    // Writes the event source key of Install: EventMessageFile and TypesSupported below
    // SYSTEM\CurrentControlSet\Services\EventLog\Application\<service name>.
    virtual LONG RegisterEventSourceKey(const std::string& program);

    BOOL Initialize();
    void SetStatus(DWORD state);
    // Sends the status record as it is now.
    void ReportStatus();
    void SetAcceptedControls(DWORD accepted);

    const std::string m_szServiceName;
    const std::string m_szDisplayName;
    SERVICE_STATUS_HANDLE m_hServiceStatus = 0;
    std::atomic<bool> m_bIsRunning{false};

private:
    // Carries out one switch; returns the exit status.
    int RunSwitch(const std::string& option);
    // Deletes the whole configuration below the product key (the -clean switch).
    bool DeleteConfiguration();

    mutable std::mutex m_statusMutex;  // the record is written by the service and main threads
    SERVICE_STATUS m_Status;
    std::mutex m_eventMutex;
    EVENTSOURCE_HANDLE m_hEventSource = nullptr;
    bool m_bInstalledWithoutEventSource = false;
    bool m_bSwitchHandled = false;
    int m_nSwitchStatus = 0;
};
