#include "proxies/telnet/TelnetService.h"

#include "engine/framework/FrameworkFormat.h"
#include "proxies/telnet/TelnetFormat.h"
#include "proxies/telnet/TelnetSession.h"

using namespace TelnetFormat;

IMPLEMENT_SERIAL(CTelnetService, CTCPService, 1)

CTelnetService::CTelnetService() : CTCPService(kServicePort, kServiceName, kServiceName, FALSE) {
    SetServiceKind(FrameworkFormat::kKindTelnet);
    SetSupportedMethods(kSupportedMethods);
}

CSession* CTelnetService::CreateSession(int acceptedHandle) {
    return new CTelnetSession(acceptedHandle);
}
