#include "proxies/streaming/RealAudioService.h"

#include "engine/framework/FrameworkFormat.h"
#include "proxies/streaming/RealAudioFormat.h"
#include "proxies/streaming/RealAudioSession.h"

using namespace RealAudioFormat;

IMPLEMENT_SERIAL(CRealAudioService, CTCPService, 1)

CRealAudioService::CRealAudioService()
    : CTCPService(kServicePort, kServiceName, kServiceName, FALSE) {
    SetServiceKind(FrameworkFormat::kKindRealAudio);
    SetSupportedMethods(kSupportedMethods);
}

CSession* CRealAudioService::CreateSession(int acceptedHandle) {
    return new CRealAudioSession(acceptedHandle);
}
