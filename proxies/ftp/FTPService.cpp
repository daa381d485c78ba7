#include "proxies/ftp/FTPService.h"

#include "engine/framework/FrameworkFormat.h"
#include "proxies/ftp/FTPSession.h"
#include "proxies/ftp/FTPTexts.h"

IMPLEMENT_SERIAL(CFTPService, CTCPService, 1)

CFTPService::CFTPService()
    : CTCPService(kFTPServicePort, kFTPServiceName, kFTPServiceName, FALSE) {
    SetServiceKind(FrameworkFormat::kKindFTP);
    SetSupportedMethods(kFTPServiceMethods);
}

CSession* CFTPService::CreateSession(int acceptedHandle) {
    return new CFTPSession(acceptedHandle);
}
