#pragma once
// CPOP3Session: one mail client's connection to the POP3 proxy, on its own thread.
//
//   1. The proxy greets the client and waits for its log-on ("USER mailbox#host[:port]",
//      POP3Logon.h). CAPA, QUIT and other commands before it are answered here.
//   2. The log-on is reported and logged, checked against the service's access right (with the
//      server already known to request filters), and the server is connected (dial on demand
//      first, then ConnectRemote by the service's ConnectMethod).
//   3. The server's greeting is not passed on (the client has the proxy's); the proxy sends
//      "USER mailbox" instead, and from then on relays both directions unchanged. A server
//      whose first line is not "+OK" has that line passed to the client, and nothing is sent.
//
// What the client sends after its log-on stays on its socket until the server has greeted and
// been given the log-on, so nothing of it can reach the server before the proxy's USER line.
// The log-on line and the server's first line are blocking line reads of at most 30 s.
//
// Ending: the server's close ends the session with 0, the client's with 1, an exception or a
// refused log-on with 1. Whatever the closing side still sent is passed to the other side
// first, and a client is closed gracefully after the proxy's last answer.

#include "engine/framework/TwoEndTCPSession.h"
#include "platform/kernel/Types.h"
#include "proxies/pop3/POP3Logon.h"

#include <optional>
#include <string>

class CNVDataObject;

class CPOP3Session : public CTwoEndTCPSession {
    DECLARE_SERIAL(CPOP3Session)
public:
    CPOP3Session();
    CPOP3Session(int acceptedHandle, char delimiter);

    // "-ERR Access Denied", then the client is closed.
    void SendAccessDenied() override;
    // Id 19 the mailbox name sent to the server; the others as every two-ended session.
    void GetValue(DWORD id, CNVDataObject& value) override;
    // The proxy's greeting; a failure to send it ends the session with 1.
    void Initialize() override;
    // Read and close notices of the client and server sockets.
    void OnRead(X1Socket& socket) override;
    void OnClose(X1Socket& socket) override;

protected:
    std::optional<SHandlerLines> GetNoticeLines(ENotice notice,
                                                const X1Socket& socket) const override;
    // A client still waiting for the answer to its log-on is told why there is none; then
    // the session ends (code 1).
    void OnNoticeFailure(ENotice notice, X1Socket& socket,
                         const SHandlerFailure& failure) override;

    // Reads the client's line before its log-on and parses it, reporting and logging a log-on:
    // EPOP3Logon::connect when the session knows where to go, none when no whole line came
    // (the client closed in the middle of it).
    std::optional<EPOP3Logon> ParseUser();

private:
    void OnClientRead();
    void OnServerRead();
    // The log-on's server: access check, dial on demand, connect.
    void ConnectServer();
    // The server's first line, then the log-on.
    void LogOnToServer();
    // Sends `text` to the client, then closes it gracefully.
    void AnswerAndClose(const std::string& text);
    // Error lines of the service log.
    void ErrorLine(const char* format, const std::string& text);

    enum class EPhase {
        logOn,           // the client's log-on is awaited
        serverGreeting,  // the server is connected; its first line is awaited
        relaying,        // the server's first line was handled: both directions relay
    };

    char m_delimiter = '#';
    EPhase m_phase = EPhase::logOn;
    SPOP3Logon m_logon;
};
