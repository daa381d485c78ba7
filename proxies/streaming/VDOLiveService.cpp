#include "proxies/streaming/VDOLiveService.h"

#include "engine/framework/FrameworkFormat.h"
#include "proxies/streaming/VDOLiveFormat.h"
#include "proxies/streaming/VDOLiveSession.h"

using namespace VDOLiveFormat;

IMPLEMENT_SERIAL(CVDOLiveService, CTCPService, 1)

CVDOLiveService::CVDOLiveService() : CTCPService(kServicePort, kServiceName, kServiceName, FALSE) {
    SetServiceKind(FrameworkFormat::kKindVDOLive);
    SetSupportedMethods(kSupportedMethods);
}

CSession* CVDOLiveService::CreateSession(int acceptedHandle) {
    return new CVDOLiveSession(acceptedHandle);
}
