// CONNECT tunnels of CWWWSession. Not served yet: a CONNECT gets the protocol-error page.

#include "engine/framework/FrameworkFormat.h"
#include "proxies/web/WWWSession.h"

void CWWWSession::SSLPreProcessRequest() {
    DebugLine(kLogProcessingTunnel, ThreadId());
    SendErrorPage(kProtocolErrorTitle, kProtocolErrorDescription);
    Finish(FrameworkFormat::kExitNormal);
}
