#include "engine/framework/UDPSession.h"

IMPLEMENT_SERIAL(CUDPSession, CSession, 1)

CUDPSession::CUDPSession() = default;

CUDPSession::CUDPSession(CUDPService* owner) : m_owner(owner) {}

void CUDPSession::EndSession(int code) {
    LogEnd(code);
    if (CUDPService* service = m_owner.Get())
        service->ScheduleRemoveSession(this);
}
