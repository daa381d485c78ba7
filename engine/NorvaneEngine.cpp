#include "engine/NorvaneEngine.h"

#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/Machine.h"
#include "engine/framework/Session.h"
#include "engine/framework/UserAccounts.h"
#include "foundation/Format.h"
#include "foundation/X1SocketException.h"
#include "foundation/X1SocketNotifyWindow.h"
#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"
#include "platform/framework/Exception.h"
#include "platform/kernel/Clock.h"
#include "platform/service/DebugTrace.h"
#include "remote/NVRCPMessage.h"
#include "remote/RCPFormat.h"
#include "remote/RCPOperations.h"

#include <algorithm>
#include <utility>

using namespace EngineFormat;
using namespace RCPOperations;
using RCPFormat::kNumber;
using RCPFormat::kSessionCounters;

namespace {

// The engine's debug texts go to the debug trace sink.
void Trace(const std::string& text) { OutputDebugString(text.c_str()); }

std::atomic<CNorvaneEngine*> g_instance{nullptr};

}  // namespace

// --- Construction and the process's engine ------------------------------------------------

CNorvaneEngine::CNorvaneEngine(InertCopy) { m_users.MarkStoreless(); }

CNorvaneEngine::CNorvaneEngine() {
    m_machines.MarkLive();
    m_services.MarkLive();
    // The cache turns storing off (or on again) by itself when it fills, and its totals
    // change with every purge: the consoles are told that its settings changed.
    m_cache.SetSettingsNotifier([this] {
        NotifyConsoles(kNotifyCache, "", "", "");
    });
}

CNorvaneEngine::~CNorvaneEngine() {
    if (HasStarted() && !HasEnded()) {
        PostThreadMessage(WM_QUIT, 0, 0);
        WaitForExit(INFINITE);
    }
    CNorvaneEngine* self = this;
    g_instance.compare_exchange_strong(self, nullptr);
}

CNorvaneEngine& CNorvaneEngine::Instance() {
    if (CNorvaneEngine* engine = g_instance.load())
        return *engine;
    // Made once and never destroyed: threads may still use it while the process ends.
    static CNorvaneEngine* const fallback = new CNorvaneEngine;
    return *fallback;
}

void CNorvaneEngine::SetInstance(CNorvaneEngine* engine) { g_instance.store(engine); }

// --- Lifecycle -------------------------------------------------------------------------------

BOOL CNorvaneEngine::Initialize() {
    Trace(kTraceInitialize);
    const bool created = CreateThread();
    Trace(FormatText(kTraceCreateThread, created ? kTraceSucceeded : kTraceFailed));
    return created ? TRUE : FALSE;
}

bool CNorvaneEngine::InitInstance() {
    struct StartUpDone {
        CEvent& event;
        ~StartUpDone() { event.Set(); }
    } done{m_startUpDone};

    // Callback-mode sockets (the services' listeners) run on this thread from now on, and
    // the thread waits for their events itself.
    X1SocketNotifyWindow::Instance().SetCallbackThread(ThreadId());
    m_ownerWait = std::make_unique<X1SocketOwnerWait>();

    using Step = void (CNorvaneEngine::*)();
    static constexpr Step kSteps[] = {
        &CNorvaneEngine::SelectRegistryRoot,
        &CNorvaneEngine::LoadConfiguration,
        &CNorvaneEngine::CreateBuiltInAccounts,
        &CNorvaneEngine::EnsureRemoteControlService,
        &CNorvaneEngine::CreateDefaultRights,
        &CNorvaneEngine::StartLogManager,
        &CNorvaneEngine::LoadCacheIndex,
        &CNorvaneEngine::StartDialer,
        &CNorvaneEngine::StartServices,
        &CNorvaneEngine::OpenAuditFiles,
    };
    try {
        for (Step step : kSteps) {
            if (m_shuttingDown)
                break;
            (this->*step)();
        }
    } catch (...) {
        DropCurrentException();
    }
    if (!m_shuttingDown)
        SetEngineTimer();
    return true;
}

int CNorvaneEngine::ExitInstance() {
    m_ownerWait.reset();
    if (X1SocketNotifyWindow::Instance().GetCallbackThread() == ThreadId())
        X1SocketNotifyWindow::Instance().SetCallbackThread(0);
    m_bAutoDelete = false;
    return 0;
}

void CNorvaneEngine::OnThreadMessage(const ThreadMessage& msg) {
    if (msg.message == WM_TIMER)
        OnTimer(static_cast<DWORD>(msg.wParam));
    else if (msg.message == kRestartDialerMessage)
        RestartDialer();
}

void CNorvaneEngine::OnMessageException() { DropCurrentException(); }

void CNorvaneEngine::ShutDown(BOOL exitProcess) {
    m_shuttingDown = true;
    {
        std::lock_guard<std::mutex> lock(m_shutDownMutex);
        if (!m_shutDownDone) {
            m_shutDownDone = true;
            Trace(kTraceShutDown);
            // Start-up must not go on starting what the shut-down is stopping.
            if (HasStarted() && GetCurrentThreadId() != ThreadId())
                m_startUpDone.Wait(kStartUpWaitMs);
            RunShutDownSteps();
        }
    }
    if (exitProcess)
        RequestProcessExit();
}

void CNorvaneEngine::RunShutDownSteps() {
    try {
        KillEngineTimer();
        DeleteMachines();
        Pause(kPauseAfterMachinesMs);
        StopAndDeleteServices();
        CloseCache();
        HangUpDialer();
        Pause(kPauseAfterDialerMs);
        // The traffic booked since the last tick would be lost with the users.
        SaveUserDatabase();
        DeleteUsersAndGroups();
        DeleteLocations();
        ClearConsoles();
        StopLogManager();
        StopEngineThread();
    } catch (...) {
        DropCurrentException();
    }
}

void CNorvaneEngine::SetProcessExitHandler(std::function<void()> handler) {
    std::lock_guard<std::mutex> lock(m_exitMutex);
    m_exitHandler = std::move(handler);
}

void CNorvaneEngine::SetEventReporter(std::function<void(WORD, const std::string&)> reporter) {
    std::lock_guard<std::mutex> lock(m_eventMutex);
    m_eventReporter = std::move(reporter);
}

void CNorvaneEngine::ReportEvent(WORD type, const std::string& text) {
    std::function<void(WORD, const std::string&)> reporter;
    {
        std::lock_guard<std::mutex> lock(m_eventMutex);
        reporter = m_eventReporter;
    }
    if (reporter)
        reporter(type, text);
}

void CNorvaneEngine::RequestProcessExit() {
    std::function<void()> handler;
    {
        std::lock_guard<std::mutex> lock(m_exitMutex);
        handler = m_exitHandler;
    }
    if (handler)
        handler();
}

std::size_t CNorvaneEngine::WaitForThreads(DWORD timeoutMs) {
    const std::size_t running = m_threads.WaitForAll(timeoutMs);
    if (running != 0)
        Trace(FormatText(kTraceThreadsLeft, static_cast<unsigned>(running)));
    return running;
}

void CNorvaneEngine::SelectRegistryRoot() { SetRegistryRoot(kCompany, kProduct); }

void CNorvaneEngine::StartLogManager() { m_logManager.Start(); }

void CNorvaneEngine::SetEngineTimer() { m_timerId = SetTimer(kTimerPeriodMs); }

void CNorvaneEngine::KillEngineTimer() {
    if (DWORD id = m_timerId.exchange(0))
        KillTimer(id);
}

void CNorvaneEngine::DeleteMachines() {
    ReleaseMachines(TakeMachines([](CMachineBase&) { return true; }));
}

void CNorvaneEngine::DeleteLocations() { m_locations.RemoveAll(); }

void CNorvaneEngine::ClearConsoles() {
    std::lock_guard<std::mutex> lock(m_consolesMutex);
    m_consoles.clear();
}

void CNorvaneEngine::StopLogManager() {
    m_logManager.Stop();
    m_logManager.WaitForStop(kThreadEndWaitMs);
}

void CNorvaneEngine::StopEngineThread() {
    PostThreadMessage(WM_QUIT, 0, 0);
    if (HasStarted() && GetCurrentThreadId() != ThreadId())
        WaitForExit(kThreadEndWaitMs);
}

void CNorvaneEngine::Pause(DWORD ms) { Sleep(ms); }

// --- Timer and dialer restart ----------------------------------------------------------------

void CNorvaneEngine::OnTimer(DWORD timerId) {
    if (timerId == 0 || timerId != m_timerId.load())
        return;
    {
        CScopedLock lock(m_machines);
        // References, not the map itself: a check that ends a machine's last session removes
        // the machine from the map during the walk.
        for (const CRef<CObject>& object : m_machines.Snapshot()) {
            auto* machine = dynamic_cast<CMachineBase*>(object.Get());
            if (machine == nullptr)
                continue;
            try {
                machine->CheckIdleSessions();
            } catch (...) {
                DropCurrentException();
            }
        }
    }
    m_cache.SyncIndex();
    EngineLogOnThrottle().Sweep(GetTickCount64());
    if (m_ticks.fetch_add(1) % kStatisticsEveryTicks == 0)
        SaveUserDatabase();
}

void CNorvaneEngine::RestartDialer() {
    try {
        HangUpDialer();
        WaitForDialer(kThreadEndWaitMs);
        Pause(kDialerRestartPauseMs);
        StartDialer();
    } catch (...) {
        DropCurrentException();
    }
}

// --- Configuration ---------------------------------------------------------------------------

void CNorvaneEngine::LoadConfiguration() {
    try {
        for (const EnginePartKey& part : kParts)
            LoadPart(part.part, part.key);
        for (const EngineRight& right : kRights)
            LoadRight(right.kind, right.key);
    } catch (...) {
        DropCurrentException();
    }
}

BOOL CNorvaneEngine::SaveConfiguration() {
    BOOL usersSaved = FALSE;
    try {
        usersSaved = SavePart(EnginePart::kUserDatabase, kParts[0].key);
    } catch (...) {
        DropCurrentException();
    }
    if (!usersSaved)
        NotifyAlert(kAlertCaption, kUserDatabaseSaveFailed);

    bool restSaved = true;
    try {
        for (const EnginePartKey& part : kParts) {
            if (part.part == EnginePart::kUserDatabase)
                continue;
            if (!SavePart(part.part, part.key)) {
                restSaved = false;
                break;
            }
        }
        for (int kind = 0; restSaved && kind < kRightCount; ++kind)
            restSaved = SaveRight(kRights[kind].kind, kRights[kind].key) != FALSE;
    } catch (...) {
        DropCurrentException();
        restSaved = false;
    }
    if (!restSaved)
        NotifyAlert(kAlertCaption, kConfigurationSaveFailed);
    return usersSaved && restSaved ? TRUE : FALSE;
}

namespace {

const char* PartKey(EnginePart part) {
    for (const EnginePartKey& entry : kParts)
        if (entry.part == part)
            return entry.key;
    return "";
}

}  // namespace

void CNorvaneEngine::ReloadConfiguration() {
    SaveUserDatabase();
    CGroupMemberDatabase users;
    CServiceManager services;
    CLocationArray locations;
    CWWWCache cache;
    CRight rights[kRightCount];
    users.LoadFromRegistry(PartKey(EnginePart::kUserDatabase));
    services.LoadFromRegistry(PartKey(EnginePart::kServices));
    locations.LoadFromRegistry(PartKey(EnginePart::kLocations));
    cache.LoadFromRegistry(PartKey(EnginePart::kCache));
    for (const EngineRight& right : kRights)
        rights[right.kind].LoadFromRegistry(right.key);

    m_users.ReplaceWith(users);
    CreateBuiltInAccounts();
    m_locations.ReplaceWith(locations);
    m_cache.CopySettings(cache);
    m_dialer.LoadFromRegistry(PartKey(EnginePart::kDialer));
    for (const EngineRight& right : kRights) {
        m_rights[right.kind].Copy(rights[right.kind]);
        m_rights[right.kind].SetRightType(static_cast<DWORD>(right.kind));
    }
    CreateDefaultRights();
    m_services.ReplaceWith(services, true);
    OpenAuditFiles();
}

void CNorvaneEngine::CreateDefaultRights() {
    for (const EngineRight& right : kRights) {
        if (GetRightDescription(right.kind).empty())
            MakeDefaultRight(right.kind, right.description, right.recipientGroup);
    }
}

BOOL CNorvaneEngine::SaveUserDatabase() {
    try {
        return SaveUserStatistics();
    } catch (...) {
        DropCurrentException();
        return FALSE;
    }
}

void CNorvaneEngine::LoadPart(EnginePart part, const std::string& key) {
    switch (part) {
    case EnginePart::kLocations: m_locations.LoadFromRegistry(key); break;
    case EnginePart::kUserDatabase: m_users.LoadFromRegistry(key); break;
    case EnginePart::kServices: m_services.LoadFromRegistry(key); break;
    case EnginePart::kCache: m_cache.LoadFromRegistry(key); break;
    case EnginePart::kDialer: m_dialer.LoadFromRegistry(key); break;
    }
}

BOOL CNorvaneEngine::SavePart(EnginePart part, const std::string& key) {
    switch (part) {
    case EnginePart::kLocations: return m_locations.SaveToRegistry(key);
    case EnginePart::kUserDatabase: return m_users.SaveToRegistry(key);
    case EnginePart::kServices: return m_services.SaveToRegistry(key);
    case EnginePart::kCache: return m_cache.SaveToRegistry(key);
    case EnginePart::kDialer: return m_dialer.SaveToRegistry(key);
    }
    return TRUE;
}

static_assert(kRightCount == static_cast<int>(kRightKindCount));

CRight* CNorvaneEngine::GetRight(DWORD kind) {
    return kind < kRightKindCount ? &m_rights[kind] : nullptr;
}

CRight* CNorvaneEngine::GetDefaultRight(DWORD kind) {
    return kind <= kLastDefaultRightKind ? &m_rights[kind] : nullptr;
}

void CNorvaneEngine::LoadRight(int kind, const std::string& key) {
    if (CRight* right = GetRight(static_cast<DWORD>(kind))) {
        right->LoadFromRegistry(key);
        right->SetRightType(static_cast<DWORD>(kind));
    }
}

BOOL CNorvaneEngine::SaveRight(int kind, const std::string& key) {
    CRight* right = GetRight(static_cast<DWORD>(kind));
    return right != nullptr ? right->SaveToRegistry(key) : FALSE;
}

std::string CNorvaneEngine::GetRightDescription(int kind) {
    CRight* right = GetRight(static_cast<DWORD>(kind));
    return right != nullptr ? right->GetDescription() : std::string();
}

void CNorvaneEngine::MakeDefaultRight(int kind, const std::string& description,
                                      const char* recipientGroup) {
    CRight* right = GetRight(static_cast<DWORD>(kind));
    if (right == nullptr)
        return;
    right->SetRightType(static_cast<DWORD>(kind));
    right->SetDescription(description);
    if (recipientGroup == nullptr)
        right->AddRecipient(new CRecipient());
    else
        right->AddRecipientFor(recipientGroup);
}

// --- The services ----------------------------------------------------------------------------

void CNorvaneEngine::EnsureRemoteControlService() { m_services.EnsureRemoteControlService(); }
void CNorvaneEngine::StartServices() { m_services.StartServices(); }
void CNorvaneEngine::StopAndDeleteServices() { m_services.StopAndDeleteAll(); }

BOOL CNorvaneEngine::AdmitSession(CSession* session) { return CMachine::Admit(*session); }

// --- The web cache -------------------------------------------------------------------------

void CNorvaneEngine::LoadCacheIndex() {
    m_cache.MarkLive();
    m_cache.LoadIndex();
}

void CNorvaneEngine::CloseCache() { m_cache.Close(); }

// --- The dialer ------------------------------------------------------------------------------

void CNorvaneEngine::StartDialer() { m_dialer.Start(); }
void CNorvaneEngine::HangUpDialer() { m_dialer.HangUpAll(); }
BOOL CNorvaneEngine::WaitForDialer(DWORD timeoutMs) { return m_dialer.WaitForThread(timeoutMs); }
void CNorvaneEngine::DialOnDemand(CSession* session) { m_dialer.CheckDialFirst(session); }

// --- The user database -----------------------------------------------------------------------

void CNorvaneEngine::CreateBuiltInAccounts() { m_users.CreateBuiltInAccounts(); }

void CNorvaneEngine::OpenAuditFiles() { m_users.OpenAuditFiles(); }

BOOL CNorvaneEngine::SaveUserStatistics() { return m_users.SaveStatistics(kParts[0].key); }

void CNorvaneEngine::DeleteUsersAndGroups() { m_users.RemoveAll(); }

BOOL CNorvaneEngine::RemoveUser(const std::string& name) {
    CScopedLock lock(m_users);
    return m_users.FindUser(name, FALSE) != nullptr ? m_users.DeleteEntry(name) : FALSE;
}

CFilterComponent* CNorvaneEngine::FindUser(const std::string& name, BOOL wantGroup) {
    return m_users.FindUser(name, wantGroup);
}

// --- Machines and users ----------------------------------------------------------------------

template <class Pick>
std::vector<CMachineBase*> CNorvaneEngine::TakeMachines(Pick pick) {
    std::vector<CMachineBase*> taken;
    CScopedLock lock(m_machines);
    for (auto it = m_machines.begin(); it != m_machines.end();) {
        auto* machine = dynamic_cast<CMachineBase*>(it->second);
        if (machine != nullptr && pick(*machine)) {
            taken.push_back(machine);
            it = m_machines.Erase(it);
        } else {
            ++it;
        }
    }
    // Ended under the map's lock: a machine admitted again for the same address is announced
    // after this one's removal.
    for (CMachineBase* machine : taken)
        if (auto* record = dynamic_cast<CMachine*>(machine))
            record->Close();
    return taken;
}

void CNorvaneEngine::ReleaseMachines(const std::vector<CMachineBase*>& machines) {
    for (CMachineBase* machine : machines)
        machine->Release();
}

BOOL CNorvaneEngine::RegisterSession(CSession* session) {
    if (session == nullptr)
        return FALSE;
    if (m_shuttingDown) {
        // A refused session ends here, whoever asked (a UDP service goes on without it).
        session->Terminate(FrameworkFormat::kExitError);
        return FALSE;
    }
    return AdmitSession(session);
}

void CNorvaneEngine::RemoveMachine(const std::string& addressText) {
    CMachineBase* machine = nullptr;
    {
        CScopedLock lock(m_machines);
        machine = m_machines.FindMachine(addressText);
        if (machine != nullptr) {
            m_machines.RemoveMachine(machine);
            if (auto* record = dynamic_cast<CMachine*>(machine))
                record->Close();
        }
    }
    if (machine != nullptr)
        machine->Release();
}

void CNorvaneEngine::DeleteUser(const std::string& name) {
    if (!RemoveUser(name))
        return;
    ReleaseMachines(TakeMachines([&](CMachineBase& machine) { return machine.GetUserName() == name; }));
}

// --- Consoles --------------------------------------------------------------------------------

void CNorvaneEngine::RegisterConsole(IEngineConsole* console) {
    if (console == nullptr)
        return;
    std::lock_guard<std::mutex> lock(m_consolesMutex);
    if (std::find(m_consoles.begin(), m_consoles.end(), console) == m_consoles.end())
        m_consoles.push_back(console);
}

void CNorvaneEngine::UnregisterConsole(IEngineConsole* console) {
    std::lock_guard<std::mutex> lock(m_consolesMutex);
    std::erase(m_consoles, console);
}

std::size_t CNorvaneEngine::GetConsoleCount() const {
    std::lock_guard<std::mutex> lock(m_consolesMutex);
    return m_consoles.size();
}

void CNorvaneEngine::NotifyConsoles(WORD op, const std::string& text1, const std::string& text2,
                                    const std::string& text3) {
    std::lock_guard<std::mutex> lock(m_consolesMutex);
    for (IEngineConsole* console : m_consoles) {
        try {
            console->QueueMessage(op, text1, text2, text3);
        } catch (...) {
            DropCurrentException();
        }
    }
}

void CNorvaneEngine::NotifyConsolesMessage(const CNVRCPMessage& message) {
    NotifyConsoles(message.Op, message.Arg1, message.Arg2, message.Arg3);
}

void CNorvaneEngine::SendToMachineConsoles(const std::string& addressText, WORD op,
                                           const std::string& text1, const std::string& text2,
                                           const std::string& text3) {
    std::lock_guard<std::mutex> lock(m_consolesMutex);
    for (IEngineConsole* console : m_consoles) {
        try {
            if (console->GetClientAddress() == addressText)
                console->QueueMessage(op, text1, text2, text3);
        } catch (...) {
            DropCurrentException();
        }
    }
}

void CNorvaneEngine::NotifyMachineAdded(const std::string& address, const std::string& user,
                                        DWORD level) {
    NotifyConsoles(kNotifyMachineAdded, address, user, FormatText(kNumber, level));
}

void CNorvaneEngine::NotifyMachineChanged(const std::string& address, const std::string& user,
                                          DWORD level) {
    NotifyConsoles(kNotifyMachineChanged, address, user, FormatText(kNumber, level));
}

void CNorvaneEngine::NotifyMachineRemoved(const std::string& address, DWORD secondsConnected) {
    NotifyConsoles(kNotifyMachineRemoved, address, FormatText(kNumber, secondsConnected), "");
}

void CNorvaneEngine::NotifySessionStarted(const std::string& address, DWORD sessionId,
                                          const std::string& description) {
    // Sessions come and go many times a second: no texts are made for no console.
    if (GetConsoleCount() == 0)
        return;
    NotifyConsoles(kNotifySessionStarted, address, FormatText(kNumber, sessionId), description);
}

void CNorvaneEngine::NotifySessionStatus(const std::string& address, DWORD sessionId,
                                         const std::string& text) {
    NotifyConsoles(kNotifySessionStatus, address, FormatText(kNumber, sessionId), text);
}

void CNorvaneEngine::NotifySessionEnded(const std::string& address, DWORD sessionId,
                                        DWORD clientSent, DWORD clientReceived, DWORD remoteSent,
                                        DWORD remoteReceived) {
    if (GetConsoleCount() == 0)
        return;
    NotifyConsoles(kNotifySessionEnded, address, FormatText(kNumber, sessionId),
                   FormatText(kSessionCounters, clientSent, clientReceived, remoteSent, remoteReceived));
}

void CNorvaneEngine::NotifyDialerStatus(const std::string& profile, DWORD state,
                                        const std::string& text) {
    NotifyConsoles(kNotifyDialerState, profile, FormatText(kNumber, state), text);
}

void CNorvaneEngine::NotifyAlert(const std::string& caption, const std::string& text) {
    NotifyConsoles(kNotifyAlert, caption, text, "");
}

// --- Dial on demand --------------------------------------------------------------------------

void CNorvaneEngine::CheckDialFirst(CSession* session) {
    bool refused = false;
    int code = 0;
    std::string text;
    try {
        DialOnDemand(session);
    } catch (X1SocketException* e) {
        refused = true;
        code = e->GetErrorCode();
        text = e->GetErrorText();
        e->Delete();
    } catch (...) {
        DropCurrentException();
    }
    if (refused)
        throw new X1SocketException(code, std::move(text));
}
