#include "support/ServiceChannels.h"

#include "platform/kernel/Clock.h"
#include "platform/service/ControlEndpoint.h"
#include "support/TimeScale.h"

#include <cstdlib>
#include <string>
#include <sys/socket.h>

CHandedChannels::CHandedChannels(const std::string& serviceName) {
    CUniqueFd listener;
    int pair[2];
    if (PrepareServiceRunDirectory() != ERROR_SUCCESS ||
        ListenEndpoint(ServiceEndpointPath(serviceName), listener) != ERROR_SUCCESS ||
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return;
    m_starter.Reset(pair[0]);
    setenv(ControlProtocol::kEnvServiceName, serviceName.c_str(), 1);
    setenv(ControlProtocol::kEnvEndpointFd, std::to_string(listener.Release()).c_str(), 1);
    setenv(ControlProtocol::kEnvStartFd, std::to_string(pair[1]).c_str(), 1);
    m_ready = true;
}

CHandedChannels::~CHandedChannels() {
    unsetenv(ControlProtocol::kEnvServiceName);
    unsetenv(ControlProtocol::kEnvEndpointFd);
    unsetenv(ControlProtocol::kEnvStartFd);
}

DWORD CHandedChannels::WaitConnected(DWORD timeoutMs) {
    BYTE bytes[ControlProtocol::kStartMessageSize];
    if (!ReceiveExact(m_starter.Get(), bytes, sizeof bytes, timeoutMs))
        return 0;
    auto message = ControlProtocol::DecodeStartMessage(bytes, sizeof bytes);
    return message && message->kind == ControlProtocol::kStartConnected ? message->value : 0;
}

std::optional<ControlProtocol::Reply> SendServiceRequest(const std::string& serviceName, DWORD op,
                                                         DWORD argument, DWORD timeoutMs) {
    CUniqueFd connection;
    if (ConnectEndpoint(ServiceEndpointPath(serviceName), connection) != ERROR_SUCCESS)
        return std::nullopt;
    auto request = ControlProtocol::EncodeRequest({op, argument});
    BYTE bytes[ControlProtocol::kReplySize];
    if (!SendAll(connection.Get(), request.data(), request.size(), timeoutMs) ||
        !ReceiveExact(connection.Get(), bytes, sizeof bytes, timeoutMs))
        return std::nullopt;
    return ControlProtocol::DecodeReply(bytes, sizeof bytes);
}

bool WaitForServiceState(const std::string& serviceName, DWORD state, DWORD timeoutMs) {
    const std::uint64_t deadline = GetTickCount64() + ScaledMs(static_cast<int>(timeoutMs));
    while (GetTickCount64() < deadline) {
        auto reply = SendServiceRequest(serviceName, ControlProtocol::kOpQueryStatus, 0, 2000);
        if (reply && reply->status.dwCurrentState == state)
            return true;
        Sleep(20);
    }
    return false;
}
