// ftp:// URLs of CWWWSession. Not served yet: an ftp:// request gets the protocol-error page,
// and the FTP sockets never open.

#include "engine/framework/FrameworkFormat.h"
#include "proxies/web/FTPControl.h"
#include "proxies/web/WWWSession.h"

void CWWWSession::FTPProcessRequest() {
    DebugLine(kLogProcessingFTP, ThreadId());
    SendErrorPage(kProtocolErrorTitle, kProtocolErrorDescription);
    Finish(FrameworkFormat::kExitNormal);
}

void CWWWSession::OnFTPControlRead() {}
void CWWWSession::OnFTPControlClose() {}
void CWWWSession::OnFTPDataRead() {}
void CWWWSession::OnFTPDataClose() {}
void CWWWSession::RelayUploadData() {}
bool CWWWSession::ReceiveFTPReply() { return false; }
void CWWWSession::ProcessFTPReply() {}
void CWWWSession::SendFTPCommand(DWORD, const std::string&) {}
bool CWWWSession::ReadListing() { return false; }
void CWWWSession::SendListingHeader() {}
void CWWWSession::SendListingEntry(const std::string&, const std::string&, bool) {}
void CWWWSession::SendListingFooter() {}
