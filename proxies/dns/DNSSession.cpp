#include "proxies/dns/DNSSession.h"

#include "engine/LogFormat.h"
#include "engine/NorvaneEngine.h"
#include "engine/framework/DatagramOutlet.h"
#include "engine/framework/DisplayText.h"
#include "engine/framework/HandlerGuard.h"
#include "foundation/NVDataObject.h"
#include "foundation/X1SocketException.h"
#include "platform/net/AsyncResolver.h"
#include "platform/net/SocketErrors.h"
#include "proxies/dns/DNSFormat.h"
#include "proxies/dns/DNSService.h"

#include <memory>
#include <optional>

using namespace DNSFormat;

IMPLEMENT_SERIAL(CDNSSession, CUDPSession, 1)

// One session is made per query. Kept within 1000 bytes, its heap block stays among the small
// ones, whose allocation never first consolidates the heap's recently freed blocks.
static_assert(sizeof(CDNSSession) <= 1000, "a DNS session has outgrown the heap's small blocks");

CDNSSession::CDNSSession() = default;

CDNSSession::CDNSSession(CDNSService* owner) : CUDPSession(owner) {}

CDNSService* CDNSSession::GetDNSService() const {
    // Only a DNS service is ever given to a DNS session (the one constructor that takes one).
    return static_cast<CDNSService*>(GetService());
}

void CDNSSession::EndSession(int code) {
    if (const std::uint64_t id = m_lookupId.exchange(0)) {
        if (CDNSService* service = GetDNSService())
            service->GetResolver().Cancel(id);
    }
    CUDPSession::EndSession(code);
}

void CDNSSession::SendAccessDenied() {
    if (m_message.Length() == 0 || m_message.IsResponse())
        return;  // nothing to answer, or a response, which is never answered
    std::string name;
    WORD type = 0;
    WORD qclass = 0;
    m_message.ParseQuestion(&name, &type, &qclass);  // the refusal repeats a question it can read
    BuildRefusal(kRcodeRefused);
    SendReply();
}

void CDNSSession::GetValue(DWORD id, CNVDataObject& value) {
    if (id == 2)
        value.SetString(GetQueriedName());
    else
        CUDPSession::GetValue(id, value);
}

std::string CDNSSession::GetQueriedName() const {
    CMutexLock lock(m_nameMutex);
    return m_queriedName;
}

void CDNSSession::SetQueriedName(const std::string& name) {
    CMutexLock lock(m_nameMutex);
    m_queriedName = name;
}

void CDNSSession::BuildRefusal(int code) { m_message.BuildRefusal(code); }

void CDNSSession::BuildAnswer(const HostLookup& lookup) {
    if (lookup.addresses.empty() ||
        !m_message.BuildAnswer(lookup.officialName, lookup.addresses.front()))
        BuildRefusal(kRcodeServerFailure);
}

BOOL CDNSSession::ProcessQuery() {
    // A response is nobody's query: answering it could start a loop between two servers. A
    // datagram shorter than a header is no query either (its refusal is empty).
    if (m_message.IsResponse() || m_message.Length() < kHeaderSize) {
        m_message.SetLength(0);
        return FALSE;
    }
    std::string name;
    WORD type = 0;
    WORD qclass = 0;
    const bool parsed = m_message.ParseQuestion(&name, &type, &qclass);
    if (const int opcode = m_message.Opcode(); opcode != kOpcodeQuery) {
        if (opcode == kOpcodeIQuery)
            WriteServiceLog(LogFormat::kLogError, "%s", kOpcodeIQueryText);
        else if (opcode == kOpcodeStatus)
            WriteServiceLog(LogFormat::kLogError, "%s", kOpcodeStatusText);
        BuildRefusal(kRcodeNotImplemented);
        return FALSE;
    }
    if (!parsed || qclass != kClassIN) {
        BuildRefusal(kRcodeFormatError);
        return FALSE;
    }
    // The name as logs and consoles show it: its bytes came from the network.
    const std::string shown = SanitizeDisplayText(name);
    if (type != kTypeA) {
        for (const UnsupportedType& row : kUnsupportedTypes) {
            if (row.type == type)
                WriteServiceLog(LogFormat::kLogError, row.text, shown.c_str());
        }
        BuildRefusal(kRcodeFormatError);
        return FALSE;
    }
    DWORD numeric = 0;
    if (ParseNumericHostAddress(name, &numeric)) {
        BuildRefusal(kRcodeNameError);
        return FALSE;
    }
    SetQueriedName(name);
    std::string description;
    description.reserve(std::char_traits<char>::length(kDescriptionPrefix) + shown.size());
    description.append(kDescriptionPrefix).append(shown);
    SetDescription(description);
    CNorvaneEngine::Instance().NotifySessionStarted(GetClientAddress(), GetSessionId(),
                                                    description);
    WriteAudit(LogFormat::kAuditRequest, "%s", "");
    WriteServiceLog(LogFormat::kLogRequest, "%s", "");
    if (!CheckAccess(FALSE))
        return FALSE;  // refused: answered and ended
    if (!StartLookup(name)) {
        BuildRefusal(kRcodeServerFailure);
        return FALSE;
    }
    return TRUE;
}

bool CDNSSession::StartLookup(const std::string& name) {
    CDNSService* service = GetDNSService();
    if (service == nullptr)
        return false;
    // The reply leaves from the resolver's thread the moment the lookup is done; the service
    // thread only ends the session afterwards.
    AddRef();  // the resolver's, given up in ReleaseHooks
    const std::uint64_t id =
        service->GetResolver().Start(name, service->ThreadId(), CUDPService::kHostLookupMessage,
                                     *this, CAsyncResolver::Notice::oncePerTake, m_client.address);
    if (id == 0) {
        Release();
        return false;
    }
    m_lookupId = id;
    SetKey(static_cast<DWORD>(id));
    return true;
}

int CDNSSession::BeforeLookup() {
    if (!m_allowAutodial)
        return 0;
    // Dialling may take long: it runs on the lookup thread, never the service's.
    const std::optional<SHandlerFailure> failure =
        CatchFailure([this] { CNorvaneEngine::Instance().CheckDialFirst(this); });
    if (!failure || !failure->IsSocket())
        return 0;
    return failure->code != 0 ? failure->code : WSANO_RECOVERY;
}

void CDNSSession::AfterLookup(int error, const HostLookup& lookup) {
    // The session holds its service; the outlet is gone once the service's socket closes.
    const std::shared_ptr<CDatagramOutlet> outlet = GetDNSService()->GetOutlet();
    if (!outlet) {
        if (!HasSessionEnded())
            m_replyError = WSAENOTSOCK;
        return;
    }
    AnswerLookup(error, lookup, *outlet);
}

void CDNSSession::ReleaseHooks() { Release(); }

void CDNSSession::AnswerLookup(int error, const HostLookup& lookup, CDatagramOutlet& outlet) {
    if (HasSessionEnded())
        return;  // ended while it was looked up: nobody waits for the reply
    const std::optional<SHandlerFailure> failure = CatchFailure([&] {
        OnLookupDone(error, lookup);
        NetOutgoingDatagram reply;
        if (!TakeReply(&reply))
            return;
        outlet.Send(&reply, 1);
        if (reply.sent >= 0)
            CountReplySent(reply);
        else
            m_replyError = reply.error != 0 ? reply.error : WSAGetLastError();
    });
    if (failure)
        m_replyError = kUnknownReplyFailure;
}

bool CDNSSession::FinishLookup(std::uint64_t id, int* replyError) {
    std::uint64_t expected = id;
    if (id == 0 || !m_lookupId.compare_exchange_strong(expected, 0))
        return false;
    *replyError = m_replyError.load();
    return true;
}

void CDNSSession::OnLookupDone(int error, const HostLookup& lookup) {
    if (error == 0)
        BuildAnswer(lookup);
    else if (error == WSAHOST_NOT_FOUND || error == WSANO_DATA)
        BuildRefusal(kRcodeNameError);
    else
        BuildRefusal(kRcodeServerFailure);
}

void CDNSSession::SetClient(const NetAddress& client) {
    m_client = client;
    SetClientAddress(FormatDottedAddress(client.address), client.port);
}

BOOL CDNSSession::TakeReply(NetOutgoingDatagram* datagram) {
    const std::size_t length = m_message.Length();
    if (length == 0)
        return FALSE;
    m_message.SetLength(0);  // sent once
    *datagram = NetOutgoingDatagram{};
    datagram->bytes = m_message.Data();
    datagram->count = length;
    datagram->to = m_client;
    return TRUE;
}

void CDNSSession::CountReplySent(const NetOutgoingDatagram& datagram) {
    if (datagram.sent > 0)
        AddClientBytesSent(static_cast<DWORD>(datagram.sent));
}

void CDNSSession::SendReply() {
    CUDPService* service = GetService();
    NetOutgoingDatagram reply;
    if (service == nullptr || !TakeReply(&reply))
        return;
    service->GetSocket().SendDatagrams(&reply, 1);
    if (reply.sent < 0)
        throw new X1SocketException(reply.error);
    CountReplySent(reply);
}
