#include "dialer/Dialer.h"

#include "dialer/DialerFormat.h"
#include "engine/EngineFormat.h"
#include "engine/LogFormat.h"
#include "engine/LogWriters.h"
#include "engine/NorvaneEngine.h"
#include "engine/framework/Session.h"
#include "engine/framework/TwoEndTCPSession.h"
#include "foundation/Archive.h"
#include "foundation/NVDataObject.h"
#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"
#include "foundation/X1SocketException.h"
#include "platform/framework/Exception.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/Paths.h"
#include "platform/service/DebugTrace.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_set>
#include <utility>

IMPLEMENT_SERIAL(CDialer, CObject, 1)

using namespace DialerFormat;
using LogFormat::kDialerDebug;
using LogFormat::kDialerNormal;

namespace {

// Names the store can keep apart: the key names of profiles and the value names of local sites.
constexpr std::size_t kMaxStoredName = 255;
// Enumerations of more records than this are refused as nonsense from the library.
constexpr std::size_t kMaxRecords = 4096;

// True when no two names are equal but for letter case (the store could not keep them apart).
bool DistinctInStore(const std::vector<std::string>& names) {
    std::unordered_set<std::string> folded;
    for (const std::string& name : names)
        if (!folded.insert(RegFoldName(name)).second)
            return false;
    return true;
}

std::string Child(const std::string& key, const char* name) { return key + "\\" + name; }

// The two-call protocol of the library's enumerations: `call(records, bytes, count)` into a
// buffer of whole records, grown to what the library asks for while the list keeps growing
// between calls. On success `records` holds exactly the records the library wrote.
template <class Record, class Call>
DWORD Enumerate(std::vector<Record>& records, Call call) {
    records.assign(1, Record{});
    for (unsigned tries = 0;; ++tries) {
        records[0].dwSize = sizeof(Record);
        std::uint32_t bytes = static_cast<std::uint32_t>(records.size() * sizeof(Record));
        std::uint32_t count = 0;
        const DWORD result = call(records.data(), &bytes, &count);
        if (result == ERROR_BUFFER_TOO_SMALL && tries + 1 < kEnumerationTries) {
            const std::size_t wanted =
                std::max<std::size_t>((bytes + sizeof(Record) - 1) / sizeof(Record), records.size() + 1);
            if (wanted > kMaxRecords) {
                records.clear();
                return ERROR_NOT_ENOUGH_MEMORY;
            }
            records.assign(wanted, Record{});
            continue;
        }
        if (result != 0) {
            records.clear();
            return result;
        }
        // Never more than the buffer given could hold, whatever the count says.
        records.resize(std::min<std::size_t>({count, records.size(), bytes / sizeof(Record)}));
        return 0;
    }
}

}  // namespace

// --- The dialer thread and the console's dial workers -----------------------------------------

class CDialer::CDialerThread : public CThread {
public:
    explicit CDialerThread(CDialer& dialer) : m_dialer(dialer) {}

protected:
    bool InitInstance() override { return m_dialer.InitInstance(); }
    int ExitInstance() override {
        m_dialer.ExitInstance();
        return 0;
    }
    void OnThreadMessage(const ThreadMessage& msg) override { m_dialer.OnMessage(msg); }
    void OnMessageException() override { m_dialer.OnLoopException(); }

private:
    CDialer& m_dialer;
};

// Runs one dial sequence of a profile for a console, then ends (and deletes itself).
class CDialer::CDialWorker : public CThread {
public:
    explicit CDialWorker(CRef<CDialerProfile> profile) : m_profile(std::move(profile)) {
        m_bAutoDelete = true;
    }

protected:
    bool InitInstance() override {
        CNorvaneEngine::Instance().GetThreadRoster().Enter(*this);
        try {
            m_profile->Dial();
        } catch (...) {
            DropCurrentException();
        }
        return false;
    }
    int ExitInstance() override { return 0; }

private:
    CRef<CDialerProfile> m_profile;
};

// --- Construction ------------------------------------------------------------------------------

CDialer::CDialer()
    : m_loggingEnabled(kDefaultLoggingEnabled),
      m_logOptions(kDefaultLogOptions),
      m_timerInterval(kDefaultTimerInterval),
      m_rasdialTimeout(kDefaultRasdialTimeoutMs),
      m_useSynchronous(kDefaultUseSynchronousRasdial) {}

CDialer::~CDialer() {
    // The engine's shut-down has hung the lines up; a thread still running only ends here.
    m_stopping = true;
    m_stopEvent.Set();
    if (const DWORD thread = m_threadId.load())
        ::PostThreadMessage(thread, WM_QUIT, 0, 0);
    WaitForThread(INFINITE);
    CScopedLock lock(m_profiles);
    m_profiles.DeleteElements();
}

// --- Settings ----------------------------------------------------------------------------------

bool CDialer::IsUsableProfileName(const std::string& name) {
    return IsSafeName(name) && name.size() <= kMaxStoredName;
}

bool CDialer::IsUsableLocalSite(const std::string& site) {
    if (site.empty() || site.size() > kMaxStoredName)
        return false;
    return std::none_of(site.begin(), site.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

std::vector<std::string> CDialer::GetLocalSites() const {
    std::lock_guard<std::mutex> lock(m_listsMutex);
    return m_localSites;
}

void CDialer::SetLocalSites(std::vector<std::string> sites) {
    std::lock_guard<std::mutex> lock(m_listsMutex);
    m_localSites = std::move(sites);
}

std::vector<std::string> CDialer::GetPhonebookEntries() const {
    std::lock_guard<std::mutex> lock(m_listsMutex);
    return m_phonebookEntries;
}

void CDialer::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        {
            CScopedLock lock(m_profiles);
            ar << static_cast<DWORD>(m_profiles.GetCount());
            for (const auto& [name, object] : m_profiles) {
                ar << name;
                static_cast<CDialerProfile*>(object)->Serialize(ar);
            }
        }
        ar.WriteStringList(GetPhonebookEntries());
        ar.WriteStringList(GetLocalSites());
        ar << m_loggingEnabled.load() << m_logOptions.load() << m_timerInterval.load();
        return;
    }
    // Read aside, checked, then applied.
    DWORD count;
    ar >> count;
    std::vector<std::string> keys;
    std::vector<CRef<CDialerProfile>> received;
    for (DWORD i = 0; i < count; ++i) {
        keys.push_back(ar.ReadString());
        received.push_back(CRef<CDialerProfile>::Adopt(new CDialerProfile));
        received.back()->Serialize(ar);
    }
    std::vector<std::string> phonebook, sites;
    ar.ReadStringList(phonebook);
    ar.ReadStringList(sites);
    DWORD loggingEnabled, logOptions, timerInterval;
    ar >> loggingEnabled >> logOptions >> timerInterval;

    std::vector<std::string> names;
    for (const CRef<CDialerProfile>& profile : received)
        names.push_back(profile->GetName());
    if (!std::all_of(names.begin(), names.end(), IsUsableProfileName) || !DistinctInStore(names) ||
        !std::all_of(sites.begin(), sites.end(), IsUsableLocalSite) || !DistinctInStore(sites))
        throw new CArchiveException(CArchiveException::generic);

    DropProfiles(ReplaceProfiles(received, keys));
    {
        std::lock_guard<std::mutex> lock(m_listsMutex);
        m_phonebookEntries = std::move(phonebook);
        m_localSites = std::move(sites);
    }
    m_loggingEnabled = loggingEnabled;
    m_logOptions = logOptions;
    m_timerInterval = timerInterval;
}

BOOL CDialer::SaveToRegistry(const std::string& keyPath) const {
    const std::string profilesKey = Child(keyPath, kProfilesKey);
    const std::vector<CRef<CDialerProfile>> profiles = GetProfiles();
    std::unordered_set<std::string> kept;
    for (const CRef<CDialerProfile>& profile : profiles)
        kept.insert(RegFoldName(profile->GetName()));
    for (const std::string& stored : RegEnumSubKeys(profilesKey)) {
        if (!kept.count(RegFoldName(stored)) && !RegDeleteKeyTree(profilesKey + "\\" + stored))
            return FALSE;
    }
    for (const CRef<CDialerProfile>& profile : profiles) {
        if (!profile->SaveToRegistry(profilesKey + "\\" + profile->GetName()))
            return FALSE;
    }
    const std::string sitesKey = Child(keyPath, kLocalSitesKey);
    if (!RegDeleteKeyTree(sitesKey))
        return FALSE;
    for (const std::string& site : GetLocalSites()) {
        if (!RegWriteDWORD(sitesKey, site, 0))
            return FALSE;
    }
    return RegWriteDWORD(keyPath, kLoggingEnabledValue, m_loggingEnabled) &&
                   RegWriteDWORD(keyPath, kLogOptionsValue, m_logOptions) &&
                   RegWriteDWORD(keyPath, kTimerIntervalValue, m_timerInterval) &&
                   RegWriteDWORD(keyPath, kRasdialTimeoutValue, m_rasdialTimeout) &&
                   RegWriteDWORD(keyPath, kUseSynchronousRasdialValue, m_useSynchronous)
               ? TRUE
               : FALSE;
}

void CDialer::LoadFromRegistry(const std::string& keyPath) {
    const std::string profilesKey = Child(keyPath, kProfilesKey);
    std::vector<std::string> keys, folded;
    std::vector<CRef<CDialerProfile>> loaded;
    for (const std::string& stored : RegEnumSubKeys(profilesKey)) {
        auto profile = CRef<CDialerProfile>::Adopt(new CDialerProfile);
        profile->LoadFromRegistry(profilesKey + "\\" + stored);
        const std::string& name = profile->GetName();
        // A profile whose name the store could not keep, or that another one took, is skipped.
        if (!IsUsableProfileName(name) ||
            std::find(folded.begin(), folded.end(), RegFoldName(name)) != folded.end())
            continue;
        folded.push_back(RegFoldName(name));
        keys.push_back(name);
        loaded.push_back(std::move(profile));
    }
    std::vector<std::string> sites;
    for (const RegTreeValue& value : RegEnumValues(Child(keyPath, kLocalSitesKey))) {
        if (IsUsableLocalSite(value.name))
            sites.push_back(value.name);
    }
    const DWORD loggingEnabled = RegReadDWORD(keyPath, kLoggingEnabledValue, kDefaultLoggingEnabled);
    const DWORD logOptions = RegReadDWORD(keyPath, kLogOptionsValue, kDefaultLogOptions);
    const DWORD timerInterval = RegReadDWORD(keyPath, kTimerIntervalValue, kDefaultTimerInterval);
    const DWORD timeout = RegReadDWORD(keyPath, kRasdialTimeoutValue, kDefaultRasdialTimeoutMs);
    const DWORD synchronous =
        RegReadDWORD(keyPath, kUseSynchronousRasdialValue, kDefaultUseSynchronousRasdial);

    DropProfiles(ReplaceProfiles(loaded, keys));
    SetLocalSites(std::move(sites));
    m_loggingEnabled = loggingEnabled;
    m_logOptions = logOptions;
    m_timerInterval = timerInterval;
    m_rasdialTimeout = timeout;
    m_useSynchronous = synchronous;
}

// --- Profiles ----------------------------------------------------------------------------------

std::vector<CRef<CDialerProfile>> CDialer::GetProfiles() const {
    std::vector<CRef<CDialerProfile>> profiles;
    for (const CRef<CObject>& object : m_profiles.Snapshot()) {
        if (auto* profile = dynamic_cast<CDialerProfile*>(object.Get()))
            profiles.emplace_back(profile);
    }
    return profiles;
}

bool CDialer::IsProfileNameTaken(const std::string& name) const {
    const std::string folded = RegFoldName(name);
    CScopedLock lock(m_profiles);
    for (const auto& [key, object] : m_profiles)
        if (RegFoldName(key) == folded)
            return true;
    return false;
}

CRef<CDialerProfile> CDialer::FindProfile(const std::string& name) const {
    CRef<CObject> object = m_profiles.LookupRef(name);
    return CRef<CDialerProfile>(dynamic_cast<CDialerProfile*>(object.Get()));
}

void CDialer::AddProfile(CDialerProfile* profile) {
    if (profile == nullptr)
        return;
    CRef<CObject> replaced;
    {
        CScopedLock lock(m_profiles);
        CObject* old = m_profiles.Lookup(profile->GetName());
        if (old == profile)
            return;
        replaced = CRef<CObject>::Adopt(old);
        m_profiles.SetAt(profile->GetName(), profile);
    }
}

BOOL CDialer::RemoveProfile(const std::string& name) {
    CRef<CObject> removed;
    {
        CScopedLock lock(m_profiles);
        CObject* object = m_profiles.Lookup(name);
        if (object == nullptr || !m_profiles.RemoveKey(name))
            return FALSE;
        removed = CRef<CObject>::Adopt(object);
    }
    return TRUE;
}

std::vector<CRef<CDialerProfile>> CDialer::ReplaceProfiles(
    std::vector<CRef<CDialerProfile>>& received, const std::vector<std::string>& keys) {
    std::vector<CRef<CDialerProfile>> removed;
    CObjectMap next;
    {
        CScopedLock lock(m_profiles);
        for (std::size_t i = 0; i < received.size(); ++i) {
            CDialerProfile& fresh = *received[i];
            auto* kept = dynamic_cast<CDialerProfile*>(m_profiles.Lookup(keys[i]));
            if (kept != nullptr && kept->GetName() == fresh.GetName() &&
                next.Lookup(kept->GetName()) == nullptr) {
                // The same profile: its line and status stay, its settings are replaced.
                kept->CopySettings(fresh);
                m_profiles.RemoveKey(keys[i]);
                next.SetAt(kept->GetName(), kept);
            } else {
                // New, or renamed: a profile of its own (the old name, if any, goes below).
                next.SetAt(fresh.GetName(), received[i].Detach());
            }
        }
        for (const auto& [name, object] : m_profiles)
            removed.push_back(CRef<CDialerProfile>::Adopt(static_cast<CDialerProfile*>(object)));
        m_profiles.RemoveAll();
        m_profiles.SwapEntries(next);
    }
    received.clear();
    return removed;
}

void CDialer::DropProfiles(const std::vector<CRef<CDialerProfile>>& removed) {
    if (!IsRasAvailable())
        return;
    for (const CRef<CDialerProfile>& profile : removed) {
        try {
            profile->HangUp();
        } catch (...) {
            DropCurrentException();
        }
    }
}

CRef<CDialerProfile> CDialer::ChooseProfile(CSession& session) const {
    try {
        for (const CRef<CDialerProfile>& profile : GetProfiles()) {
            if (profile->GetSettings().autoConnect &&
                profile->GetAccessRights().IsGranted(session, FALSE))
                return profile;
        }
    } catch (...) {
        DropCurrentException();
    }
    return {};
}

// --- Thread ------------------------------------------------------------------------------------

BOOL CDialer::Start() {
    std::lock_guard<std::mutex> lock(m_threadMutex);
    if (m_thread && !m_thread->HasEnded()) {
        if (!m_stopping)
            return TRUE;
        m_thread->WaitForExit(INFINITE);
    }
    m_stopping = false;
    m_stopEvent.Reset();
    auto thread = std::make_unique<CDialerThread>(*this);
    m_threadId = thread->ThreadId();
    if (!thread->CreateThread()) {
        m_threadId = 0;
        return FALSE;
    }
    m_thread = std::move(thread);
    return TRUE;
}

void CDialer::HangUpAll() {
    const DWORD thread = m_threadId.load();
    if (thread == 0)
        return;
    m_stopping = true;
    m_stopEvent.Set();
    const bool available = m_rasAvailable.exchange(false);
    if (const DWORD timer = m_timerId.exchange(0))
        KillTimer(timer);
    // A dial in progress stops waiting, gives its line back and ends.
    {
        std::lock_guard<std::mutex> lock(m_dialMutex);
        if (m_published.event)
            m_published.event->Set();
    }
    for (const std::uint64_t start = GetTickCount64();
         IsDialInProgress() && GetTickCount64() - start < kStopDialWaitMs;)
        Sleep(10);
    if (available) {
        for (const CRef<CDialerProfile>& profile : GetProfiles()) {
            try {
                if (profile->IsOnLine()) {
                    WriteLog(kDialerDebug, kLogHangingUp, profile->GetName().c_str());
                    profile->HangUp();
                }
            } catch (...) {
                DropCurrentException();
            }
        }
    }
    ::PostThreadMessage(thread, WM_QUIT, 0, 0);
    if (GetCurrentThreadId() != thread)
        WaitForThread(EngineFormat::kThreadEndWaitMs);
}

BOOL CDialer::WaitForThread(DWORD timeoutMs) const {
    std::shared_ptr<CEvent> ended;
    {
        std::lock_guard<std::mutex> lock(m_threadMutex);
        if (!m_thread || !m_thread->HasStarted())
            return TRUE;
        ended = m_thread->EndedEvent();
    }
    return ended->Wait(timeoutMs) == WAIT_OBJECT_0 ? TRUE : FALSE;
}

bool CDialer::InitInstance() {
    try {
        m_ticks = 0;
        m_exceptionsThisSecond = 0;
        // Opened first, so that a library that cannot be loaded says so in the log.
        OpenLogFile();
        if (!LoadRasApi())
            return false;
        if (m_timerInterval == 0)
            m_timerInterval = kDefaultTimerInterval;
        m_timerId = SetTimer(kTimerPeriodMs);
        RefreshPhonebook();
        WriteLog(kDialerDebug, "%s", kLogThreadStarted);
        m_rasAvailable = !m_stopping;
        return true;
    } catch (...) {
        DropCurrentException();
        WriteLog(kDialerDebug, "%s", kLogInitException);
        return false;
    }
}

void CDialer::ExitInstance() {
    m_rasAvailable = false;
    if (const DWORD timer = m_timerId.exchange(0))
        KillTimer(timer);
    {
        std::lock_guard<std::mutex> lock(m_requestsMutex);
        m_requests.clear();
    }
    WriteLog(kDialerDebug, "%s", kLogThreadStopping);
}

bool CDialer::LoadRasApi() {
    if (Ras() != nullptr)
        return true;
    const RasLoadResult loaded = LoadRasLibrary();
    if (loaded.status != RasLoadStatus::kLoaded) {
        WriteLog(kDialerDebug, "%s", loaded.message.c_str());
        OutputDebugString(("CDialer: " + loaded.detail).c_str());
        return false;
    }
    m_ras = loaded.api;
    return true;
}

void CDialer::OnMessage(const ThreadMessage& msg) {
    switch (msg.message) {
    case WM_TIMER:
        if (msg.wParam != 0 && msg.wParam == m_timerId.load())
            OnTimer();
        break;
    case kRasDialEventMessage:
        OnDialEvent(msg.wParam, msg.lParam);
        break;
    case kDialOrHangUpMessage:
        DialOrHangUp(msg.wParam, msg.lParam);
        break;
    default:
        break;
    }
}

void CDialer::OnLoopException() {
    DropCurrentException();
    WriteLog(kDialerDebug, kLogLoopException, m_exceptionsThisSecond);
    if (++m_exceptionsThisSecond > kMaxExceptionsPerSecond) {
        m_exceptionsThisSecond = 0;
        WriteLog(kDialerDebug, "%s", kLogTooManyExceptions);
        RequestRestart();
    }
}

void CDialer::OnTimer() {
    try {
        m_exceptionsThisSecond = 0;
        ++m_ticks;
        const DWORD interval = m_timerInterval.load();
        // An interval of 0 (a console may send one) checks nothing until the next start.
        if (interval == 0 || m_ticks % interval != 0 || IsDialInProgress())
            return;
    } catch (...) {
        DropCurrentException();
        WriteLog(kDialerDebug, "%s", kLogTimerException1);
        return;
    }
    try {
        for (const CRef<CDialerProfile>& profile : GetProfiles()) {
            if (profile->IsOnLine())
                profile->CheckIdle();
        }
    } catch (...) {
        DropCurrentException();
        WriteLog(kDialerDebug, "%s", kLogTimerException2);
    }
}

void CDialer::DialOrHangUp(std::uintptr_t action, std::intptr_t request) {
    CRef<CDialerProfile> profile;
    {
        std::lock_guard<std::mutex> lock(m_requestsMutex);
        auto found = m_requests.find(request);
        if (found == m_requests.end())
            return;
        profile = std::move(found->second);
        m_requests.erase(found);
    }
    try {
        if (action == kActionReset) {
            profile->Reset();
        } else if (action == kActionDial) {
            auto* worker = new CDialWorker(std::move(profile));
            if (!worker->CreateThread())
                delete worker;
        }
    } catch (...) {
        DropCurrentException();
    }
}

// --- Dial events -------------------------------------------------------------------------------

bool CDialer::BeginDial() {
    bool expected = false;
    return m_dialInProgress.compare_exchange_strong(expected, true);
}

void CDialer::EndDial() { m_dialInProgress = false; }

std::uint32_t CDialer::PublishDial(CDialerProfile& profile, std::shared_ptr<CEvent> event) {
    std::lock_guard<std::mutex> lock(m_dialMutex);
    if (++m_nextAttempt == 0)
        m_nextAttempt = 1;
    m_published.attempt = m_nextAttempt;
    m_published.profile = CRef<CDialerProfile>(&profile);
    m_published.event = std::move(event);
    m_published.result = 0;
    return m_published.attempt;
}

DWORD CDialer::WithdrawDial(std::uint32_t attempt) {
    std::lock_guard<std::mutex> lock(m_dialMutex);
    if (m_published.attempt != attempt)
        return 0;
    const DWORD result = m_published.result;
    m_published = PublishedDial{};
    return result;
}

void* CDialer::NotifierContext(std::uint32_t attempt) const {
    const std::uintptr_t packed = (static_cast<std::uintptr_t>(m_threadId.load()) << 32) | attempt;
    return reinterpret_cast<void*>(packed);
}

void CDialer::OnRasNotify(void* context, HRASCONN connection, std::uint32_t state,
                          std::uint32_t error) {
    // On a thread of the library: the event is handed to the dialer thread, nothing waited for.
    const auto packed = reinterpret_cast<std::uintptr_t>(context);
    const auto thread = static_cast<DWORD>(packed >> 32);
    const auto attempt = static_cast<std::uint32_t>(packed);
    ::PostThreadMessage(thread, kRasDialEventMessage,
                        (static_cast<std::uintptr_t>(attempt) << 32) | connection,
                        static_cast<std::intptr_t>((static_cast<std::uint64_t>(state) << 32) | error));
}

void CDialer::OnDialEvent(std::uintptr_t wParam, std::intptr_t lParam) {
    const auto attempt = static_cast<std::uint32_t>(wParam >> 32);
    const auto connection = static_cast<HRASCONN>(wParam);
    const auto state = static_cast<DWORD>(static_cast<std::uint64_t>(lParam) >> 32);
    const auto error = static_cast<DWORD>(lParam);
    CRef<CDialerProfile> profile;
    std::shared_ptr<CEvent> event;
    {
        std::lock_guard<std::mutex> lock(m_dialMutex);
        if (attempt == 0 || m_published.attempt != attempt)
            return;  // no longer the dial in progress
        profile = m_published.profile;
        event = m_published.event;
    }
    bool ends = error != 0;
    try {
        ends = profile->ApplyDialEvent(connection, state, error);
    } catch (...) {
        DropCurrentException();
    }
    if (!ends)
        return;
    {
        std::lock_guard<std::mutex> lock(m_dialMutex);
        if (m_published.attempt == attempt)
            m_published.result = error;
    }
    event->Set();
}

bool CDialer::PauseUnlessStopping(DWORD ms) { return m_stopEvent.Wait(ms) != WAIT_OBJECT_0; }

void CDialer::RequestRestart() {
    CNorvaneEngine::Instance().PostThreadMessage(EngineFormat::kRestartDialerMessage, 0, 0);
}

// --- Library helpers ---------------------------------------------------------------------------

std::vector<RASCONNA> CDialer::EnumConnections() {
    std::vector<RASCONNA> records;
    if (const RasEntryPoints* ras = Ras()) {
        const DWORD result = Enumerate(records, [&](RASCONNA* buffer, std::uint32_t* bytes,
                                                    std::uint32_t* count) {
            return ras->RasEnumConnectionsA(buffer, bytes, count);
        });
        if (result == ERROR_NOT_ENOUGH_MEMORY)
            WriteLog(kDialerDebug, "%s", kLogEnumNoMemory);
        else if (result != 0)
            WriteLog(kDialerDebug, kLogEnumError, result);
    }
    return records;
}

std::optional<RASCONNA> CDialer::FindConnection(const std::string& entryName) {
    for (const RASCONNA& connection : EnumConnections()) {
        if (std::string(connection.szEntryName, strnlen(connection.szEntryName, sizeof connection.szEntryName)) ==
            entryName)
            return connection;
    }
    return std::nullopt;
}

std::string CDialer::ErrorText(DWORD code) const {
    char buffer[kErrorTextBuffer] = {};
    const RasEntryPoints* ras = Ras();
    if (ras != nullptr && ras->RasGetErrorStringA(code, buffer, sizeof buffer) == 0)
        return std::string(buffer, strnlen(buffer, sizeof buffer));
    return FormatText(kUnknownErrorText, code);
}

void CDialer::RefreshPhonebook() {
    const RasEntryPoints* ras = Ras();
    if (ras == nullptr)
        return;
    WriteLog(kDialerDebug, "%s", kLogRefreshingPhonebook);
    std::vector<RASENTRYNAMEA> records;
    std::vector<std::string> entries;
    if (Enumerate(records, [&](RASENTRYNAMEA* buffer, std::uint32_t* bytes, std::uint32_t* count) {
            return ras->RasEnumEntriesA(nullptr, nullptr, buffer, bytes, count);
        }) == 0) {
        for (const RASENTRYNAMEA& record : records)
            entries.emplace_back(record.szEntryName, strnlen(record.szEntryName, sizeof record.szEntryName));
    }
    std::lock_guard<std::mutex> lock(m_listsMutex);
    m_phonebookEntries = std::move(entries);
}

// --- Log ---------------------------------------------------------------------------------------

void CDialer::OpenLogFile() {
    {
        std::lock_guard<std::mutex> lock(m_logMutex);
        m_logFile.reset();
    }
    if (!m_loggingEnabled)
        return;
    CLogFileRef file;
    try {
        file = CLogFile::OpenServiceLog(LogFormat::kDialerLogName);
    } catch (CException* e) {
        e->Delete();
    } catch (const std::bad_alloc&) {
    }
    if (!file) {
        m_loggingEnabled = 0;
        return;
    }
    std::lock_guard<std::mutex> lock(m_logMutex);
    m_logFile = std::move(file);
}

CLogFileRef CDialer::GetLogFile() const {
    std::lock_guard<std::mutex> lock(m_logMutex);
    return m_logFile;
}

void CDialer::WriteLog(DWORD type, const char* format, ...) {
    const CLogFileRef file = GetLogFile();
    if (!file)
        return;
    va_list args;
    va_start(args, format);
    PostDialerLogLineV(CNorvaneEngine::Instance().GetLogManager(), file, m_logOptions, type, format, args);
    va_end(args);
}

// --- Dial on demand ----------------------------------------------------------------------------

void CDialer::CheckDialFirst(CSession* session) {
    if (session == nullptr || !IsRasAvailable())
        return;
    std::string host;
    auto* twoEnd = dynamic_cast<CTwoEndTCPSession*>(session);
    const COutboundSettings upstream = twoEnd ? twoEnd->GetUpstream() : COutboundSettings{};
    if (twoEnd != nullptr && upstream.ConnectMethod != 0) {
        host = upstream.ProxyServer;
    } else {
        CNVDataObject value;
        session->GetValue(2, value);
        if (value.DataType == CNVDataObject::TypeString)
            host = value.strData;
    }
    for (const std::string& site : GetLocalSites()) {
        if (host.find(site) != std::string::npos) {
            WriteLog(kDialerDebug, kLogLocalSite, host.c_str(), site.c_str());
            return;
        }
    }

    const auto allDisabled = [this](const std::vector<CRef<CDialerProfile>>& profiles) {
        if (std::any_of(profiles.begin(), profiles.end(), [](const CRef<CDialerProfile>& p) {
                return p->GetSettings().autoConnect != 0;
            }))
            return false;
        WriteLog(kDialerDebug, "%s", kLogAllDisabled);
        return true;
    };
    // Without a profile to dial, connections go ahead without waiting for one another.
    if (allDisabled(GetProfiles()))
        return;
    enum class Outcome { kGoAhead, kDenied, kFailed } outcome = Outcome::kGoAhead;
    {
        // Callers wait here for a dial in progress, then find its line up.
        std::lock_guard<std::mutex> demand(m_demandMutex);
        const std::vector<CRef<CDialerProfile>> profiles = GetProfiles();
        if (!IsRasAvailable() || allDisabled(profiles))
            return;
        try {
            const std::string who = session->GetDescription();
            for (const CRef<CDialerProfile>& profile : profiles) {
                if (profile->IsOnLine() && profile->GetAccessRights().IsGranted(*session, FALSE)) {
                    WriteLog(kDialerDebug, kLogOnLineGrants, profile->GetName().c_str(), who.c_str());
                    return;
                }
            }
            const CRef<CDialerProfile> chosen = ChooseProfile(*session);
            if (!chosen) {
                WriteLog(kDialerDebug, kLogNoProfile, who.c_str());
                outcome = Outcome::kDenied;
            } else {
                WriteLog(kDialerNormal, kLogDialingProfile, chosen->GetName().c_str());
                WriteLog(kDialerDebug, kLogDialingProfile, chosen->GetName().c_str());
                chosen->Dial();
                if (!chosen->IsOnLine()) {
                    WriteLog(kDialerDebug, kLogProfileFailed, chosen->GetName().c_str());
                    outcome = Outcome::kFailed;
                }
            }
        } catch (...) {
            DropCurrentException();
            WriteLog(kDialerDebug, "%s", kLogCheckDialFirstException);
        }
    }
    if (outcome == Outcome::kDenied)
        throw new X1SocketException(0, kNoAccessText);
    if (outcome == Outcome::kFailed)
        throw new X1SocketException(0, kFailedConnectionText);
}

BOOL CDialer::RequestDialOrHangUp(const std::string& profileName, DWORD action) {
    const DWORD thread = m_threadId.load();
    if (IsDialInProgress() || thread == 0 || !IsRasAvailable())
        return FALSE;
    CRef<CDialerProfile> profile = FindProfile(profileName);
    if (!profile)
        return FALSE;
    std::intptr_t request;
    {
        std::lock_guard<std::mutex> lock(m_requestsMutex);
        request = ++m_nextRequest;
        m_requests.emplace(request, std::move(profile));
    }
    if (::PostThreadMessage(thread, kDialOrHangUpMessage, action, request))
        return TRUE;
    std::lock_guard<std::mutex> lock(m_requestsMutex);
    m_requests.erase(request);
    return FALSE;
}
