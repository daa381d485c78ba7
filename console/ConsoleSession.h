#pragma once
// How the console's windows reach the engine: one narrow interface. Windows never touch the
// connection; they queue requests, and only while the console is on-line (a window asks
// IsOnline first). Every operation may be called from any thread.
//
// The application answers for the running console session (CWardenhallApp); tests install a
// recorder with SetConsoleSession.

#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"
#include "remote/RCPOperations.h"

#include <string>

class IConsoleSession {
public:
    virtual ~IConsoleSession() = default;

    virtual bool IsOnline() const = 0;
    // Queues request `op` with its three strings.
    virtual void QueueMessage(WORD op, const std::string& arg1, const std::string& arg2,
                              const std::string& arg3) = 0;
    // Queues request `op` with `arg1` (strings 2 and 3 empty) and the object the request sends
    // once the engine has accepted it (a new user, group, service or location).
    virtual void QueueRequest(WORD op, const std::string& arg1, CRef<CObject> object) = 0;
};

// The session every window uses: the one installed, else the application.
IConsoleSession& ConsoleSession();
// Installs `session` for every window (null: back to the application). The caller keeps it
// alive while it is installed.
void SetConsoleSession(IConsoleSession* session);

// Request codes the console's own windows send (remote/RCPOperations.h has them all).
namespace ConsoleRequests {
inline constexpr WORD kCommitConfiguration = RCPOperations::kCommitConfiguration;
inline constexpr WORD kSendMessage = RCPOperations::kSendMessage;
inline constexpr WORD kChangePassword = RCPOperations::kChangePassword;
inline constexpr WORD kShutdown = RCPOperations::kShutdown;
}  // namespace ConsoleRequests

// Whether request `op` with these strings fits in one frame of the remote-control link (the
// engine ends a connection that sends a longer one).
bool FitsInOneFrame(WORD op, const std::string& arg1, const std::string& arg2, const std::string& arg3);
