#include "remote/RemoteControlSession.h"

#include "engine/LogFormat.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/AccessFormat.h"
#include "engine/access/AccessStore.h"
#include "engine/access/Right.h"
#include "engine/access/User.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/Machine.h"
#include "engine/framework/Service.h"
#include "engine/framework/UserAccounts.h"
#include "foundation/Format.h"
#include "foundation/LinkFormat.h"
#include "foundation/ScopedLock.h"
#include "foundation/X1SocketException.h"
#include "platform/framework/Exception.h"
#include "platform/kernel/Clock.h"
#include "remote/RCPFormat.h"
#include "remote/RCPOperations.h"
#include "remote/RequestDispatcher.h"

#include <algorithm>
#include <iterator>
#include <utility>

using namespace RCPFormat;
using namespace RCPOperations;

IMPLEMENT_SERIAL(CRemoteControlSession, CTCPSession, 1)

namespace {

// The failure in flight was a library exception (freed here) or another.
bool DropFailure() {
    try {
        throw;
    } catch (CException* e) {
        e->Delete();
        return true;
    } catch (...) {
    }
    return false;
}

}  // namespace

CRemoteControlSession::CRemoteControlSession() : m_channel(m_clientSocket) {
    SetDescription(kLoginDescription);
}

CRemoteControlSession::CRemoteControlSession(int acceptedHandle)
    : CTCPSession(acceptedHandle), m_channel(m_clientSocket) {
    SetDescription(kLoginDescription);
}

CRemoteControlSession::~CRemoteControlSession() = default;

// --- Start-up and log-on ---------------------------------------------------------------------

CLinkUserLookup CRemoteControlSession::UserLookup() { return LinkUserLookup(false); }

void CRemoteControlSession::BeforeAdmission() {
    m_clientSocket.SetLinkCredentials(LinkFormat::kLinkConsole, false, "", "");
    m_clientSocket.ServerHandshake(UserLookup(), &EngineLogOnThrottle());
}

void CRemoteControlSession::AfterAdmission() {
    LogOnToMachine(m_clientSocket.GetLinkUserName(), FrameworkFormat::kLevelAuthenticated);
}

void CRemoteControlSession::StartProtocol() {
    if (GetTerminateCount() != 0)
        return;  // its machine went meanwhile
    m_queueTimer = SetTimer(kQueueTimerMs);
    // The log-on's answer is queued before the first read notice can be: it is the first
    // message the console gets, whatever the console sends meanwhile.
    Initialize();
    if (GetTerminateCount() != 0)
        return;
    m_clientSocket.SetEventMask(FD_READ | FD_WRITE | FD_CLOSE);
    m_clientSocket.StartAsyncSelect();
}

CTCPSession::InitErrorTexts CRemoteControlSession::GetInitErrorTexts() const {
    return {kInitSocketException, kInitUnknownException};
}

void CRemoteControlSession::Initialize() {
    const std::string userName = GetUserName();
    if (!IsAccessGranted(FALSE)) {
        QueueMessage(kNotifyAlert, kAccessDeniedTitle, kAccessDeniedText, "");
        Sleep(kRefusalPauseMs);
        WriteServiceLog(LogFormat::kLogFailedAuthorisation, kCannotLogIn, userName.c_str());
        Terminate(kExitLogOnRefused);
        return;
    }
    const bool known = WithUserAccount(userName, [this](CUser& user) {
        if (user.GetUserMustChangePassword()) {
            m_mustChangeQueued = true;
            QueueMessage(kNotifyMustChangePassword, "", "", "");
        } else {
            QueueMessage(kNotifyLoggedOn, "", "", "");
        }
    });
    if (!known) {
        WriteServiceLog(LogFormat::kLogFailedAuthorisation, "%s", kNoSuchUser);
        Terminate(kExitLogOnRefused);
        return;
    }
    WriteAudit(LogFormat::kAuditLogOn, "%s", "");
}

// --- Thread messages -------------------------------------------------------------------------

void CRemoteControlSession::OnThreadMessage(const ThreadMessage& msg) {
    if (msg.message == kQueuedMessage)
        OnQueuedMessage();
    else if (msg.message == WM_TIMER && msg.wParam == m_queueTimer && m_queueTimer != 0)
        OnQueueTimer();
    else
        CTCPSession::OnThreadMessage(msg);
}

void CRemoteControlSession::OnRead(X1Socket& socket) {
    if (&socket != &m_clientSocket)
        return;
    try {
        ResetIdleTimer();
        if (!IsReadingEnabled() || m_clientSocket.GetBytesAvailable() <= 0)
            return;
    } catch (X1SocketException* e) {
        WriteServiceLog(LogFormat::kLogError, kReadSocketException, e->GetErrorText().c_str());
        e->Delete();
        Terminate(FrameworkFormat::kExitError);
        return;
    } catch (...) {
        DropCurrentException();
        WriteServiceLog(LogFormat::kLogError, "%s", kReadUnknownException);
        Terminate(FrameworkFormat::kExitError);
        return;
    }
    HandleRequest();
    EndIfBroken();
}

void CRemoteControlSession::HandleRequest() {
    CNVRCPMessage message;
    bool completed = false;
    try {
        ReceiveObject(message);
        std::string text;
        DescribeRequest(message, text);
        if (!CheckPermission(message)) {
            SendReply(kStatusDenied);
            WriteAudit(LogFormat::kAuditFailedAuthorisation, "%s", text.c_str());
            WriteServiceLog(LogFormat::kLogFailedAuthorisation, "%s", text.c_str());
            return;
        }
        SendReply(kStatusAccepted);
        ProcessIncomingMessage(message);
        SendReply(kStatusCompleted);
        completed = true;
        LogRequestResult(message);
        WriteAudit(LogFormat::kAuditText, "%s", text.c_str());
        WriteServiceLog(LogFormat::kLogRequest, "%s", "");
        ReportStatus(GetDescription());
        // The console has its status 3: only now may the engine go, this session with it.
        if (std::exchange(m_shutDownRequested, false))
            CNorvaneEngine::Instance().ShutDown(TRUE);
        return;
    } catch (...) {
        DropCurrentException();
    }
    // A status 3 already sent stands: the console has its answer.
    if (!completed)
        SendReply(kStatusInternalError, kInternalServerError);
    WriteServiceLog(LogFormat::kLogError, "%s", kRequestFailed);
}

void CRemoteControlSession::OnClose(X1Socket& socket) {
    if (&socket != &m_clientSocket)
        return;
    CNorvaneEngine::Instance().UnregisterConsole(this);
    if (CRef<CMachine> machine = GetMachine())
        machine->SetLogonState(FrameworkFormat::kLevelAssumed);
    Terminate(FrameworkFormat::kExitNormal);
}

void CRemoteControlSession::OnEnd() {
    try {
        if (m_queueTimer != 0) {
            KillTimer(m_queueTimer);
            m_queueTimer = 0;
        }
        CNorvaneEngine::Instance().UnregisterConsole(this);
        WriteAudit(LogFormat::kAuditLogOff, "%s", "");
    } catch (...) {
        DropCurrentException();
    }
    m_queue.Clear();
}

void CRemoteControlSession::CloseSockets() {
    try {
        m_clientSocket.CloseGracefully();
    } catch (...) {
        DropCurrentException();
    }
    CTCPSession::CloseSockets();
}

void CRemoteControlSession::EndIfBroken() {
    if (GetTerminateCount() != 0)
        return;
    const char* why = m_queueOverflow ? kQueueOverflow
                      : m_channel.IsOutOfStep() ? kStreamOutOfStep
                                                : nullptr;
    if (why == nullptr)
        return;
    WriteServiceLog(LogFormat::kLogError, "%s", why);
    Terminate(FrameworkFormat::kExitError);
}

// --- Outgoing queue --------------------------------------------------------------------------

void CRemoteControlSession::QueueMessage(WORD op, const std::string& arg1,
                                         const std::string& arg2, const std::string& arg3) {
    QueueOutgoing(std::make_unique<CNVRCPMessage>(op, arg1, arg2, arg3));
}

void CRemoteControlSession::QueueOutgoing(std::unique_ptr<CNVRCPMessage> message) {
    if (!m_queue.Push(std::move(message)))
        m_queueOverflow = true;
    ::PostThreadMessageOnce(ThreadId(), kQueuedMessage, 0, 0);
}

void CRemoteControlSession::OnQueuedMessage() {
    try {
        if (std::unique_ptr<CNVRCPMessage> message = m_queue.Pop()) {
            ProcessOutgoingMessage(*message);
            if (!m_queue.IsEmpty())
                ::PostThreadMessageOnce(ThreadId(), kQueuedMessage, 0, 0);
        }
    } catch (...) {
        DropCurrentException();
    }
    EndIfBroken();
}

void CRemoteControlSession::OnQueueTimer() { OnQueuedMessage(); }

void CRemoteControlSession::ProcessOutgoingMessage(CNVRCPMessage& message) {
    try {
        std::unique_ptr<CNVRCPMessage> followUp;
        const Frames frames = MakeOutgoingFrames(message, followUp);
        for (const std::vector<BYTE>& frame : frames) {
            if (!SendFrame(frame))
                return;
        }
        if (followUp)
            QueueMessage(followUp->Op, followUp->Arg1, followUp->Arg2, followUp->Arg3);
    } catch (...) {
        DropCurrentException();
        WriteServiceLog(LogFormat::kLogError, "%s", kOutgoingUnknownException);
        Terminate(FrameworkFormat::kExitError);
    }
}

CRemoteControlSession::Frames CRemoteControlSession::MakeOutgoingFrames(
    CNVRCPMessage& message, std::unique_ptr<CNVRCPMessage>& followUp) {
    CNorvaneEngine& engine = CNorvaneEngine::Instance();
    Frames frames;
    auto add = [&frames](CObject& object, bool tagged) {
        frames.push_back(RCPFraming::Encode(object, tagged));
    };
    // The message and the object it announces, or nothing when the object is gone.
    auto addWith = [&](CObject* object, bool tagged) {
        if (object == nullptr)
            return;
        add(message, false);
        add(*object, tagged);
    };
    const Operation* row = Find(message.Op);
    const Notice notice = row != nullptr ? row->notification : Notice::kNotSent;
    switch (notice) {
    case Notice::kNotSent: break;
    case Notice::kAlone: add(message, false); break;
    case Notice::kLogsOn:
        m_loggedOn = true;
        add(message, false);
        break;
    case Notice::kLogOnAnswer:
        if (m_mustChangeQueued.exchange(false))
            add(message, false);
        break;
    case Notice::kWithUser:
    case Notice::kWithGroup: {
        CScopedLock lock(engine.GetUserDatabase());
        const BOOL group = notice == Notice::kWithGroup ? TRUE : FALSE;
        addWith(engine.FindUser(message.Arg1, group), false);
        break;
    }
    case Notice::kAloneIfService:
    case Notice::kWithService:
    case Notice::kWithTaggedService: {
        CServiceManager& services = engine.GetServiceManager();
        CScopedLock lock(services);
        CService* service = services.FindService(message.Arg1);
        if (service == nullptr)
            break;
        if (notice == Notice::kAloneIfService) {
            add(message, false);
            break;
        }
        const bool tagged = notice == Notice::kWithTaggedService;
        addWith(service, tagged);
        if (tagged)
            followUp = std::make_unique<CNVRCPMessage>(
                kNotifyServiceState, message.Arg1,
                FormatText(kServiceStateFormat, service->GetRunState()));
        break;
    }
    case Notice::kWithRights:
        add(message, false);
        for (DWORD kind = 0; kind < kRightKindCount; ++kind)
            add(*engine.GetRight(kind), false);
        break;
    case Notice::kWithLocation:
    case Notice::kWithLocationArg2: {
        CLocationArray& locations = engine.GetLocations();
        CScopedLock lock(locations);
        const std::string& text = notice == Notice::kWithLocation ? message.Arg1 : message.Arg2;
        addWith(locations.FindLocation(text), false);
        break;
    }
    case Notice::kWithDialer:
        add(message, false);
        add(engine.GetDialer(), false);
        break;
    case Notice::kWithCache:
        add(message, false);
        add(engine.GetCache(), false);
        break;
    case Notice::kAloneIfMachine:
        if (engine.GetMachineMap().FindMachineRef(message.Arg1))
            add(message, false);
        break;
    }
    return frames;
}

// --- Framing ---------------------------------------------------------------------------------

BOOL CRemoteControlSession::SendFrame(const std::vector<BYTE>& frame) {
    try {
        m_channel.Send(frame);
        return TRUE;
    } catch (...) {
        WriteServiceLog(LogFormat::kLogError, "%s",
                        DropFailure() ? kSendLibraryException : kSendUnknownException);
    }
    return FALSE;
}

void CRemoteControlSession::SendObject(CObject& object) {
    std::vector<BYTE> frame;
    try {
        frame = RCPFraming::Encode(object, false);
    } catch (...) {
        WriteServiceLog(LogFormat::kLogError, "%s",
                        DropFailure() ? kSendLibraryException : kSendUnknownException);
        return;
    }
    SendFrame(frame);
}

void CRemoteControlSession::SendTaggedObject(CObject& object) {
    try {
        m_channel.Send(RCPFraming::Encode(object, true));
    } catch (CException* e) {
        e->Delete();
    }
}

void CRemoteControlSession::SendReply(WORD status, const std::string& arg1,
                                      const std::string& arg2, const std::string& arg3) {
    CNVRCPMessage reply(status, arg1, arg2, arg3);
    SendObject(reply);
}

std::vector<BYTE> CRemoteControlSession::ReceiveImage() { return m_channel.Receive(kShortPayload); }

void CRemoteControlSession::ReceiveObject(CObject& object) {
    const std::vector<BYTE> image = ReceiveImage();
    RCPFraming::DecodeInto(image.data(), image.size(), object);
}

std::unique_ptr<CObject> CRemoteControlSession::ReceiveTaggedObject(const CRuntimeClass* expected) {
    try {
        const std::vector<BYTE> image = m_channel.Receive(kCommunicationsFailure);
        return RCPFraming::DecodeTagged(image.data(), image.size(), expected);
    } catch (...) {
        DropCurrentException();
    }
    return nullptr;
}

// --- Requests --------------------------------------------------------------------------------

void CRemoteControlSession::DescribeRequest(const CNVRCPMessage& message, std::string& text) {
    const bool on = message.Arg2 == kArgOn;
    const bool off = message.Arg2 == kArgOff;
    switch (message.Op) {
    case kStartStopService:
        if (on || off)
            text = FormatText(on ? kStartServiceText : kStopServiceText, message.Arg1.c_str());
        return;
    case kDialHangUp:
        if (on || off)
            text = FormatText(on ? kDialText : kHangUpText, message.Arg1.c_str());
        return;
    case kTerminateSession:
        text = FormatText(Find(kTerminateSession)->text, message.Arg2.c_str(),
                          message.Arg1.c_str());
        return;
    default:
        break;
    }
    const Operation* row = Find(message.Op);
    if (row != nullptr && row->text != nullptr)
        text = FormatText(row->text, message.Arg1.c_str());
}

BOOL CRemoteControlSession::IsRightGranted(DWORD kind) {
    CRight* right = CNorvaneEngine::Instance().GetRight(kind);
    if (right == nullptr)
        return FALSE;
    try {
        return right->IsGranted(*this, FALSE);
    } catch (...) {
        DropCurrentException();
    }
    return FALSE;
}

BOOL CRemoteControlSession::CheckPermission(const CNVRCPMessage& message) {
    return CRequestDispatcher(*this).CheckPermission(message);
}

void CRemoteControlSession::ProcessIncomingMessage(CNVRCPMessage& message) {
    CRequestDispatcher(*this).Process(message);
}

void CRemoteControlSession::ChangePassword(const CNVRCPMessage& message) {
    WithUserAccount(message.Arg1, [&](CUser& user) {
        if (user.GetUserCannotChangePassword()) {
            QueueMessage(kNotifyAlert, kPasswordChangeDeniedTitle, kPasswordChangeDeniedText, "");
            return;
        }
        if (!CLinkHandshake::SameText(message.Arg2, user.GetPassword())) {
            QueueMessage(kNotifyAlert, kInvalidPasswordTitle, kInvalidPasswordText, "");
            return;
        }
        user.SetPassword(message.Arg3);
        if (user.GetUserMustChangePassword()) {
            QueueMessage(kNotifyLoggedOn, "", "", "");
            user.SetUserMustChangePassword(FALSE);
        }
        user.SaveToRegistry(SubKeyPath(AccessFormat::kUserDatabaseKey, user.GetName()));
    });
}

void CRemoteControlSession::LogRequestResult(const CNVRCPMessage& message) {
    CNorvaneEngine& engine = CNorvaneEngine::Instance();
    const WORD op = message.Op;
    if (op != kStartStopService && IsRequest(op)) {
        std::string text;
        DescribeRequest(message, text);
        SetDescription(FormatText(kRequestDescription, text.c_str()));
    }
    if (const Operation* row = Find(op); row != nullptr && row->echoed)
        engine.NotifyConsolesMessage(message);
    if (op != kAddService && op != kModifyService && op != kStartStopService)
        return;
    CServiceManager& services = engine.GetServiceManager();
    CScopedLock lock(services);
    CService* service = services.FindService(message.Arg1);
    if (service == nullptr)
        return;
    const int state = service->GetRunState();
    if (op == kStartStopService && (message.Arg2 == kArgOn || message.Arg2 == kArgOff)) {
        const bool start = message.Arg2 == kArgOn;
        const bool failed = state != (start ? CService::kRunning : CService::kStopped);
        const char* format = start ? (failed ? kStartFailedDescription : kStartDescription)
                                   : (failed ? kStopFailedDescription : kStopDescription);
        SetDescription(FormatText(format, message.Arg1.c_str()));
    }
    engine.NotifyConsoles(kNotifyServiceState, message.Arg1, FormatText(kServiceStateFormat, state),
                          "");
}
