#include "proxies/web/FTPControl.h"

#include "proxies/web/ErrorPage.h"
#include "proxies/web/HeaderList.h"
#include "proxies/web/MimeTypes.h"
#include "proxies/web/ResponseHead.h"

#include <initializer_list>

namespace {

constexpr DWORD kReplyStart = 125;
constexpr DWORD kReplyOpening = 150;
constexpr DWORD kReplyOK = 200;
constexpr DWORD kReplySize = 213;
constexpr DWORD kReplyReady = 220;
constexpr DWORD kReplyTransferDone = 226;
constexpr DWORD kReplyPassive = 227;
constexpr DWORD kReplyLoggedIn = 230;
constexpr DWORD kReplyFileActionDone = 250;
constexpr DWORD kReplyNeedPassword = 331;
constexpr DWORD kReplyFailure = 400;
constexpr DWORD kReplyNotLoggedIn = 530;
constexpr DWORD kReplyUnavailable = 550;

bool IsOneOf(DWORD code, std::initializer_list<DWORD> codes) {
    for (DWORD c : codes)
        if (c == code)
            return true;
    return false;
}

bool ExpectsContinue(const CHeaderList& headers) {
    for (std::string_view element : HeaderElements(headers, "Expect"))
        if (EqualsNoCase(element, "100-continue"))
            return true;
    return false;
}

}  // namespace

CFTPControl::CFTPControl(const CWWWRequest& request, std::string folder, std::size_t bodyWithHead)
    : m_method(request.method),
      m_path(request.ftpPath),
      m_user(request.ftpUser),
      m_password(request.ftpPassword),
      m_expectsContinue(ExpectsContinue(request.headers)),
      m_bodyWithHead(bodyWithHead),
      m_upload(request),
      m_listing(request.ftpPath, std::move(folder)) {}

std::string CFTPControl::CheckRequest(const CWWWRequest& request) {
    if (EqualsNoCase(request.method, "GET"))
        return {};
    if (!EqualsNoCase(request.method, "PUT"))
        return BuildErrorPage(EPageStatus::notImplemented, kFTPErrorTitle, kFTPMethodDescription);
    if (request.bodyKind != EBodyKind::length)
        return BuildErrorPage(EPageStatus::badRequest, kFTPErrorTitle, kFTPUploadLengthDescription);
    return {};
}

SFTPStep CFTPControl::OnReply(const SFTPReply& reply, std::int64_t now) {
    if (m_done || m_ended || m_lastCommand == FTP_QUIT)
        return {};
    m_replyCode = reply.code;
    if (reply.code == 0)
        return Page(EPageStatus::badGateway, kFTPErrorTitle, kFTPBadReplyDescription, reply.line);
    bool handled = true;
    SFTPStep step = Dispatch(reply, now, handled);
    if (reply.code == kReplyTransferDone)
        m_done = true;
    if (!handled && reply.code >= kReplyFailure)
        return Page(EPageStatus::badGateway, kFTPErrorTitle, kFTPReplyErrorDescription, reply.line);
    return step;
}

SFTPStep CFTPControl::Dispatch(const SFTPReply& reply, std::int64_t now, bool& handled) {
    const DWORD code = reply.code;
    switch (m_lastCommand) {
    case FTP_NONE:
        if (code == kReplyReady)
            return Send(FTP_USER, m_user);
        break;
    case FTP_USER:
    case FTP_PASS:
        if (code == kReplyNeedPassword && m_lastCommand == FTP_USER)
            return Send(FTP_PASS, m_password);
        if (code == kReplyLoggedIn)
            return LoggedIn();
        if (code == kReplyNotLoggedIn)
            return Page(EPageStatus::forbidden, kAnonymousAccessDeniedTitle, kAnonymousAccessDeniedDescription);
        break;
    case FTP_SYST: return Send(FTP_CWD, m_path);
    case FTP_CWD:
        if (code == kReplyFileActionDone)
            return Send(FTP_PASV);
        if (code == kReplyUnavailable) {
            m_transfer = kFTPDownload;
            return Send(FTP_PASV);
        }
        break;
    case FTP_PASV:
        if (code == kReplyPassive) {
            const std::optional<WORD> port = ParsePassivePort(reply.line);
            if (!port)
                return Page(EPageStatus::badGateway, kFTPErrorTitle, kFTPBadReplyDescription, reply.line);
            SFTPStep step = Send(m_transfer == kFTPListing ? FTP_LIST : FTP_TYPE_I);
            step.dataPort = port;
            return step;
        }
        break;
    case FTP_TYPE_I:
        if (code == kReplyOK)
            return Send(m_transfer == kFTPUpload ? FTP_STOR : FTP_SIZE, m_path);
        break;
    case FTP_SIZE:
        if (code == kReplySize)
            m_size = ParseSizeReply(reply.line);
        return Send(FTP_RETR, m_path);
    case FTP_RETR:
    case FTP_LIST:
        if (IsOneOf(code, {kReplyStart, kReplyOpening}) ||
            (m_lastCommand == FTP_LIST && code == kReplyOK))
            return SendHead(reply, now);
        // Done without a preliminary reply: the head still goes first.
        if (IsOneOf(code, {kReplyTransferDone, kReplyFileActionDone}))
            return m_headSent ? SFTPStep() : SendHead(reply, now);
        if (code == kReplyUnavailable && m_lastCommand == FTP_RETR)
            return Page(EPageStatus::notFound, kFileAccessDeniedTitle, kFileAccessDeniedDescription);
        break;
    case FTP_STOR:
        if (IsOneOf(code, {kReplyOK, kReplyStart, kReplyOpening})) {
            SFTPStep step;
            step.relayUpload = true;
            if (m_expectsContinue && m_bodyWithHead == 0) {
                step.toClient = kContinueResponse;
                step.interim = true;
            }
            step.closeData = m_upload.IsComplete();
            return step;
        }
        if (code == kReplyTransferDone) {
            SFTPStep step = Send(FTP_QUIT);
            step.toClient = kUploadDoneResponse;
            step.closeData = true;
            m_headSent = true;
            return step;
        }
        if (code == kReplyUnavailable)
            return Page(EPageStatus::notFound, kFileAccessDeniedTitle, kFileAccessDeniedDescription);
        break;
    default: break;
    }
    handled = false;
    return {};
}

SFTPStep CFTPControl::LoggedIn() {
    if (EqualsNoCase(m_method, "GET"))
        return Send(FTP_SYST);
    if (EqualsNoCase(m_method, "PUT")) {
        m_transfer = kFTPUpload;
        return Send(FTP_PASV);
    }
    return Page(EPageStatus::notImplemented, kFTPErrorTitle, kFTPMethodDescription);
}

SFTPStep CFTPControl::Send(DWORD code, std::string_view argument) {
    const std::optional<std::string> line = BuildFTPCommand(code, argument);
    if (!line)
        return Page(EPageStatus::badRequest, kFTPErrorTitle, kMalformedRequestDescription);
    SFTPStep step;
    step.commandCode = code;
    step.command = *line;
    m_lastCommand = code;
    return step;
}

SFTPStep CFTPControl::SendHead(const SFTPReply& reply, std::int64_t now) {
    SFTPStep step;
    if (m_headSent)
        return step;
    if (m_transfer == kFTPListing) {
        step.toClient = BuildDocumentHead({.now = now,
                                           .contentType = "text/html",
                                           .lastModified = std::nullopt,
                                           .contentLength = std::nullopt});
        step.toClient += m_listing.Top(reply.collected);
    } else {
        const std::string type = GetMimeType(m_path);
        step.toClient = BuildDocumentHead(
            {.now = now, .contentType = type, .lastModified = std::nullopt, .contentLength = m_size});
    }
    m_headSent = true;
    return step;
}

SFTPStep CFTPControl::Page(EPageStatus status, const SErrorText& title, const SErrorText& description,
                           std::string_view replyLine) {
    SFTPStep step;
    step.endSession = true;
    step.closeData = true;
    const bool answered = m_headSent || m_ended;
    m_ended = true;
    if (answered)
        return step;
    std::string text = ReadErrorText(description);
    if (!replyLine.empty()) {
        text += ' ';
        text += replyLine;
    }
    step.toClient = BuildErrorPage(status, ReadErrorText(title), text);
    return step;
}

SFTPStep CFTPControl::OnControlClosed() {
    if (m_replyCode == kReplyNotLoggedIn)
        return Page(EPageStatus::forbidden, kAnonymousAccessDeniedTitle, kAnonymousAccessDeniedDescription);
    return Page(EPageStatus::badGateway, kFTPErrorTitle, kFTPServerClosedDescription);
}

SFTPStep CFTPControl::OnReplyTimeout() {
    return Page(EPageStatus::gatewayTimeout, kGatewayTimeoutTitle, kGatewayTimeoutDescription);
}

std::string CFTPControl::OnListingData(std::string_view bytes) {
    if (m_transfer != kFTPListing || !m_headSent)
        return {};
    return m_listing.AddData(bytes);
}

SFTPStep CFTPControl::OnDataClosed() {
    SFTPStep step;
    step.closeData = true;
    if (m_transfer == kFTPUpload)
        return step;
    if (m_transfer == kFTPListing && m_headSent)
        step.toClient = m_listing.Finish();
    if (m_lastCommand != FTP_QUIT) {
        SFTPStep quit = Send(FTP_QUIT);
        step.commandCode = quit.commandCode;
        step.command = quit.command;
    }
    return step;
}

CFTPControl::SUpload CFTPControl::OnUploadData(std::size_t count) {
    SUpload upload;
    if (m_transfer != kFTPUpload)
        return upload;
    upload.send = m_upload.Take(count);
    upload.complete = m_upload.IsComplete();
    return upload;
}
