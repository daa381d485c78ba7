#include "proxies/dns/DNSService.h"

#include "engine/LogFormat.h"
#include "engine/NorvaneEngine.h"
#include "engine/framework/FrameworkFormat.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"
#include "foundation/X1SocketException.h"
#include "platform/framework/Exception.h"
#include "platform/net/AsyncResolver.h"
#include "proxies/dns/DNSFormat.h"
#include "proxies/dns/DNSSession.h"

#include <array>
#include <utility>
#include <vector>

using namespace DNSFormat;

namespace {

// Datagrams taken from the socket by one receive, and served for one read notice, at most.
constexpr std::size_t kDatagramsPerReceive = 16;
constexpr int kDatagramsPerNotice = 64;

}  // namespace

IMPLEMENT_SERIAL(CDNSService, CUDPService, 1)

CDNSService::CDNSService()
    : CUDPService(kServicePort, kServiceName, kServiceName, FALSE),
      m_allowAutodial(kDefaultAllowAutodial),
      m_resolver(&CAsyncResolver::Instance()) {
    SetServiceKind(FrameworkFormat::kKindDNS);
}

void CDNSService::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        CMutexLock lock(SettingsMutex());
        StoreRecord(ar);
        ar << m_allowAutodial;
        return;
    }
    std::unique_ptr<Record> record = ReadRecord(ar);
    DWORD allow = 0;
    ar >> allow;
    CMutexLock lock(SettingsMutex());
    ApplyRecord(*record);
    m_allowAutodial = allow;
}

BOOL CDNSService::SaveToRegistry(const std::string& keyPath) const {
    CMutexLock lock(SettingsMutex());
    bool ok = CUDPService::SaveToRegistry(keyPath) != FALSE;
    ok &= RegWriteDWORD(keyPath, kAllowAutodialValue, m_allowAutodial) != FALSE;
    return ok ? TRUE : FALSE;
}

void CDNSService::LoadFromRegistry(const std::string& keyPath) {
    CMutexLock lock(SettingsMutex());
    CUDPService::LoadFromRegistry(keyPath);
    m_allowAutodial = RegReadDWORD(keyPath, kAllowAutodialValue, kDefaultAllowAutodial);
}

DWORD CDNSService::GetAllowAutodial() const {
    CMutexLock lock(SettingsMutex());
    return m_allowAutodial;
}

void CDNSService::SetAllowAutodial(DWORD allow) {
    CMutexLock lock(SettingsMutex());
    m_allowAutodial = allow;
}

// --- Queries --------------------------------------------------------------------------------

void CDNSService::OnDatagram(int socketHandle) {
    if (socketHandle < 0 || socketHandle != GetSocket().GetHandle())
        return;
    // Every datagram waiting is served, many per receive, up to a bound that keeps the lookup
    // results behind this notice from waiting long (a read notice follows while more wait).
    // The lookups they start wake the lookup threads once, at the end.
    CAsyncResolver::Batch batch(GetResolver());
    const SessionSettings settings = GetSessionSettings();
    std::array<std::array<BYTE, CDNSMessage::Capacity()>, kDatagramsPerReceive> buffers;
    std::array<NetDatagram, kDatagramsPerReceive> datagrams;
    for (int served = 0; served < kDatagramsPerNotice;) {
        for (std::size_t i = 0; i < datagrams.size(); ++i) {
            datagrams[i] = NetDatagram{};
            datagrams[i].buffer = buffers[i].data();
            datagrams[i].size = buffers[i].size();
        }
        int got = 0;
        try {
            got = GetSocket().ReceiveDatagrams(datagrams.data(), static_cast<int>(datagrams.size()));
        } catch (X1SocketException* e) {
            e->Delete();
            return;
        }
        for (int i = 0; i < got; ++i) {
            // An empty datagram asks nothing; one over 512 bytes arrives cut, and is dropped.
            if (datagrams[i].length > 0 && !datagrams[i].truncated)
                ServeDatagram(buffers[i].data(), datagrams[i].length, datagrams[i].from, settings);
        }
        served += got;
        if (got < static_cast<int>(datagrams.size()))
            return;  // nothing more was waiting
    }
}

CDNSService::SessionSettings CDNSService::GetSessionSettings() const {
    CMutexLock lock(SettingsMutex());
    const Settings settings = GetSettings();
    SessionSettings taken;
    taken.logOptions = settings.logOptions;
    taken.logFile = GetLogFile();
    taken.timeOutSessions = settings.timeOutSessions;
    taken.sessionTimeout = settings.sessionTimeout;
    taken.allowAutodial = m_allowAutodial;
    return taken;
}

void CDNSService::ServeDatagram(const BYTE* bytes, std::size_t length, const NetAddress& from,
                                const SessionSettings& settings) {
    CRef<CDNSSession> session = CRef<CDNSSession>::Adopt(new CDNSSession(this));
    try {
        session->SetAccessRights(*this);
        session->SetLoggingValues(settings.logOptions, settings.logFile);
        session->SetSessionTimeout(settings.timeOutSessions, settings.sessionTimeout);
        session->Message().Assign(bytes, length);
        session->SetClient(from);
        session->AddClientBytesReceived(static_cast<DWORD>(length));

        if (!CNorvaneEngine::Instance().RegisterSession(session.Get()))
            return;  // refused: the engine ended it
        session->WriteAudit(LogFormat::kAuditSessionCreated, "%s", "");
        session->WriteServiceLog(LogFormat::kLogSessionCreated, "%s", "");
        if (!session->CheckAccess(TRUE))
            return;  // refused: answered and ended
        session->SetAllowAutodial(settings.allowAutodial);
        if (session->ProcessQuery()) {
            AddSession(session.Get());
            return;
        }
        session->SendReply();
        session->Terminate(FrameworkFormat::kExitNormal);
        return;
    } catch (X1SocketException* e) {
        e->Delete();
    } catch (...) {
        DropCurrentException();
        WriteLog(LogFormat::kLogError, "%s", kOnReadUnknownException);
    }
    // A query whose handling failed part-way is answered as a server failure and ends.
    try {
        session->BuildRefusal(kRcodeServerFailure);
        session->SendReply();
    } catch (X1SocketException* e) {
        e->Delete();
    } catch (...) {
        DropCurrentException();
    }
    session->Terminate(FrameworkFormat::kExitError);
}

void CDNSService::OnHostLookupResult(std::uintptr_t wParam, std::intptr_t lParam) {
    // The lookup of wParam is taken with every other that finished meanwhile (the error comes
    // with each result): the lookups are started with one completion per take. Their replies
    // have gone from the resolver's threads; what is left is ending their sessions.
    (void)wParam;
    (void)lParam;
    std::vector<CAsyncResolver::FinishedLookup> finished;
    finished.swap(m_finishedLookups);  // a call nested in an ending session finds it empty
    finished.clear();
    GetResolver().TakeFinished(ThreadId(), &finished);
    for (const CAsyncResolver::FinishedLookup& result : finished) {
        // The map holds the sessions ServeDatagram made: DNS sessions only.
        CRef<CUDPSession> found = FindSessionRef(static_cast<DWORD>(result.id));
        auto* session = static_cast<CDNSSession*>(found.Get());
        if (session == nullptr)
            continue;  // its session has ended
        int replyError = 0;
        if (!session->FinishLookup(result.id, &replyError))
            continue;  // another lookup's session, or one that has ended
        if (replyError == CDNSSession::kUnknownReplyFailure) {
            WriteLog(LogFormat::kLogError, "%s", kLookupUnknownException);
        } else if (replyError != 0) {
            const X1SocketException failure(replyError);
            WriteLog(LogFormat::kLogError, kLookupSocketException, failure.GetErrorText().c_str());
        }
        session->Terminate(FrameworkFormat::kExitNormal);
    }
    finished.clear();
    m_finishedLookups.swap(finished);
}
