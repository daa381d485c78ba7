#pragma once
// The engine object: the one thread of the process that owns the configuration (user database,
// services, locations, dialer, web cache, the eleven default and system rights), the map of
// connected client machines, the list of consoles that receive notifications, and the log
// manager thread. Its thread loads the configuration, starts everything, and then runs a
// 2000 ms timer that ends idle sessions and saves the users' statistics. Other threads call
// its public operations: admission of sessions, user lookup, console notifications, dial on
// demand and shut-down. The console holds one object of this class too, never started, as the
// container of the configuration it fetched.
//
// Start-up (the engine thread's InitInstance), in this order: registry root; load the
// configuration; built-in accounts; the remote-control service; default rights; start the log
// manager; load the cache index; start the dialer; open each service's log and start it when
// enabled; open each audited user's audit file. An exception, or a shut-down that began, skips
// the rest of these; then the 2000 ms timer is set unless a shut-down began.
//
// Shut-down (ShutDown, from the service's stop handler or a console's request), in this order:
// new sessions are refused from the first moment; the start-up is waited for; the timer is
// killed; every client machine is deleted (ending its sessions); a 500 ms pause; the running
// services are stopped and deleted; the cache writes its index; the dialer hangs up every line;
// a 500 ms pause; the users' statistics are saved; users, groups and locations are deleted; the
// console list is emptied; the log manager is told to quit and waited for (bounded); the engine
// thread is told to quit and waited for (bounded). An exception abandons the remaining steps.
// A shut-down asked for with exitProcess then asks the process to end through the handler that
// its host installed (SetProcessExitHandler): the process never ends from inside a worker
// thread, so a console that asked for the shut-down still gets its reply. ShutDown runs once;
// a second call only waits for the first and adds its exit request.
//
// The process ends only after WaitForThreads: the threads entered in the thread roster
// (sessions, UDP services, dialer workers) get a bounded wait.
//
// Lock orders: machine map, then one machine, then the user database; the console list, then
// a console's outgoing queue; the dialer's own locks, then the machine map (dialer/Dialer.h).
// DeleteUser releases the user database before it takes the machine map.
//
// The steps of start-up and shut-down that belong to the parts (user database, services, web
// cache, dialer, ...) are protected virtual operations below, each calling its part; tests
// override them to record the order. Besides those:
//  - sessions and services reach the engine through Instance(); their log writers post to
//    Instance().GetLogManager() (engine/LogWriters.h);
//  - the engine is the sessions' access context (engine/access/AccessContext.h): a session's
//    GetAccessContext() answers Instance(), so that rights look users up in its database and
//    consult its default rights;
//  - every session thread and UDP service thread enters itself in GetThreadRoster() from its
//    InitInstance, so that the process waits for it (a console's shut-down reply included);
//  - the remote-control session (remote/RemoteControlSession.h) derives from IEngineConsole,
//    registers with RegisterConsole and unregisters before it goes;
//  - RegisterSession refuses every session once a shut-down has begun: it terminates the
//    session (code 1) and answers FALSE;
//  - deleting a client machine (RemoveMachine, DeleteUser, the shut-down) removes it from the
//    map and ends it (CMachine::Close) under the map's lock; the object goes with its last
//    reference (its sessions hold one each while they end).

#include "dialer/Dialer.h"
#include "engine/EngineConsole.h"
#include "engine/EngineLifecycle.h"
#include "engine/EngineFormat.h"
#include "engine/LogManager.h"
#include "engine/ThreadRoster.h"
#include "engine/access/AccessContext.h"
#include "engine/access/GroupMemberDatabase.h"
#include "engine/access/LocationArray.h"
#include "engine/access/Right.h"
#include "engine/framework/ServiceManager.h"
#include "engine/framework/SessionCeiling.h"
#include "foundation/MachineMap.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Thread.h"
#include "platform/kernel/Types.h"
#include "proxies/web/WWWCache.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CFilterComponent;
class CNVRCPMessage;
class CSession;
class X1SocketOwnerWait;

class CNorvaneEngine : public CThread, public IEngineLifecycle, public CAccessContext {
public:
    // The engine of a process: its machine map and service manager are live.
    CNorvaneEngine();
    // A copy of an engine's configuration that is never started (the console's): its machine
    // map, service manager, cache and dialer hold plain records, which may be emptied and
    // replaced freely, and nothing in it tells any console of its changes.
    struct InertCopy {};
    explicit CNorvaneEngine(InertCopy);
    // Stops a thread still running (without the shut-down's steps) and waits for it. A class
    // derived from this one stops the thread in its own destructor (ShutDown), since the
    // thread calls its overrides.
    ~CNorvaneEngine() override;

    // The engine of this process: the object its program made (SetInstance), or one made on
    // first use that lives until the process ends.
    static CNorvaneEngine& Instance();
    // Makes `engine` the process's engine (null: back to the default one). Programs and tests
    // call it before any thread uses Instance.
    static void SetInstance(CNorvaneEngine* engine);

    // --- Lifecycle ---------------------------------------------------------------------------
    // Starts the engine thread and returns. FALSE when the thread could not be created (then
    // no engine runs, and the caller reports it). Called once.
    BOOL Initialize() override;
    // The shut-down of the header comment. `exitProcess`: afterwards ask the process to end.
    void ShutDown(BOOL exitProcess) override;
    // What ShutDown(TRUE) calls to end the process; the service host installs one that stops
    // the service, so that main returns. Without one, ShutDown(TRUE) ends nothing.
    void SetProcessExitHandler(std::function<void()> handler);
    // Waits, at most `timeoutMs` in all, for the roster's threads (other than the calling
    // one) to end; returns how many still run. The host calls it before the process ends.
    std::size_t WaitForThreads(DWORD timeoutMs = EngineFormat::kWorkerThreadsWaitMs);
    bool IsShuttingDown() const { return m_shuttingDown.load(); }

    // --- Configuration -----------------------------------------------------------------------
    // Loads every configuration object from its key, in order; the first failure skips the
    // rest.
    void LoadConfiguration();
    // Saves every configuration object. A failed user-database save sends the first alert and
    // the save goes on; any other failure stops the save and sends the second alert. TRUE
    // when everything was saved.
    BOOL SaveConfiguration();
    // Gives each right whose description is empty its kind, description and recipient.
    void CreateDefaultRights();
    // Saves the users' statistics values below "UserDatabase".
    BOOL SaveUserDatabase();
    // A console's reload of the running engine: the users' statistics are saved first (they
    // would be lost with the users read back); then the user database, services, locations,
    // cache settings and rights are read from the store into fresh objects aside. Only when
    // every part was read do they take the live objects' place: the built-in accounts and
    // default rights are made as at start-up, the running services are stopped and the
    // loaded ones started (the remote-control service ensured), and the audit files opened.
    // The cache keeps its entries and folder. The dialer's settings are replaced as its own
    // load does (dialer/Dialer.h): its profiles by name, a line staying up under a profile that
    // stays. A part that cannot be read throws, with nothing changed.
    void ReloadConfiguration();

    // --- Machines and users ------------------------------------------------------------------
    // Admission of a new session to its client machine (CMachine::Admit). Once a shut-down has
    // begun the session is refused: it is terminated (code 1) and FALSE returned.
    BOOL RegisterSession(CSession* session);
    // Under the machine-map lock, removes the machine of that address from the map; the
    // map's reference is given up after the lock (deleting the machine, which ends its
    // sessions, unless a walk still holds it). An unknown address does nothing.
    void RemoveMachine(const std::string& addressText);
    // Removes the user of that name from the user database, then every client machine whose
    // user it was. A name that is not a user changes nothing.
    void DeleteUser(const std::string& name);
    // The user database's entry of that name if it is a user (wantGroup FALSE) or a group
    // (TRUE), else null. Use the pointer only while holding the user database's lock.
    virtual CFilterComponent* FindUser(const std::string& name, BOOL wantGroup);

    // --- Consoles ----------------------------------------------------------------------------
    // Appends a console that is not yet listed / removes it if listed.
    void RegisterConsole(IEngineConsole* console);
    void UnregisterConsole(IEngineConsole* console);
    std::size_t GetConsoleCount() const;
    // Queues the message on every listed console; a console that fails does not keep the
    // others from getting it.
    void NotifyConsoles(WORD op, const std::string& text1, const std::string& text2,
                        const std::string& text3);
    // A console's change echoed to every listed console, the sender included: the message's
    // own operation code and three texts.
    void NotifyConsolesMessage(const CNVRCPMessage& message);
    // The same for the listed consoles whose own client address is `addressText`.
    void SendToMachineConsoles(const std::string& addressText, WORD op, const std::string& text1,
                               const std::string& text2, const std::string& text3);
    void NotifyMachineAdded(const std::string& address, const std::string& user, DWORD level);
    void NotifyMachineChanged(const std::string& address, const std::string& user, DWORD level);
    void NotifyMachineRemoved(const std::string& address, DWORD secondsConnected);
    void NotifySessionStarted(const std::string& address, DWORD sessionId,
                              const std::string& description);
    void NotifySessionStatus(const std::string& address, DWORD sessionId, const std::string& text);
    void NotifySessionEnded(const std::string& address, DWORD sessionId, DWORD clientSent,
                            DWORD clientReceived, DWORD remoteSent, DWORD remoteReceived);
    void NotifyDialerStatus(const std::string& profile, DWORD state, const std::string& text);
    void NotifyAlert(const std::string& caption, const std::string& text);

    // --- Ceilings and events -----------------------------------------------------------------
    // The ceiling on the live sessions of all services together (but the remote-control
    // service's): unbounded until the program sets it from its descriptor limit
    // (SessionCeilingForDescriptors).
    CSessionCeiling& GetSessionCeiling() { return m_sessionCeiling; }
    // Where events for the event log go: the service host installs a reporter; without one
    // they go nowhere. ReportEvent is callable from any thread.
    void SetEventReporter(std::function<void(WORD type, const std::string& text)> reporter);
    void ReportEvent(WORD type, const std::string& text);

    // --- Dial on demand ----------------------------------------------------------------------
    // Asks the dialer whether `session` may connect out now. Returns when it may; throws a new
    // X1SocketException (code and text of the dialer's) when it may not. Any other failure
    // of the dialer is dropped: the caller connects as if no dial were needed.
    void CheckDialFirst(CSession* session);

    // --- Parts -------------------------------------------------------------------------------
    CMachineMap& GetMachineMap() { return m_machines; }
    // The user database, where sessions' access decisions look users and groups up.
    CGroupMemberDatabase& GetUserDatabase() override { return m_users; }
    // The right of kind 0-10 (engine/access/Right.h): the three default rights, then the
    // system rights that guard the console's requests; null for any other kind.
    CRight* GetRight(DWORD kind);
    // The default right of kind 0-2 that a service's right of that kind consults first; null
    // for the system rights and any other kind.
    CRight* GetDefaultRight(DWORD kind) override;
    CLocationArray& GetLocations() { return m_locations; }
    CServiceManager& GetServiceManager() { return m_services; }
    // The web cache: web sessions look entries up and store downloads in it; consoles read
    // and replace its settings and purge it. Live once start-up has loaded its index.
    CWWWCache& GetCache() { return m_cache; }
    CLogManager& GetLogManager() { return m_logManager; }
    // The dial-up manager: its profiles and settings, dial on demand, the dialer thread.
    CDialer& GetDialer() { return m_dialer; }
    CThreadRoster& GetThreadRoster() { return m_threads; }
    DWORD GetTimerId() const { return m_timerId.load(); }
    // Timer ticks counted so far.
    std::uint64_t GetTimerTicks() const { return m_ticks.load(); }

protected:
    bool InitInstance() override;
    int ExitInstance() override;
    void OnThreadMessage(const ThreadMessage& msg) override;
    // A message handler's failure is dropped (library exceptions freed) and the loop goes on.
    void OnMessageException() override;

    // WM_TIMER: ignored unless `timerId` is the engine's timer. Walks every machine's idle
    // check under the machine-map lock, lets the log-on throttle forget quiet addresses, then
    // saves the users' statistics on the first tick and every 60th after it.
    virtual void OnTimer(DWORD timerId);
    // WM_USER + 11: the dialer hangs up every line, its thread is waited for (bounded), a
    // 3000 ms pause, then the dialer thread starts again. Failures are dropped.
    virtual void RestartDialer();

    // Steps of start-up and shut-down with the classes that exist.
    virtual void SelectRegistryRoot();  // "Urvo Software", "Norvane 2"
    virtual void StartLogManager();
    virtual void SetEngineTimer();
    virtual void KillEngineTimer();
    virtual void DeleteMachines();
    virtual void DeleteLocations();
    virtual void ClearConsoles();
    virtual void StopLogManager();
    virtual void StopEngineThread();
    virtual void RequestProcessExit();
    virtual void Pause(DWORD ms);

    // Loads / saves one configuration object from / under `key`. A save answers FALSE (or
    // throws) when it failed.
    virtual void LoadPart(EngineFormat::EnginePart part, const std::string& key);
    virtual BOOL SavePart(EngineFormat::EnginePart part, const std::string& key);
    // The rights (CRight, kinds 0-10): load / save one right, read its description, and make
    // it the default right (set kind and description, add the recipient: the default one
    // when `recipientGroup` is null, else an unrestricted recipient naming that group). A
    // loaded right takes the kind of its place, whatever its stored RightType says, so that a
    // system right never consults a default right.
    virtual void LoadRight(int kind, const std::string& key);
    virtual BOOL SaveRight(int kind, const std::string& key);
    virtual std::string GetRightDescription(int kind);
    virtual void MakeDefaultRight(int kind, const std::string& description,
                                  const char* recipientGroup);

    // Steps of the user database (CGroupMemberDatabase).
    virtual void CreateBuiltInAccounts();     // CreateBuiltInAccounts()
    virtual void OpenAuditFiles();            // OpenAuditFile() of every CUser
    virtual BOOL SaveUserStatistics();        // SaveStatistics("UserDatabase")
    virtual void DeleteUsersAndGroups();      // RemoveAll()
    // Under the database lock: if FindUser(name, FALSE) finds a user, DeleteEntry(name);
    // TRUE when a user was removed.
    virtual BOOL RemoveUser(const std::string& name);

    // Steps of the services (CServiceManager).
    virtual void EnsureRemoteControlService();  // EnsureRemoteControlService()
    virtual void StartServices();               // each: OpenLogFile(), StartIfEnabled()
    virtual void StopAndDeleteServices();       // StopAndDelete() of every one; empty map

    // Steps of the web cache (CWWWCache).
    virtual void LoadCacheIndex();  // MarkLive(), LoadIndex()
    virtual void CloseCache();      // Close(), which writes the index

    // Steps of the dialer (CDialer).
    virtual void StartDialer();                   // Start()
    virtual void HangUpDialer();                  // HangUpAll(), which ends the dialer thread
    virtual BOOL WaitForDialer(DWORD timeoutMs);  // WaitForThread(): TRUE when it has ended
    virtual void DialOnDemand(CSession* session);  // CheckDialFirst(session)

    // The admission algorithm (CMachine::Admit). Answers whether the session was admitted.
    virtual BOOL AdmitSession(CSession* session);

private:
    // The shut-down's steps 2-12, stopping at the first exception.
    void RunShutDownSteps();
    // Removes from the map, under its lock, the machines `pick` selects; returns them with
    // the map's reference each (the caller releases them after the lock).
    template <class Pick>
    std::vector<CMachineBase*> TakeMachines(Pick pick);
    static void ReleaseMachines(const std::vector<CMachineBase*>& machines);

    CMachineMap m_machines;
    mutable std::mutex m_consolesMutex;
    std::vector<IEngineConsole*> m_consoles;
    CGroupMemberDatabase m_users;
    CLocationArray m_locations;
    CServiceManager m_services;
    CWWWCache m_cache;
    CLogManager m_logManager;
    // After the log manager: the dialer's thread writes its last line as it ends.
    CDialer m_dialer;
    CRight m_rights[EngineFormat::kRightCount];
    CThreadRoster m_threads;
    std::atomic<DWORD> m_timerId{0};
    std::atomic<std::uint64_t> m_ticks{0};

    std::atomic<bool> m_shuttingDown{false};
    std::mutex m_shutDownMutex;  // held for a whole ShutDown
    bool m_shutDownDone = false;
    CEvent m_startUpDone{true, false};
    // The engine thread waits for its listeners' events itself (from InitInstance to
    // ExitInstance), so an accept costs no hand-over from the dispatcher thread.
    std::unique_ptr<X1SocketOwnerWait> m_ownerWait;
    std::mutex m_exitMutex;
    std::function<void()> m_exitHandler;
    CSessionCeiling m_sessionCeiling;
    std::mutex m_eventMutex;  // leaf; guards the reporter (which the host makes thread-safe)
    std::function<void(WORD, const std::string&)> m_eventReporter;
};
