#pragma once
// The dial-up manager: one object, a member of the engine. It keeps the dialer profiles
// (dialer/DialerProfile.h) by Name, decides for every outbound connection whether the outside
// line must be dialled first (CheckDialFirst), watches connected lines and hangs them up when
// idle, dials and hangs up on a console's request, and keeps "Dialer.log". Its settings live in
// the registry key "Dialer" and travel to and from consoles as one archive image (requests
// 60-62); dialer/DialerFormat.h gives both forms.
//
// The dialer thread. Start runs it; HangUpAll (the engine's shut-down and dialer restart)
// hangs up every line the engine dialled and ends it; the engine restarts it on WM_USER + 11,
// which the dialer posts to the engine thread after the dial-up errors 614, 622 and 625 and
// after more than 20 exceptions of its loop in one second. At its start the thread loads the
// dial-up library (platform/ras/RasLibrary.h; a library is never unloaded) and dials only
// when all eleven entry points were found: without them every CheckDialFirst lets the
// connection go ahead undialled. The thread then runs a one-second timer (the idle checks of
// the lines on line, every TimerInterval-th tick; TimerInterval 0 checks nothing), the
// events of the dial in progress (the library's notifier posts them to this thread) and the
// consoles' dial and hang-up requests (message 0x43F). Restarts keep the profiles and every
// setting; the dialer can dial only while its thread runs.
//
// Dial on demand (CheckDialFirst, on the session's thread): no dial for a session whose
// destination contains a local site, or when no profile has AutoConnect set; none either when
// a profile whose access right grants the session is on line. Otherwise the first profile in
// name order that grants the session and has AutoConnect set is dialled on the calling
// thread; the connection goes ahead when it came on line. Refusals are X1SocketException
// (code 0) with kNoAccessText (no profile grants the session) or kFailedConnectionText (the
// line did not come up). Concurrent callers wait for a dial in progress, then find the line
// up.
//
// For the remote-control dispatcher (requests 60-63, rights checked by the caller):
//   60     RefreshPhonebook(), then the dialer's image (Serialize, storing);
//   61, 62 the image received into the dialer (Serialize, loading), then OpenLogFile();
//   63     RequestDialOrHangUp(profile, action), which does nothing while a dial is in
//          progress or for an unknown profile.
// A profile's status text: FindProfile(name)->GetStatusText().
//
// Loads (registry and archive) are transactional: everything is read aside and checked first;
// then profiles are replaced by name: a profile that stays keeps its line and status and takes
// the new settings, a new name adds a profile, and a profile no longer named is hung up and
// removed. A load with an unusable profile name (empty, ".", "..", '/', '\' or a control
// character, or two names equal but for letter case, which the store cannot keep apart) or an
// unusable local site (empty, or with a control character) changes nothing: the archive load
// fails with a generic archive exception, the registry load skips that profile or site.
//
// Locking. The profile map's own lock guards the map only, for short spans (never across a
// dial or a call of the dial-up library); profiles are shared and used through references
// outside it. Small leaf mutexes guard the lists, the log file and the published dial. A
// session in CheckDialFirst holds the on-demand mutex across its whole dial, which only
// CheckDialFirst takes: the dialer thread never waits for it, so it keeps handling the dial's
// events. Lock order: on-demand mutex, profile map, then (idle check) the machine map and one
// machine; none of the dialer's locks is held while a machine's is.

#include "dialer/DialerProfile.h"
#include "engine/LogFile.h"
#include "foundation/Format.h"
#include "foundation/LockableMap.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Thread.h"
#include "platform/kernel/Types.h"
#include "platform/ras/RasLibrary.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class CArchive;
class CSession;

class CDialer : public CObject {
    DECLARE_SERIAL(CDialer)
public:
    CDialer();
    // Stops a thread still running (hanging up its lines) and frees the profiles.
    ~CDialer() override;
    CDialer(const CDialer&) = delete;
    CDialer& operator=(const CDialer&) = delete;

    // --- Settings ---------------------------------------------------------------------------
    void Serialize(CArchive& ar) override;
    // TRUE when everything was stored. Profiles' keys that the map no longer names are
    // deleted first; the local sites are written afresh.
    BOOL SaveToRegistry(const std::string& keyPath) const;
    void LoadFromRegistry(const std::string& keyPath);

    DWORD GetLoggingEnabled() const { return m_loggingEnabled.load(); }
    void SetLoggingEnabled(DWORD flag) { m_loggingEnabled = flag; }
    DWORD GetLogOptions() const { return m_logOptions.load(); }
    void SetLogOptions(DWORD options) { m_logOptions = options; }
    DWORD GetTimerInterval() const { return m_timerInterval.load(); }
    void SetTimerInterval(DWORD ticks) { m_timerInterval = ticks; }
    DWORD GetRasdialTimeout() const { return m_rasdialTimeout.load(); }
    void SetRasdialTimeout(DWORD ms) { m_rasdialTimeout = ms; }
    DWORD GetUseSynchronousRasdial() const { return m_useSynchronous.load(); }
    void SetUseSynchronousRasdial(DWORD flag) { m_useSynchronous = flag; }
    std::vector<std::string> GetLocalSites() const;
    void SetLocalSites(std::vector<std::string> sites);
    // The dial-up library's phonebook entries, as the last RefreshPhonebook found them.
    std::vector<std::string> GetPhonebookEntries() const;
    // A name a profile may have: a key of the store (not empty, ".", "..", no '/', '\' or
    // control character, at most 255 characters). Loads refuse profiles named otherwise.
    static bool IsUsableProfileName(const std::string& name);
    // A local site the store can keep: not empty, no control character, at most 255
    // characters. Loads refuse sites otherwise.
    static bool IsUsableLocalSite(const std::string& site);

    // --- Profiles ---------------------------------------------------------------------------
    // The map (name -> CDialerProfile). Hold its lock (CScopedLock) while walking it.
    CLockableMap& GetProfileMap() { return m_profiles; }
    // Every profile, in name order.
    std::vector<CRef<CDialerProfile>> GetProfiles() const;
    CRef<CDialerProfile> FindProfile(const std::string& name) const;
    // Whether a profile is kept under `name` in any letter case (the store keeps keys that
    // differ only in case as one). Takes the map's lock.
    bool IsProfileNameTaken(const std::string& name) const;
    // Takes the caller's reference to `profile` and keeps it under its Name, giving up a
    // profile that had that name.
    void AddProfile(CDialerProfile* profile);
    // Removes the profile of that name and gives it up; FALSE when there is none.
    BOOL RemoveProfile(const std::string& name);
    // The profile a dial on demand for `session` would dial: the first in name order whose
    // access right grants the session (its request included) and whose AutoConnect is set.
    CRef<CDialerProfile> ChooseProfile(CSession& session) const;

    // --- Thread -----------------------------------------------------------------------------
    // Starts the dialer thread (after waiting for one that is still ending). FALSE when no
    // thread could be made.
    BOOL Start();
    // Stops dialling at once (a dial in progress gives up and hangs up), hangs up every line
    // a dial sequence brought up, and tells the thread to end. The profiles stay.
    void HangUpAll();
    // Waits for the thread to end; TRUE when it has (or never ran).
    BOOL WaitForThread(DWORD timeoutMs) const;
    // Whether the library is loaded and the thread runs, so that lines can be dialled.
    bool IsRasAvailable() const { return m_rasAvailable.load(); }
    bool IsDialInProgress() const { return m_dialInProgress.load(); }

    // --- Requests ---------------------------------------------------------------------------
    // Dial on demand for `session` (see the top). Null sessions and sessions while no line
    // can be dialled go ahead.
    void CheckDialFirst(CSession* session);
    // A console's request 63: action 1 dials the profile on a worker thread, 0 resets its
    // connection, on the dialer thread. FALSE (nothing done) while a dial is in progress, for
    // an unknown profile, or when the thread does not run.
    BOOL RequestDialOrHangUp(const std::string& profileName, DWORD action);
    // Reads the phonebook's entry names from the library (nothing while it is not loaded).
    void RefreshPhonebook();
    // (Re)opens "Dialer.log" in the service-log folder while LoggingEnabled is set; a file
    // that cannot be opened turns LoggingEnabled off.
    void OpenLogFile();
    // Appends a line of `type` (1 normal, 2 debug) when the log is open and `type` is in
    // LogOptions.
    void WriteLog(DWORD type, const char* format, ...) NV_PRINTF_FORMAT(3, 4);

private:
    friend class CDialerProfile;
    class CDialerThread;
    class CDialWorker;

    // The dial in progress, as the dial events find it.
    struct PublishedDial {
        std::uint32_t attempt = 0;  // 0: none
        CRef<CDialerProfile> profile;
        std::shared_ptr<CEvent> event;
        DWORD result = 0;  // the error of the event that ended it
    };

    // --- The thread's side (on the dialer thread)
    bool InitInstance();
    void ExitInstance();
    void OnMessage(const ThreadMessage& msg);
    void OnLoopException();
    void OnTimer();
    void OnDialEvent(std::uintptr_t wParam, std::intptr_t lParam);
    void DialOrHangUp(std::uintptr_t action, std::intptr_t request);
    bool LoadRasApi();

    // --- For the profiles
    const RasEntryPoints* Ras() const { return m_ras.load(); }
    // The library's connections, read afresh on every call (each caller gets its own list).
    std::vector<RASCONNA> EnumConnections();
    std::optional<RASCONNA> FindConnection(const std::string& entryName);
    std::string ErrorText(DWORD code) const;
    // The engine-wide dial-in-progress flag: TRUE when this call set it.
    bool BeginDial();
    void EndDial();
    // Makes `profile`'s attempt the one dial events apply to; returns its number, which the
    // notifier context carries.
    std::uint32_t PublishDial(CDialerProfile& profile, std::shared_ptr<CEvent> event);
    // Withdraws the attempt; returns the error of the event that ended it (0: none came).
    DWORD WithdrawDial(std::uint32_t attempt);
    // The notifier context of an attempt: the dialer thread's id and the attempt's number.
    void* NotifierContext(std::uint32_t attempt) const;
    static void OnRasNotify(void* context, HRASCONN connection, std::uint32_t state,
                            std::uint32_t error);
    // Sleeps `ms` unless the dialer is stopping; false when it is.
    bool PauseUnlessStopping(DWORD ms);
    bool IsStopping() const { return m_stopping.load(); }
    // Asks the engine thread to restart the dialer thread.
    void RequestRestart();

    // Replaces the profiles by name (see the top); returns those no longer named.
    std::vector<CRef<CDialerProfile>> ReplaceProfiles(
        std::vector<CRef<CDialerProfile>>& received, const std::vector<std::string>& keys);
    void DropProfiles(const std::vector<CRef<CDialerProfile>>& removed);
    CLogFileRef GetLogFile() const;

    CLockableMap m_profiles;
    mutable std::mutex m_listsMutex;  // leaf: the two lists
    std::vector<std::string> m_localSites;
    std::vector<std::string> m_phonebookEntries;
    std::atomic<DWORD> m_loggingEnabled;
    std::atomic<DWORD> m_logOptions;
    std::atomic<DWORD> m_timerInterval;
    std::atomic<DWORD> m_rasdialTimeout;
    std::atomic<DWORD> m_useSynchronous;
    mutable std::mutex m_logMutex;  // leaf
    CLogFileRef m_logFile;

    std::atomic<const RasEntryPoints*> m_ras{nullptr};
    std::atomic<bool> m_rasAvailable{false};
    std::atomic<bool> m_dialInProgress{false};
    std::atomic<bool> m_stopping{false};
    CEvent m_stopEvent{true, false};  // set while stopping: wakes a dial's pauses
    std::mutex m_demandMutex;         // held across one on-demand decision and its dial

    std::mutex m_dialMutex;  // leaf: the published dial
    PublishedDial m_published;
    std::uint32_t m_nextAttempt = 0;

    mutable std::mutex m_threadMutex;  // the thread object (Start, wait, stop)
    std::unique_ptr<CDialerThread> m_thread;
    std::atomic<DWORD> m_threadId{0};
    std::atomic<DWORD> m_timerId{0};
    DWORD m_ticks = 0;            // dialer thread only
    DWORD m_exceptionsThisSecond = 0;  // dialer thread only

    std::mutex m_requestsMutex;  // leaf: consoles' 0x43F requests on their way
    std::map<std::intptr_t, CRef<CDialerProfile>> m_requests;
    std::intptr_t m_nextRequest = 0;
};
