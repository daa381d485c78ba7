#pragma once
// CTelnetSession: one Telnet client's connection to the Telnet proxy, on its own thread.
//
// Command mode: the proxy offers to echo and to suppress go-ahead, shows its prompt, edits the
// command line, answers and records the client's option negotiation (CTelnetCommandMode), and
// on Enter joins the host the line names ("host", "host:port" or "host port"; QUIT or EXIT
// ends the session). A join is reported and logged, checked against the service's access
// right (with the host already known to request filters), dialled for and connected by the
// service's ConnectMethod; a Telnet server on port 23 then gets the client's recorded
// negotiation replayed. A failed join prints its reason and the prompt again.
//
// Relay mode: bytes pass through unchanged, except that a NUL from the client reaches a host
// on any port but 23 as LF. Bytes the client sent behind the command line that joined go to
// the host.
//
// Ending: either side's close ends the session with 0 (the host's after "Connection
// terminated by remote host"), an exception with 1. Whatever the closing side still sent is
// passed to the other side first, and a client is closed gracefully after the last text.

#include "engine/framework/TwoEndTCPSession.h"
#include "platform/kernel/Types.h"
#include "proxies/telnet/TelnetCommandMode.h"

#include <cstddef>
#include <string>
#include <string_view>

class CTelnetSession : public CTwoEndTCPSession {
    DECLARE_SERIAL(CTelnetSession)
public:
    CTelnetSession();
    explicit CTelnetSession(int acceptedHandle);

    // "Access Denied", then the client is closed.
    void SendAccessDenied() override;
    // The option offers and the prompt.
    void Initialize() override;
    // Read and close notices of the client and remote sockets.
    void OnRead(X1Socket& socket) override;
    void OnClose(X1Socket& socket) override;

protected:
    std::optional<SHandlerLines> GetNoticeLines(ENotice notice,
                                                const X1Socket& socket) const override;

    // Joins the host a complete command line names (see the top of this file).
    void ProcessConnectRequest(const std::string& line);
    // To a host on port 23: the client's recorded negotiation, in its order.
    void ReplayOptions();

private:
    void OnClientRead();
    // Client bytes to the remote host (NUL as LF unless the host is on port 23).
    void RelayToRemote(char* bytes, std::size_t count);
    void SendToClient(std::string_view bytes);
    void SendPromptToClient();

    enum class EPhase {
        command,   // the proxy's command line
        relaying,  // joined to a host
    };

    CTelnetCommandMode m_command;
    EPhase m_phase = EPhase::command;
};
