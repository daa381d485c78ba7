#include "remote/RemoteControlService.h"

#include "engine/framework/FrameworkFormat.h"
#include "remote/RemoteControlSession.h"

using namespace FrameworkFormat;

IMPLEMENT_SERIAL(CRemoteControlService, CTCPService, 1)

CRemoteControlService::CRemoteControlService()
    : CRemoteControlService(kRemoteControlPort, kRemoteControlName, kRemoteControlName) {}

CRemoteControlService::CRemoteControlService(UINT port, std::string name, std::string description)
    : CTCPService(port, std::move(name), std::move(description), TRUE) {
    SetServiceKind(kKindRemoteControl);
}

void CRemoteControlService::Serialize(CArchive& ar) {
    CTCPService::Serialize(ar);
    SetCriticalService(TRUE);
}

void CRemoteControlService::LoadFromRegistry(const std::string& keyPath) {
    CTCPService::LoadFromRegistry(keyPath);
    SetCriticalService(TRUE);
}

CSession* CRemoteControlService::CreateSession(int acceptedHandle) {
    return new CRemoteControlSession(acceptedHandle);
}
