#pragma once
// The private channels between the service control manager and a service's program.
//
// Starting a service binds a listening Unix-domain socket, the control endpoint, at
//   $NORVANE_STATE_DIR/run/service/<name>.ctl     (folder 0700, socket 0600)
// and hands it to the spawned program together with one end of a socket pair, the start
// channel. The program's dispatcher validates both, reports "connected" on the start channel
// and from then on serves the endpoint until the service has stopped. Anyone who may control
// the service (root or the service's owner, checked by peer credentials) connects to the
// endpoint and sends one request; the dispatcher answers once.
//
// Every word below is a 32-bit little-endian unsigned integer.
//
//   request  (12 bytes):  magic, op, argument
//   reply    (36 bytes):  magic, error, the seven words of SERVICE_STATUS in field order
//   start    (12 bytes):  magic, kind, value        (dispatcher -> starter, on the start channel)
//
// After a reply that accepted a stop or shutdown control the dispatcher keeps the connection
// open until its process ends, so the controller can wait for the end by waiting for EOF.

#include "platform/kernel/Types.h"
#include "platform/service/ServiceTypes.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>

namespace ControlProtocol {

inline constexpr DWORD kMagic = 0x4353564E;  // "NVSC"

// Request operations.
inline constexpr DWORD kOpQueryStatus = 1;  // argument unused; answered from the last report
inline constexpr DWORD kOpControl = 2;      // argument: the control code

// Start-channel message kinds.
inline constexpr DWORD kStartConnected = 1;   // value: the service process id
inline constexpr DWORD kStartExecFailed = 2;  // value: the errno of the failed exec

inline constexpr std::size_t kRequestSize = 12;
inline constexpr std::size_t kReplySize = 36;
inline constexpr std::size_t kStartMessageSize = 12;

// Environment variables through which the manager hands the channels to the program. The
// dispatcher removes them from its environment once it has read them.
inline constexpr const char* kEnvServiceName = "NORVANE_SERVICE_NAME";
inline constexpr const char* kEnvEndpointFd = "NORVANE_SERVICE_ENDPOINT_FD";
inline constexpr const char* kEnvStartFd = "NORVANE_SERVICE_START_FD";

// Where the handed descriptors are placed in the spawned program.
inline constexpr int kEndpointFd = 3;
inline constexpr int kStartFd = 4;

struct Request {
    DWORD op = 0;
    DWORD argument = 0;
};

struct Reply {
    DWORD error = 0;
    SERVICE_STATUS status;
};

struct StartMessage {
    DWORD kind = 0;
    DWORD value = 0;
};

std::array<BYTE, kRequestSize> EncodeRequest(const Request& request);
std::array<BYTE, kReplySize> EncodeReply(const Reply& reply);
std::array<BYTE, kStartMessageSize> EncodeStartMessage(const StartMessage& message);

// Each decoder takes exactly its message's size and refuses a wrong size or magic.
std::optional<Request> DecodeRequest(const BYTE* data, std::size_t size);
std::optional<Reply> DecodeReply(const BYTE* data, std::size_t size);
std::optional<StartMessage> DecodeStartMessage(const BYTE* data, std::size_t size);

}  // namespace ControlProtocol
