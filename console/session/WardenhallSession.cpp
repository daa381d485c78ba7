#include "console/session/WardenhallSession.h"

#include "console/AlertThread.h"
#include "console/MessageBoxStyles.h"
#include "console/session/ConsoleConfiguration.h"
#include "console/session/SessionTexts.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/Right.h"
#include "engine/framework/Service.h"
#include "foundation/ArchiveException.h"
#include "foundation/Format.h"
#include "foundation/LinkFormat.h"
#include "foundation/ScopedLock.h"
#include "foundation/X1SocketException.h"
#include "platform/framework/Exception.h"
#include "platform/net/Sockets.h"
#include "remote/RCPFormat.h"
#include "remote/RCPFraming.h"
#include "remote/RCPOperations.h"

using namespace RCPFormat;
using namespace RCPOperations;
using namespace ViewTargets;

namespace {

// The row of a code, or one that says nothing.
const Operation& RowOf(WORD code) {
    static constexpr Operation kNone{};
    const Operation* row = Find(code);
    return row != nullptr ? *row : kNone;
}

bool IsStatus(WORD op) { return op >= kStatusAccepted && op <= kStatusInternalError; }

}  // namespace

std::vector<BYTE> CWardenhallSession::CChannelFrames::ReceiveImage() { return m_channel.Receive(kShortPayload); }

CWardenhallSession::CWardenhallSession(IWardenhallHost& host)
    : CWardenhallSession(host, theConfiguration) {}

CWardenhallSession::CWardenhallSession(IWardenhallHost& host, CNorvaneEngine& configuration)
    : m_host(host), m_configuration(configuration), m_settings(host.LogonSettings()),
      m_frames(GetChannel()),
      m_notifications(configuration, host, m_frames, [this](WORD op) { QueueMessage(op, {}, {}, {}); }) {
    SetReadingEnabled(false);
}

CWardenhallSession::~CWardenhallSession() = default;

// --- Any thread --------------------------------------------------------------------------------

bool CWardenhallSession::Start() {
    m_bAutoDelete = true;  // the thread gives up the creator's reference as it ends
    if (CreateThread())
        return true;
    m_bAutoDelete = false;
    Release();
    return false;
}

void CWardenhallSession::Terminate(int exitCode) {
    m_ending = true;
    CSession::Terminate(exitCode);
}

void CWardenhallSession::EndSession(int code) {
    {
        std::lock_guard lock(m_handleMutex);
        if (m_handle >= 0)
            NetShutdownBoth(m_handle);
    }
    PostThreadMessage(WM_QUIT, static_cast<std::uintptr_t>(code), 0);
}

void CWardenhallSession::QueueMessage(WORD op, const std::string& arg1, const std::string& arg2,
                                      const std::string& arg3) {
    CRemoteControlSession::QueueMessage(op, arg1, arg2, arg3);
}

void CWardenhallSession::QueueRequest(WORD op, const std::string& arg1, CRef<CObject> object) {
    auto message = std::make_unique<CNVRCPMessage>(op, arg1);
    message->Target = std::move(object);
    QueueOutgoing(std::move(message));
}

void CWardenhallSession::UpdateViews(int target, UINT code, CRef<CObject> object) {
    m_host.Views().Post(CViewNotice{target, code, std::move(object)});
}

void CWardenhallSession::PublishHandle(int handle) {
    std::lock_guard lock(m_handleMutex);
    m_handle = handle;
}

// --- Log-on and end ----------------------------------------------------------------------------

bool CWardenhallSession::InitInstance() {
    try {
        m_clientSocket.Create();
        PublishHandle(m_clientSocket.GetHandle());
        m_clientSocket.SetLinkCredentials(LinkFormat::kLinkConsole, true, m_settings.userName,
                                          m_settings.password);
        if (IsEnding())
            return false;
        m_clientSocket.Connect(m_settings.server, static_cast<UINT>(m_settings.port));
        m_clientSocket.SetEventMask(FD_READ | FD_WRITE | FD_CLOSE);
        m_clientSocket.StartAsyncSelect();
    } catch (X1SocketException* e) {
        const int code = e->GetErrorCode();
        const std::string text = e->GetErrorText();
        e->Delete();
        FailLogon(code, text);
        return false;
    } catch (...) {
        DropCurrentException();
        FailLogon(0, {});
        return false;
    }
    if (IsEnding())
        return false;
    m_host.SetOnline(true);
    m_host.SetLastLogonSucceeded(true);
    SetReadingEnabled(true);
    return true;
}

void CWardenhallSession::FailLogon(int code, const std::string& text) {
    // A session told to end (a newer Go On-line, exit) leaves the console to its successor.
    if (!IsEnding()) {
        m_host.SetLastLogonSucceeded(false);
        m_host.SetOnline(false);
        std::string shown = FormatText(SessionTexts::kLogonFailedOther, text.c_str());
        if (code == SessionTexts::kLogonProtocolError)
            shown = FormatText(SessionTexts::kLogonFailedProtocol, text.c_str());
        for (const SessionTexts::LogonFailure& row : SessionTexts::kLogonFailures)
            if (row.code == code)
                shown = row.text;
        Alert(MB::kIconStop, SessionTexts::kLogonFailedTitle, shown);
    }
    Terminate(1);
}

int CWardenhallSession::ExitInstance() {
    m_ending = true;
    ClearQueue();
    if (m_host.ForgetSession(this)) {
        CloseSockets();
        m_host.SetOnline(false);
        UpdateViews(kActivity, ViewCodes::kSessionEnded, {});
        UpdateViews(kConfigurationView, ViewCodes::kSessionEnded, {});
        EmptyConfiguration(m_configuration);
    }
    return 0;
}

void CWardenhallSession::CloseSockets() {
    PublishHandle(-1);
    CTCPSession::CloseSockets();
}

// --- Messages of the engine --------------------------------------------------------------------

void CWardenhallSession::OnThreadMessage(const ThreadMessage& msg) {
    if (msg.message == SessionTexts::kTerminateMessage)
        Terminate(static_cast<int>(msg.wParam));
    else
        CRemoteControlSession::OnThreadMessage(msg);
}

void CWardenhallSession::OnRead(X1Socket& socket) {
    if (&socket != &m_clientSocket || !IsReadingEnabled() || IsEnding())
        return;
    try {
        if (m_clientSocket.GetBytesAvailable() < SessionTexts::kSmallestFrame)
            return;
        m_clientSocket.StopAsyncSelect();
        CNVRCPMessage message;
        ReceiveObject(message);
        HandleMessage(message);
    } catch (CArchiveException* e) {
        e->Delete();  // a malformed message, read whole: the next one is in step
    } catch (...) {
        DropCurrentException();
        Terminate(1);
        return;
    }
    SelectNotices();
}

void CWardenhallSession::OnClose(X1Socket& socket) {
    if (&socket != &m_clientSocket || m_ending.exchange(true))
        return;
    SetReadingEnabled(false);
    const DWORD thread = ThreadId();
    m_host.Alert(CAlertThread::kMessageBox, MB::kOk, {}, SessionTexts::kSessionTerminated, {},
                 [thread] { ::PostThreadMessage(thread, SessionTexts::kTerminateMessage, 1, 0); });
}

void CWardenhallSession::ProcessIncomingMessage(CNVRCPMessage& message) { m_notifications.Process(message); }

void CWardenhallSession::HandleMessage(CNVRCPMessage& message) {
    try {
        ProcessIncomingMessage(message);
    } catch (CArchiveException* e) {
        e->Delete();  // its objects were read whole: the stream is in step
    }
}

void CWardenhallSession::SelectNotices() {
    try {
        m_clientSocket.SetEventMask(FD_READ | FD_WRITE | FD_CLOSE);
        m_clientSocket.StartAsyncSelect();
    } catch (...) {
        DropCurrentException();  // the connection is gone: its close ends the session
    }
}

// --- Transactions ------------------------------------------------------------------------------

void CWardenhallSession::ProcessOutgoingMessage(CNVRCPMessage& request) {
    if (IsEnding())
        return;  // dropped, with the object it holds
    std::vector<std::vector<BYTE>> payload;
    if (!PreparePayload(request, payload))
        return;
    SetReadingEnabled(false);
    try {
        GetChannel().Send(RCPFraming::Encode(request, false));
        CNVRCPMessage reply;
        ReceiveStatus(reply);
        if (reply.Op == kStatusDenied) {
            // A list of the log-on refused shows nothing: a user without the right sees an
            // empty branch.
            if (RowOf(request.Op).logOn == 0)
                Alert(MB::kIconStop, SessionTexts::kAuthenticationTitle, SessionTexts::kAccessDenied);
        } else if (reply.Op == kStatusInternalError) {
            Alert(MB::kIconStop, SessionTexts::kServerErrorTitle, SessionTexts::kServerError);
        } else if (reply.Op == kStatusAccepted) {
            CarryOut(request, payload);
            ReceiveStatus(reply);
            if (reply.Op == kStatusCompleted && RowOf(request.Op).console == ConsoleUse::kBranch)
                UpdateViews(kConfigurationView, request.Op, {});
            else if (reply.Op == kStatusInternalError)
                Alert(MB::kIconStop, SessionTexts::kServerErrorTitle, SessionTexts::kServerError);
        }
    } catch (X1SocketException* e) {
        const std::string text = e->GetErrorText();
        e->Delete();
        if (!IsEnding())
            Alert(MB::kIconStop, SessionTexts::kInternalErrorTitle,
                  FormatText(SessionTexts::kInternalErrorSocket, text.c_str()));
        Terminate(1);
    } catch (...) {
        DropCurrentException();
        if (!IsEnding())
            Alert(MB::kIconStop, SessionTexts::kInternalErrorTitle, SessionTexts::kInternalError);
        Terminate(1);
    }
    SetReadingEnabled(true);
    SelectNotices();
}

void CWardenhallSession::ReceiveStatus(CNVRCPMessage& reply) {
    for (;;) {
        ReceiveObject(reply);
        if (IsStatus(reply.Op))
            return;
        HandleMessage(reply);
    }
}

bool CWardenhallSession::PreparePayload(const CNVRCPMessage& request,
                                        std::vector<std::vector<BYTE>>& frames) {
    // The object the request sends, framed now: found by reference under its container's
    // lock, it goes out after status 1 whatever happens to it meanwhile.
    auto add = [&frames](CObject* object, bool tagged) {
        if (object == nullptr)
            return false;
        frames.push_back(RCPFraming::Encode(*object, tagged));
        return true;
    };
    try {
        const Payload payload = RowOf(request.Op).request;
        switch (payload) {
        case Payload::kNewUser:
        case Payload::kNewGroup:
        case Payload::kNewLocation: return add(request.Target.Get(), false);
        case Payload::kNewService: return add(request.Target.Get(), true);
        case Payload::kUserDatabase:
        case Payload::kNamedUser:
        case Payload::kNamedGroup: {
            CGroupMemberDatabase& users = m_configuration.GetUserDatabase();
            CScopedLock lock(users);
            if (payload == Payload::kUserDatabase)
                return add(&users, false);
            return add(users.FindUser(request.Arg1, payload == Payload::kNamedGroup ? TRUE : FALSE),
                       false);
        }
        case Payload::kServiceManager:
        case Payload::kNamedService: {
            CServiceManager& services = m_configuration.GetServiceManager();
            CScopedLock lock(services);
            return add(payload == Payload::kServiceManager ? static_cast<CObject*>(&services)
                                                     : services.FindService(request.Arg1),
                       false);
        }
        case Payload::kRights:
            for (DWORD kind = 0; kind < kRightKindCount; ++kind)
                add(m_configuration.GetRight(kind), false);
            return true;
        case Payload::kLocationArray:
        case Payload::kNamedLocation: {
            CLocationArray& locations = m_configuration.GetLocations();
            CScopedLock lock(locations);
            if (payload == Payload::kLocationArray)
                return add(&locations, false);
            const std::string& name = request.Arg1 != request.Arg2 ? request.Arg2 : request.Arg1;
            return add(locations.FindLocation(name), false);
        }
        case Payload::kDialer: return add(&m_configuration.GetDialer(), false);
        case Payload::kCache: return add(&m_configuration.GetCache(), false);
        case Payload::kNothing:
        case Payload::kRightsToConsole:
        case Payload::kDialerToConsole:
        case Payload::kCacheToConsole: return true;
        }
        return true;
    } catch (X1SocketException* e) {
        // Too long for one frame: the request is not sent, the stream stays as it was.
        const std::string text = e->GetErrorText();
        e->Delete();
        Alert(MB::kIconStop, SessionTexts::kInternalErrorTitle,
              FormatText(SessionTexts::kInternalErrorSocket, text.c_str()));
    } catch (...) {
        DropCurrentException();
        Alert(MB::kIconStop, SessionTexts::kInternalErrorTitle, SessionTexts::kInternalError);
    }
    return false;
}

void CWardenhallSession::CarryOut(const CNVRCPMessage& request, const std::vector<std::vector<BYTE>>& frames) {
    for (const std::vector<BYTE>& frame : frames)
        GetChannel().Send(frame);
    const Operation& row = RowOf(request.Op);
    switch (row.request) {
    case Payload::kRightsToConsole: m_notifications.ReceiveRights(); break;
    case Payload::kDialerToConsole: m_notifications.ReceiveDialer(); break;
    case Payload::kCacheToConsole: m_notifications.ReceiveCache(); break;
    default: break;
    }
    switch (request.Op) {
    case kCommitConfiguration: m_host.SetConfigurationChanged(false); break;
    case kRetrieveServices: {
        CServiceManager& services = m_configuration.GetServiceManager();
        CScopedLock lock(services);
        services.DeleteElements();  // the services come again as messages 32
        break;
    }
    case kRetrieveActivity: m_configuration.GetMachineMap().DeleteAll(); break;  // then 71 and 74
    default: break;
    }
    if (row.console == ConsoleUse::kUnsaved)
        m_host.SetConfigurationChanged(true);
}

void CWardenhallSession::Alert(unsigned flags, const char* title, const std::string& text) {
    m_host.Alert(CAlertThread::kMessageBox, flags, title, text);
}
