#include "dialer/DialerProfile.h"

#include "dialer/Dialer.h"
#include "dialer/DialerFormat.h"
#include "engine/LogFormat.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/AccessFormat.h"
#include "engine/framework/Machine.h"
#include "engine/framework/Session.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"
#include "foundation/Scrambler.h"
#include "foundation/ScopedLock.h"
#include "platform/kernel/Clock.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <strings.h>

IMPLEMENT_SERIAL(CDialerProfile, CFilterComponent, 1)

using namespace DialerFormat;
using LogFormat::kDialerDebug;
using LogFormat::kDialerNormal;

namespace {

std::string Scrambled(std::string text) {
    ScramblePassword(text);
    return text;
}

// Copies `text` into a fixed text field of a dial-up record: at most the field's size less one
// byte, always NUL-terminated.
template <std::size_t N>
void PutField(char (&field)[N], const std::string& text) {
    const std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, N - n);
}

// A text field the library filled, read up to its first NUL or its end.
template <std::size_t N>
std::string GetField(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// Whether any session of any client machine has a socket on `address`. Machines and their
// sessions are walked through references, each list taken under its own lock.
bool AnySessionOn(const std::string& address) {
    for (const CRef<CObject>& object : CNorvaneEngine::Instance().GetMachineMap().Snapshot()) {
        auto* machine = dynamic_cast<CMachine*>(object.Get());
        if (machine == nullptr)
            continue;
        for (const CRef<CSession>& session : machine->GetSessions()) {
            if (session->IsOwnAddress(address))
                return true;
        }
    }
    return false;
}

bool AnyMachineConnected() {
    CMachineMap& machines = CNorvaneEngine::Instance().GetMachineMap();
    CScopedLock lock(machines);
    return !machines.IsEmpty();
}

}  // namespace

bool DialEventStatusText(DWORD state, const RASCONNSTATUSA* device, const std::string& entry,
                         std::string& text) {
    for (const StateText& row : kStateTexts) {
        if (row.state == state) {
            text = row.text;
            return true;
        }
    }
    if (state == RASCS_Connected) {
        text = FormatText(kStatusOnLine, entry.c_str());
        return true;
    }
    if (state == RASCS_Disconnected) {
        text = kStatusDisconnected;
        return true;
    }
    if (state != RASCS_ConnectDevice || device == nullptr)
        return false;
    const std::string type = GetField(device->szDeviceType);
    for (const DeviceText& row : kDeviceTexts) {
        if (strcasecmp(type.c_str(), row.deviceType) == 0) {
            text = FormatText(row.format, GetField(device->szDeviceName).c_str());
            return true;
        }
    }
    return false;
}

// --- Construction and settings -----------------------------------------------------------------

CDialerProfile::Settings::Settings()
    : autoConnect(kDefaultAutoConnect),
      autoDisconnect(kDefaultAutoDisconnect),
      disconnectAfter(kDefaultDisconnectAfter),
      retries(kDefaultRetries) {}

CDialerProfile::CDialerProfile() : CDialerProfile(kDefaultProfileName) {}

CDialerProfile::CDialerProfile(std::string name) : CFilterComponent(std::move(name), "") {
    m_accessRights.SetRightType(RightAccess);
    m_accessRights.SetDescription(kDefaultAccessDescription);
    m_accessRights.SetIncludeDefaultRights(0);
    m_status.dwSize = sizeof m_status;
}

CDialerProfile::~CDialerProfile() = default;

CDialer& CDialerProfile::Dialer() { return CNorvaneEngine::Instance().GetDialer(); }

CDialerProfile::Settings CDialerProfile::GetSettings() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_settings;
}

void CDialerProfile::SetSettings(const Settings& settings) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settings = settings;
}

void CDialerProfile::CopySettings(const CDialerProfile& other) {
    if (&other == this)
        return;
    SetSettings(other.GetSettings());
    m_accessRights.Copy(other.m_accessRights);
}

std::string CDialerProfile::GetDescriptionText() {
    const Settings s = GetSettings();
    std::string text = FormatText(kDescriptionFormat, s.username.c_str(), s.profileName.c_str(),
                                  s.autoConnect ? "" : kDisabledMark);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_settings.description = text;
    }
    SetDescription(text);
    return text;
}

// --- State -------------------------------------------------------------------------------------

std::string CDialerProfile::GetStatusText() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_statusText;
}

DWORD CDialerProfile::GetLineState() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lineState;
}

void CDialerProfile::SetLineState(DWORD lineState) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lineState = lineState;
}

HRASCONN CDialerProfile::GetHandle() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_handle;
}

void CDialerProfile::SetHandle(HRASCONN handle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handle = handle;
}

void CDialerProfile::SetDialling(bool dialling) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dialling = dialling;
}

bool CDialerProfile::IsDialling() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dialling;
}

void CDialerProfile::SetStatus(const char* format, ...) {
    char buffer[kMaxStatusText + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    const std::string text = buffer;
    DWORD lineState;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (text == m_statusText)
            return;
        m_statusText = text;
        lineState = m_lineState;
    }
    Dialer().WriteLog(kDialerDebug, kLogStatus, GetName().c_str(), text.c_str());
    CNorvaneEngine::Instance().NotifyDialerStatus(GetName(), lineState, text);
}

void CDialerProfile::StoreStatusText(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_statusText = text.substr(0, kMaxStatusText);
}

// --- Dialling ----------------------------------------------------------------------------------

void CDialerProfile::Dial() {
    CDialer& dialer = Dialer();
    const std::string name = GetName();
    if (!dialer.BeginDial()) {
        dialer.WriteLog(kDialerDebug, kLogDialWhileDialling, name.c_str());
        return;
    }
    const Settings s = GetSettings();
    RASDIALPARAMSA params{};
    params.dwSize = sizeof params;
    PutField(params.szEntryName, s.profileName);
    PutField(params.szCallbackNumber, kEntryDefault);
    PutField(params.szUserName, s.username);
    PutField(params.szPassword, s.password);
    PutField(params.szDomain, s.domain.empty() ? std::string(kEntryDefault) : s.domain);
    RASDIALEXTENSIONS extensions{sizeof extensions, kDialOptions, 0, 0};
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_status.szDeviceType[0] = '\0';
        m_status.szDeviceName[0] = '\0';
    }
    SetStatus(kStatusDialling, s.profileName.c_str());
    dialer.WriteLog(kDialerNormal, kLogDialling, s.profileName.c_str());

    for (LONG attempt = 0; attempt < s.retries && !dialer.IsStopping(); ++attempt) {
        const RasEntryPoints* ras = dialer.Ras();
        if (ras == nullptr)
            break;
        std::shared_ptr<CEvent> event;
        try {
            event = std::make_shared<CEvent>(true, false);
        } catch (const std::bad_alloc&) {
            dialer.WriteLog(kDialerDebug, kLogNoEvent, name.c_str());
            continue;
        }
        const std::uint32_t published = dialer.PublishDial(*this, event);
        SetHandle(0);
        SetDialling(true);
        HRASCONN handle = 0;
        DWORD result;
        if (dialer.GetUseSynchronousRasdial()) {
            dialer.WriteLog(kDialerDebug, kLogDialSynchronous, name.c_str());
            result = ras->RasDialA(&extensions, nullptr, &params, 0, nullptr, &handle);
            if (result != 0)
                event->Set();
        } else {
            RASDIALNOTIFIER notifier{&CDialer::OnRasNotify, dialer.NotifierContext(published)};
            result = ras->RasDialA(&extensions, nullptr, &params, RAS_NOTIFIER_FUNCTION,
                                   &notifier, &handle);
            if (result == 0)
                event->Wait(dialer.GetRasdialTimeout());
        }
        // An asynchronous dial that ended with an error answers it through its last event.
        const DWORD ended = dialer.WithdrawDial(published);
        if (result == 0)
            result = ended;
        SetHandle(handle);
        if (dialer.IsStopping()) {
            // The engine stops: a dial still under way is stopped, its line given back.
            if (handle != 0)
                ras->RasHangUpA(handle);
            SetDialling(false);
            break;
        }
        if (result != 0) {
            dialer.WriteLog(kDialerDebug, kLogDialFailed, name.c_str(), result);
            if (handle != 0) {
                dialer.WriteLog(kDialerDebug, kLogDialFailedHandle, name.c_str());
                ras->RasHangUpA(handle);
                dialer.PauseUnlessStopping(kResetAfterFailedDialMs);
                ras->RasHangUpA(handle);
            }
            const char* restart = result == ERROR_OUT_OF_BUFFERS      ? kLogOutOfBuffers
                                  : result == ERROR_CORRUPT_PHONEBOOK ? kLogCorruptPhonebook
                                  : result == ERROR_CANNOT_LOAD_PHONEBOOK ? kLogCannotLoadPhonebook
                                                                       : nullptr;
            if (restart != nullptr) {
                dialer.WriteLog(kDialerDebug, restart, name.c_str());
                dialer.RequestRestart();
                SetDialling(false);
                dialer.EndDial();
                return;
            }
        }
        SetDialling(false);
        if (IsOnLine()) {
            dialer.WriteLog(kDialerDebug, kLogDialSucceeded, name.c_str());
            break;
        }
        dialer.WriteLog(kDialerDebug, kLogDialPoint1, name.c_str());
        dialer.PauseUnlessStopping(kRecheckAfterFailedDialMs);
        if (!IsOnLine()) {
            dialer.WriteLog(kDialerDebug, kLogDialPoint2, name.c_str());
            Reset();
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_dialDone = true;
    }
    dialer.EndDial();
}

bool CDialerProfile::ApplyDialEvent(HRASCONN connection, DWORD state, DWORD error) {
    CDialer& dialer = Dialer();
    if (error != 0) {
        SetStatus("%s", dialer.ErrorText(error).c_str());
        return true;
    }
    RASCONNSTATUSA device{};
    device.dwSize = sizeof device;
    bool haveDevice = false;
    if (state == RASCS_ConnectDevice) {
        const RasEntryPoints* ras = dialer.Ras();
        haveDevice = ras != nullptr && ras->RasGetConnectStatusA(connection, &device) == 0;
        if (haveDevice) {
            std::lock_guard<std::mutex> lock(m_mutex);
            std::memcpy(m_status.szDeviceType, device.szDeviceType, sizeof device.szDeviceType);
            std::memcpy(m_status.szDeviceName, device.szDeviceName, sizeof device.szDeviceName);
        }
    }
    std::string text;
    if (DialEventStatusText(state, haveDevice ? &device : nullptr, GetSettings().profileName, text))
        SetStatus("%s", text.c_str());
    return state == RASCS_Connected || state == RASCS_Disconnected;
}

// --- Line state --------------------------------------------------------------------------------

BOOL CDialerProfile::IsOnLine() {
    if (IsDialling())
        return FALSE;
    CDialer& dialer = Dialer();
    const std::string entry = GetSettings().profileName;
    const std::optional<RASCONNA> connection = dialer.FindConnection(entry);
    const RasEntryPoints* ras = dialer.Ras();
    if (!connection || ras == nullptr) {
        SetLineState(kLineOff);
        SetStatus("%s", kStatusOffLine);
        return FALSE;
    }
    SetHandle(connection->hrasconn);
    RASCONNSTATUSA status{};
    status.dwSize = sizeof status;
    // A failed query shows why, never the last state it saw.
    if (const DWORD result = ras->RasGetConnectStatusA(connection->hrasconn, &status)) {
        SetLineState(kLineError);
        SetStatus("%s", dialer.ErrorText(result).c_str());
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_status = status;
    }
    if (status.dwError != 0) {
        // Connected with an error, or a line that failed or dropped and is not hung up yet.
        SetLineState(kLineError);
        SetStatus("%s", dialer.ErrorText(status.dwError).c_str());
        return FALSE;
    }
    if (status.rasconnstate != RASCS_Connected) {
        SetLineState(kLineOff);
        return FALSE;
    }
    SetLineState(kLineOn);
    SetStatus(kStatusOnLine, entry.c_str());
    return TRUE;
}

void CDialerProfile::HangUp() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_dialDone)
            return;
    }
    EndConnection(false);
}

void CDialerProfile::Reset() { EndConnection(true); }

void CDialerProfile::EndConnection(bool reset) {
    CDialer& dialer = Dialer();
    const std::string name = GetName();
    const std::string entry = GetSettings().profileName;
    dialer.WriteLog(kDialerNormal, reset ? kLogResetting : kLogDisconnecting, entry.c_str());
    SetStatus(kStatusDisconnecting, entry.c_str());
    for (unsigned pass = 1; pass <= kHangUpPasses; ++pass) {
        const std::optional<RASCONNA> connection = dialer.FindConnection(entry);
        const RasEntryPoints* ras = dialer.Ras();
        if (!connection || ras == nullptr) {
            dialer.WriteLog(kDialerDebug, reset ? kLogNoConnectionReset : kLogNoConnectionHangUp,
                            name.c_str(), pass);
            continue;
        }
        const HRASCONN handle = connection->hrasconn;
        if (const DWORD result = ras->RasHangUpA(handle)) {
            if (reset)
                dialer.WriteLog(kDialerDebug, kLogResetError, result);
            else
                dialer.WriteLog(kDialerDebug, kLogHangUpError, result);
            SetStatus("%s", dialer.ErrorText(result).c_str());
        } else {
            // The line is released once its handle is gone.
            const std::uint64_t start = GetTickCount64();
            for (;;) {
                RASCONNSTATUSA status{};
                status.dwSize = sizeof status;
                if (ras->RasGetConnectStatusA(handle, &status) == ERROR_INVALID_HANDLE)
                    break;
                if (GetTickCount64() - start > kHangUpWaitMs) {
                    dialer.WriteLog(kDialerDebug, reset ? kLogResetTimedOut : kLogHangUpTimedOut,
                                    name.c_str());
                    break;
                }
                Sleep(kHangUpPollMs);
            }
        }
        SetHandle(0);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lineState = kLineOff;
        if (!reset)
            m_dialDone = false;
    }
    SetStatus(kStatusDisconnectedFrom, entry.c_str());
}

void CDialerProfile::CheckIdle() {
    CDialer& dialer = Dialer();
    const RasEntryPoints* ras = dialer.Ras();
    if (ras == nullptr)
        return;
    RASPPPIPA projection{};
    projection.dwSize = sizeof projection;
    std::uint32_t bytes = sizeof projection;
    bool busy;
    if (const DWORD result = ras->RasGetProjectionInfoA(GetHandle(), RASP_PppIp, &projection, &bytes)) {
        dialer.WriteLog(kDialerDebug, kLogNoProjection, result);
        busy = AnyMachineConnected();
    } else {
        busy = AnySessionOn(GetField(projection.szIpAddress));
    }
    const std::uint64_t now = GetTickCount64();
    bool timedOut = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_lineState == kLineOn && !busy && m_settings.autoDisconnect) {
            if (!m_idleArmed) {
                const LONG seconds = std::max<LONG>(m_settings.disconnectAfter, 0);
                m_idleDeadline = now + static_cast<std::uint64_t>(seconds) * 1000;
                m_idleArmed = true;
            } else if (now > m_idleDeadline) {
                timedOut = true;
                m_idleArmed = false;
            }
        } else {
            m_idleArmed = false;
        }
    }
    if (timedOut) {
        dialer.WriteLog(kDialerDebug, kLogTimingOut, GetName().c_str());
        HangUp();
    }
}

// --- Stored forms ------------------------------------------------------------------------------

void CDialerProfile::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        Settings s;
        std::string status;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            s = m_settings;
            status = m_statusText;
        }
        ar << GetName() << s.description << s.autoConnect << s.autoDisconnect << s.disconnectAfter
           << s.profileName << s.username << Scrambled(s.password) << s.domain << s.retries
           << status;
        m_accessRights.Serialize(ar);
        return;
    }
    std::string name, status;
    Settings s;
    LoadBase(ar, name, s.description);
    ar >> s.autoConnect >> s.autoDisconnect >> s.disconnectAfter >> s.profileName >> s.username >>
        s.password >> s.domain >> s.retries >> status;
    ScramblePassword(s.password);
    CRight right;
    right.Serialize(ar);
    m_accessRights.Copy(right);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_settings = s;
        m_statusText = std::move(status);
    }
    SetName(std::move(name));
    SetDescription(s.description);
}

BOOL CDialerProfile::SaveToRegistry(const std::string& keyPath) const {
    const Settings s = GetSettings();
    return RegWriteString(keyPath, AccessFormat::kName, GetName()) &&
                   RegWriteString(keyPath, AccessFormat::kDescription, s.description) &&
                   RegWriteDWORD(keyPath, kAutoConnectValue, s.autoConnect) &&
                   RegWriteDWORD(keyPath, kAutoDisconnectValue, s.autoDisconnect) &&
                   RegWriteDWORD(keyPath, kDisconnectAfterValue, static_cast<DWORD>(s.disconnectAfter)) &&
                   RegWriteString(keyPath, kProfileNameValue, s.profileName) &&
                   RegWriteString(keyPath, kUsernameValue, s.username) &&
                   RegWriteString(keyPath, kPasswordValue, Scrambled(s.password)) &&
                   RegWriteString(keyPath, kDomainValue, s.domain) &&
                   RegWriteDWORD(keyPath, kRetriesValue, static_cast<DWORD>(s.retries)) &&
                   m_accessRights.SaveToRegistry(keyPath + "\\" + kAccessRightsKey)
               ? TRUE
               : FALSE;
}

void CDialerProfile::LoadFromRegistry(const std::string& keyPath) {
    Settings s;
    s.description = RegReadString(keyPath, AccessFormat::kDescription, "");
    s.autoConnect = RegReadDWORD(keyPath, kAutoConnectValue, kDefaultAutoConnect);
    s.autoDisconnect = RegReadDWORD(keyPath, kAutoDisconnectValue, kDefaultAutoDisconnect);
    s.disconnectAfter = static_cast<LONG>(
        RegReadDWORD(keyPath, kDisconnectAfterValue, static_cast<DWORD>(kDefaultDisconnectAfter)));
    s.profileName = RegReadString(keyPath, kProfileNameValue, "");
    s.username = RegReadString(keyPath, kUsernameValue, "");
    s.password = Scrambled(RegReadString(keyPath, kPasswordValue, ""));
    s.domain = RegReadString(keyPath, kDomainValue, "");
    s.retries = static_cast<LONG>(
        RegReadDWORD(keyPath, kRetriesValue, static_cast<DWORD>(kDefaultRetries)));
    m_accessRights.LoadFromRegistry(keyPath + "\\" + kAccessRightsKey);
    SetName(RegReadString(keyPath, AccessFormat::kName, ""));
    SetDescription(s.description);
    SetSettings(s);
}
