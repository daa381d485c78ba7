#pragma once
// Driving a service's dispatcher inside the test process: what the service control manager
// hands a program it starts, set up by hand, and a controller's side of the control endpoint.

#include "platform/kernel/Types.h"
#include "platform/service/ControlProtocol.h"
#include "platform/service/UniqueFd.h"

#include <optional>
#include <string>

// Binds the service's control endpoint and makes the start channel, and points the
// environment variables the dispatcher reads at them (the dispatcher takes both descriptors
// over). Call StartServiceCtrlDispatcher while the object lives.
class CHandedChannels {
public:
    explicit CHandedChannels(const std::string& serviceName);
    ~CHandedChannels();
    CHandedChannels(const CHandedChannels&) = delete;
    CHandedChannels& operator=(const CHandedChannels&) = delete;

    bool Ready() const { return m_ready; }
    // Waits for the dispatcher's "connected" message; its process id, or 0 on time-out.
    DWORD WaitConnected(DWORD timeoutMs = 10000);

private:
    bool m_ready = false;
    CUniqueFd m_starter;  // our end of the start channel
};

// Sends one request to the service's endpoint and returns the reply (nullopt when none came).
std::optional<ControlProtocol::Reply> SendServiceRequest(const std::string& serviceName, DWORD op,
                                                         DWORD argument,
                                                         DWORD timeoutMs = 20000);

// Polls QueryStatus until the service reports `state`; false after `timeoutMs` (scaled for the
// build, TimeScale.h).
bool WaitForServiceState(const std::string& serviceName, DWORD state, DWORD timeoutMs = 10000);
