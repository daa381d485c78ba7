// CWWWSession, protocol code 4: an ftp:// URL fetched by speaking FTP to its server in passive
// mode, and answered as HTTP (a file as its bytes, a directory as an HTML page, an upload with
// "200 OK" once the server stored it). CFTPControl decides every step; this file carries the
// steps out on the control connection (the remote socket), the data socket and the client.
//
// The data connection's events wait for the client's head: its bytes stay in the socket and a
// close is remembered until the head went, and then are taken in order (StartFTPData).

#include "proxies/web/WWWSession.h"

#include "engine/NorvaneEngine.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/OutboundFormat.h"
#include "engine/framework/QuietClose.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/Thread.h"
#include "platform/net/Sockets.h"
#include "proxies/web/FTPControl.h"

#include <ctime>

using FrameworkFormat::kExitError;
using FrameworkFormat::kExitNormal;

void CWWWSession::FTPProcessRequest() {
    DebugLine(kLogProcessingFTP, ThreadId());
    if (GetUpstream().ConnectMethod == OutboundFormat::kMethodHttpProxy) {
        HTTPProcessRequest();
        return;
    }
    if (const std::string page = CFTPControl::CheckRequest(m_request); !page.empty()) {
        SendFTPPage(page);
        return;
    }
    const std::optional<SHandlerFailure> failure = CatchFailure([&] {
        m_ftp = std::make_unique<CFTPControl>(m_request, kEngineFolder, m_requestBody.size());
        m_state = EWebState::ftp;
        ConnectToServer(m_remoteSocket, m_request.host, m_request.port, FD_READ | FD_CLOSE);
    });
    if (!failure)
        return;
    if (failure->IsSocket()) {
        EndOnSocketError(*failure, kErrorLineFTPSocket);
        return;
    }
    ErrorLine("%s", failure->kind == SHandlerFailure::EKind::memory ? kErrorLineFTPMemory
                                                                    : kErrorLineFTPUnknown);
    Finish(kExitError);
}

// --- control connection ---------------------------------------------------------------------

// One receive; every reply it completes is taken in order. Once the conversation is over
// (after a 226, or an error), what the server still says is read and dropped, so that its
// close is noticed.
void CWWWSession::OnFTPControlRead() {
    if (!m_ftp)
        return;
    DebugLine(kLogReceivingFTPReply, ThreadId());
    char buffer[kReceiveBufferSize];
    const int count = m_remoteSocket.Receive(buffer, sizeof buffer);
    if (count <= 0 || m_ftp->IsDone() || m_ftp->IsEnded())
        return;
    for (const SFTPReply& reply : m_ftpReplyReader.Append(std::string_view(buffer, count))) {
        if (IsFinished())
            return;
        DebugLine(kLogFTPReply, ThreadId(), reply.line.c_str());
        ProcessFTPReply(reply);
    }
    WatchFTPReplyLine();
}

void CWWWSession::ProcessFTPReply(const SFTPReply& reply) {
    DebugLine(kLogProcessingFTPReply, ThreadId());
    ApplyFTPStep(m_ftp->OnReply(reply, static_cast<std::int64_t>(std::time(nullptr))));
}

// Replies that came before the close were taken with its read notices.
void CWWWSession::OnFTPControlClose() {
    if (!m_ftp || IsFinished())
        return;
    StopFTPReplyTimer();
    m_ftpPhase = EFTPPhase::serverClosed;
    // A server that closes while the data connection is still open: what it holds ends the
    // transfer.
    if (m_ftpDataSocket.GetHandle() != INVALID_SOCKET_HANDLE && m_ftp->IsHeadSent()) {
        OnFTPDataClose();
        return;
    }
    ApplyFTPStep(m_ftp->OnControlClosed());
}

void CWWWSession::SendFTPCommand(DWORD code, const std::string& line) {
    DebugLine(kLogFTPCommand, ThreadId(), FTPCommandForLog(code, line).c_str());
    m_remoteSocket.Send(line.data(), static_cast<int>(line.size()));
}

// A reply line left unfinished gets kFTPReplyTimeoutMs to end, checked by a timer of the
// session's thread (OnFTPReplyTimer).
void CWWWSession::WatchFTPReplyLine() {
    if (m_ftpReplyReader.GetPendingBytes() == 0) {
        StopFTPReplyTimer();
        return;
    }
    if (m_ftpReplyTimer.id == 0) {
        m_ftpLineDeadline = GetTickCount64() + kFTPReplyTimeoutMs;
        m_ftpReplyTimer.id = SetTimer(kFTPReplyTimeoutMs);
    }
}

void CWWWSession::StopFTPReplyTimer() {
    if (m_ftpReplyTimer.id != 0)
        KillTimer(m_ftpReplyTimer.id);
    m_ftpReplyTimer.id = 0;
}

CWWWSession::SFTPReplyTimer::~SFTPReplyTimer() {
    if (id != 0)
        KillTimer(id);
}

void CWWWSession::OnFTPReplyTimer(DWORD timerId) {
    if (timerId != m_ftpReplyTimer.id || !m_ftp || IsFinished() ||
        GetTickCount64() < m_ftpLineDeadline)
        return;
    StopFTPReplyTimer();
    ApplyFTPStep(m_ftp->OnReplyTimeout());
}

// --- steps ----------------------------------------------------------------------------------

// Carries out one step of CFTPControl, in the order of its fields.
void CWWWSession::ApplyFTPStep(const SFTPStep& step) {
    if (step.endSession) {
        if (!step.toClient.empty()) {
            SendFTPPage(step.toClient);
            return;
        }
        CloseFTPData();
        Finish(m_ftp->IsHeadSent() ? kExitNormal : kExitError);
        return;
    }
    if (step.interim)
        SendInterimToClient(step.toClient);
    else if (!step.toClient.empty())
        SendToClient(step.toClient);
    if (step.dataPort)
        OpenFTPData(*step.dataPort);
    if (step.commandCode != FTP_NONE && m_ftpPhase != EFTPPhase::serverClosed)
        SendFTPCommand(step.commandCode, step.command);
    if (step.relayUpload)
        StartUpload();
    if (step.closeData)
        CloseFTPData();
    // An upload's head is its last answer: its data connection is closed by then.
    if (m_ftp->IsHeadSent() &&
        (m_ftpPhase == EFTPPhase::talking || m_ftpPhase == EFTPPhase::dataEnded)) {
        const bool ended = m_ftpPhase == EFTPPhase::dataEnded;
        m_ftpPhase = EFTPPhase::transferring;
        StartFTPData(ended);
    }
}

// A page that ends the request; the client connection closes after it.
void CWWWSession::SendFTPPage(const std::string& page) {
    SendLastToClient(page);
    CloseClient();
    CloseFTPData();
    Finish(kExitNormal);
}

// --- data connection -------------------------------------------------------------------------

// The data connection goes to the server of the control connection, never to the address
// the passive reply names: directly, to the control connection's peer address (no second
// lookup of the name); through an upstream SOCKS server or tunnel, to the URL's host. Either
// way through ConnectRemote, so the target guard sees it.
void CWWWSession::OpenFTPData(WORD port) {
    const bool direct = GetUpstream().ConnectMethod == OutboundFormat::kMethodDirect;
    const std::string host = direct ? m_remoteSocket.GetPeerAddress() : m_request.host;
    m_ftpTransferState = m_ftp->GetTransferState();
    CloseFTPData();
    if (m_ftpPhase == EFTPPhase::dataEnded)
        m_ftpPhase = EFTPPhase::talking;
    ConnectAndSelect(m_ftpDataSocket, host, port, FD_READ | FD_CLOSE);
}

void CWWWSession::CloseFTPData() { CloseQuietly(m_ftpDataSocket); }

void CWWWSession::StartFTPData(bool ended) {
    if (m_ftpDataSocket.GetHandle() == INVALID_SOCKET_HANDLE)
        return;
    if (ended)
        OnFTPDataClose();
    else
        OnFTPDataRead();
}

void CWWWSession::OnFTPDataRead() {
    if (!m_ftp || IsFinished() || !m_ftp->IsHeadSent())
        return;
    if (m_ftpTransferState == kFTPListing)
        ReadListing();
    else if (m_ftpTransferState == kFTPDownload)
        RelayDownloadData();
}

// Listing bytes of the data socket become page markup; false when none waited.
bool CWWWSession::ReadListing() {
    char buffer[kReceiveBufferSize];
    const int count = m_ftpDataSocket.Receive(buffer, sizeof buffer);
    if (count <= 0)
        return false;
    const std::string markup = m_ftp->OnListingData(std::string_view(buffer, count));
    if (!markup.empty())
        SendToClient(markup);
    return true;
}

bool CWWWSession::RelayDownloadData() {
    char buffer[kReceiveBufferSize];
    const int count = m_ftpDataSocket.Receive(buffer, sizeof buffer);
    if (count <= 0)
        return false;
    SendToClient(std::string_view(buffer, count));
    return true;
}

void CWWWSession::OnFTPDataClose() {
    if (!m_ftp || IsFinished() || m_ftpDataSocket.GetHandle() == INVALID_SOCKET_HANDLE)
        return;
    if (!m_ftp->IsHeadSent() && m_ftpTransferState != kFTPUpload) {
        m_ftpPhase = EFTPPhase::dataEnded;
        return;
    }
    if (m_ftpTransferState == kFTPListing) {
        while (ReadListing()) {
        }
    } else if (m_ftpTransferState == kFTPDownload) {
        while (RelayDownloadData()) {
        }
    }
    ApplyFTPStep(m_ftp->OnDataClosed());
    DebugLine(kLogFTPDataClosed, ThreadId());
}

// --- uploads ---------------------------------------------------------------------------------

// The server is ready for the file: the body that came with the head, then every client read.
void CWWWSession::StartUpload() {
    m_ftpPhase = EFTPPhase::uploading;
    if (!m_requestBody.empty()) {
        const std::string body = std::move(m_requestBody);
        m_requestBody.clear();
        SendUploadData(body);
    }
    RelayClientData();
}

void CWWWSession::SendUploadData(std::string_view bytes) {
    if (!m_ftp || IsFinished() || m_ftpTransferState != kFTPUpload ||
        m_ftpDataSocket.GetHandle() == INVALID_SOCKET_HANDLE)
        return;
    const CFTPControl::SUpload upload = m_ftp->OnUploadData(bytes.size());
    if (upload.send > 0)
        m_ftpDataSocket.Send(bytes.data(), static_cast<int>(upload.send));
    // The whole body went: the close tells the server the file ends, and its 226 answers
    // the client.
    if (upload.complete)
        CloseFTPData();
}
