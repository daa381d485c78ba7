#include "engine/access/User.h"

#include "engine/access/AccessFormat.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"
#include "foundation/Scrambler.h"
#include "platform/framework/Exception.h"

#include <limits>
#include <new>

// The run-time base is the lockable object, as stored class records of users have it.
IMPLEMENT_SERIAL(CUser, CLockableObject, 1)

namespace {

constexpr std::int64_t kBytesPerMiB = 1048576;
constexpr std::int64_t kSecondsPerHour = 3600;

std::string HighName(const char* name) { return std::string(name) + AccessFormat::kHighSuffix; }
std::string LowName(const char* name) { return std::string(name) + AccessFormat::kLowSuffix; }

BOOL WriteAmount(const std::string& keyPath, const char* name, const CCurrency& amount) {
    return RegWriteDWORD(keyPath, HighName(name), static_cast<DWORD>(amount.GetHigh())) &&
                   RegWriteDWORD(keyPath, LowName(name), amount.GetLow())
               ? TRUE
               : FALSE;
}

CCurrency ReadAmount(const std::string& keyPath, const char* name) {
    return CCurrency::FromHalves(static_cast<LONG>(RegReadDWORD(keyPath, HighName(name), 0)),
                                 RegReadDWORD(keyPath, LowName(name), 0));
}

DWORD SaturatingAdd(DWORD a, DWORD b) {
    const DWORD sum = a + b;
    return sum < a ? std::numeric_limits<DWORD>::max() : sum;
}

}  // namespace

CUser::CUser() : CFilterComponent(EntryKind::user) {}

CUser::CUser(std::string name, std::string realName, std::string password, std::string description)
    : CFilterComponent(EntryKind::user, std::move(name), std::move(description)) {
    m_account.realName = std::move(realName);
    m_account.password = std::move(password);
}

void CUser::Copy(const CUser& other) {
    if (&other == this)
        return;
    m_account = other.m_account;
    CopyBase(other);
}

void CUser::AddUsage(DWORD clientSent, DWORD clientReceived, DWORD nonClientSent,
                     DWORD nonClientReceived, DWORD seconds) {
    const DWORD added[kCounterCount] = {clientSent, clientReceived, nonClientSent, nonClientReceived, seconds};
    for (std::size_t i = 0; i < kCounterCount; ++i)
        m_account.counters[i] = SaturatingAdd(m_account.counters[i], added[i]);
}

void CUser::OpenAuditFile() {
    CloseAuditFile();
    if (!m_account.auditUser)
        return;
    CLogFileRef file;
    try {
        file = CLogFile::OpenAuditLog(GetName());
    } catch (CException* e) {
        e->Delete();  // anything failing on the way turns auditing off, as a failed open does
    } catch (const std::bad_alloc&) {
    }
    if (!file) {
        m_account.auditUser = FALSE;
        return;
    }
    std::lock_guard<std::mutex> lock(m_auditMutex);
    m_auditFile = std::move(file);
}

void CUser::CloseAuditFile() {
    CLogFileRef closing;
    {
        std::lock_guard<std::mutex> lock(m_auditMutex);
        closing.swap(m_auditFile);
    }
}

CLogFileRef CUser::GetAuditFile() const {
    std::lock_guard<std::mutex> lock(m_auditMutex);
    return m_auditFile;
}

CCurrency CUser::TrafficCharge(const CCurrency& ratePerMiB, DWORD bytes) {
    const std::int64_t units = static_cast<std::int64_t>(bytes) * CCurrency::kScale / kBytesPerMiB;
    return ratePerMiB.MulDiv(units, CCurrency::kScale);
}

CCurrency CUser::TimeCharge(const CCurrency& ratePerHour, DWORD seconds) {
    const std::int64_t units = static_cast<std::int64_t>(seconds) * CCurrency::kScale / kSecondsPerHour;
    return ratePerHour.MulDiv(units, CCurrency::kScale);
}

CCurrency CUser::GetTotalCharges() const {
    CCurrency total;
    for (std::size_t i = ClientSendTraffic; i <= NonClientRecvTraffic; ++i)
        total += TrafficCharge(m_account.amounts[i], m_account.counters[i]);
    total += TimeCharge(m_account.amounts[TimeRate], m_account.counters[TimeOnLine]);
    return total;
}

void CUser::UpdateBalance() {
    m_account.amounts[ClosingBalance] = m_account.amounts[OpeningBalance] - GetTotalCharges();
}

BOOL CUser::ContainsUser(const std::string& userName) const {
    return userName == GetName() ? TRUE : FALSE;
}

BOOL CUser::SaveStatistics(const std::string& keyPath) const {
    for (std::size_t i = 0; i < kCounterCount; ++i) {
        if (!RegWriteDWORD(keyPath, AccessFormat::kUserCounters[i], m_account.counters[i]))
            return FALSE;
    }
    for (std::size_t i : {OpeningBalance, ClosingBalance}) {
        if (!WriteAmount(keyPath, AccessFormat::kUserAmounts[i], m_account.amounts[i]))
            return FALSE;
    }
    return TRUE;
}

BOOL CUser::SaveToRegistry(const std::string& keyPath) const {
    using namespace AccessFormat;
    const Account& a = m_account;
    if (!CFilterComponent::SaveToRegistry(keyPath) || !RegWriteString(keyPath, kType, kTypeUser) ||
        !RegWriteString(keyPath, kRealName, a.realName) ||
        !RegWriteString(keyPath, kPassword, ScrambledPassword(a.password)) || !SaveStatistics(keyPath))
        return FALSE;
    for (std::size_t i = ClientSendTrafficRate; i <= TimeRate; ++i) {
        if (!WriteAmount(keyPath, kUserAmounts[i], a.amounts[i]))
            return FALSE;
    }
    return RegWriteDWORD(keyPath, kAccountEnabled, static_cast<DWORD>(a.accountEnabled)) &&
                   RegWriteDWORD(keyPath, kUserCannotChangePassword,
                                 static_cast<DWORD>(a.userCannotChangePassword)) &&
                   RegWriteDWORD(keyPath, kUserMustChangePassword,
                                 static_cast<DWORD>(a.userMustChangePassword)) &&
                   RegWriteDWORD(keyPath, kAuditUser, static_cast<DWORD>(a.auditUser)) &&
                   RegWriteDWORD(keyPath, kAuditOptions, a.auditOptions)
               ? TRUE
               : FALSE;
}

void CUser::LoadFromRegistry(const std::string& keyPath) {
    using namespace AccessFormat;
    Account a;
    a.realName = RegReadString(keyPath, kRealName, "");
    a.password = ScrambledPassword(RegReadString(keyPath, kPassword, ""));
    for (std::size_t i = 0; i < kCounterCount; ++i)
        a.counters[i] = RegReadDWORD(keyPath, kUserCounters[i], 0);
    for (std::size_t i = 0; i < kAmountCount; ++i)
        a.amounts[i] = ReadAmount(keyPath, kUserAmounts[i]);
    a.accountEnabled = static_cast<BOOL>(RegReadDWORD(keyPath, kAccountEnabled, 1));
    a.userCannotChangePassword = static_cast<BOOL>(RegReadDWORD(keyPath, kUserCannotChangePassword, 0));
    a.userMustChangePassword = static_cast<BOOL>(RegReadDWORD(keyPath, kUserMustChangePassword, 0));
    a.auditUser = static_cast<BOOL>(RegReadDWORD(keyPath, kAuditUser, 0));
    a.auditOptions = RegReadDWORD(keyPath, kAuditOptions, 0);
    CFilterComponent::LoadFromRegistry(keyPath);
    m_account = std::move(a);
}

void CUser::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        const Account& a = m_account;
        StoreBase(ar);
        ar << a.realName << ScrambledPassword(a.password);
        for (DWORD counter : a.counters)
            ar << counter;
        for (const CCurrency& amount : a.amounts)
            ar << amount;
        ar << a.accountEnabled << a.userCannotChangePassword << a.userMustChangePassword
           << a.auditUser << a.auditOptions;
        return;
    }
    std::string name, description;
    LoadBase(ar, name, description);
    Account a;
    ar >> a.realName >> a.password;
    ScramblePassword(a.password);
    for (DWORD& counter : a.counters)
        ar >> counter;
    for (CCurrency& amount : a.amounts)
        ar >> amount;
    ar >> a.accountEnabled >> a.userCannotChangePassword >> a.userMustChangePassword >>
        a.auditUser >> a.auditOptions;
    m_account = std::move(a);
    SetName(std::move(name));
    SetDescription(std::move(description));
}
