#pragma once
// CFTPSession: one FTP client of the gateway, on its own thread. The client logs on with
// "USER user@host[:port]"; the session connects to that server (through ConnectMethod), logs
// on there as "user" once the server's greeting is complete, and from then on relays the
// control dialogue line by line, rewriting what carries addresses: the client's PORT and the
// server's 227 reply. For each transfer it listens on a port of its own and joins the data
// connection that arrives there to one it opens to the other party.
//
// Sockets (all watched): the client's control connection, the server's (the remote socket),
// the data listener of the next transfer, and the two legs of the current transfer: the one
// accepted at the listener and the one the session connected. In passive mode the client
// connects to the listener and the session connects to the server's data port; after PORT the
// server connects and the session connects to the client's data port.
//
// Lines. Both directions are split into complete lines (at most kFTPMaxLineLength bytes each;
// a longer client line is refused, as is one with a CR or NUL inside, and a longer server
// line is cut); the server's into RFC 959
// replies, multi-line ones included, by CFTPReplyReader. The unfinished tail waits for its
// end. Before a server is connected only USER and QUIT mean anything; while the server's
// greeting is awaited, the client's further lines wait (in the socket, once a read's worth
// has been split) and are handled in order once the gateway's USER went out. Replies keep the
// order of the commands: a line the gateway answers itself waits until the server has
// answered every command relayed before it. The server's FEAT reply reaches the client
// without the features the gateway does not carry (IsUncarriedFeature).
//
// Addresses. A PORT may name only the client's own address. A passive reply's address is
// never used: the data connection goes to the server of the control connection (under
// ConnectMethod 2 and 4 to its host, through the upstream). The listener is bound to the
// gateway's address on the side that connects to it, and a connection from anyone but that
// side's peer (the client after a 227, the server after a PORT) is refused.
//
// Traffic. Data-connection bytes count as control-connection bytes of their side: a closed
// transfer's counters are folded into the client's and the server's, and an open one's are
// added when the counters are read, so the session's totals include every transfer on every
// path to its end.
//
// Exit codes: 0 when the server closes or the client quits (QUIT, relayed or answered by the
// gateway before logging on), 1 when the client closes its control connection without
// quitting, on a failure, or when access is refused.

#include "engine/framework/TwoEndTCPSession.h"
#include "foundation/X1Socket.h"
#include "platform/kernel/Types.h"
#include "proxies/common/LineReader.h"
#include "proxies/ftp/FTPClientCommand.h"
#include "proxies/ftp/FTPReply.h"

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

class CNVDataObject;

class CFTPSession : public CTwoEndTCPSession {
    DECLARE_SERIAL(CFTPSession)
public:
    CFTPSession();
    explicit CFTPSession(int acceptedHandle);

    // "500 Norvane Engine Access Denied" to the client.
    void SendAccessDenied() override;
    // Id 20 the FTP user name; the others as every two-ended session.
    void GetValue(DWORD id, CNVDataObject& value) override;
    // The gateway's greeting; a client that cannot take it ends the session (code 1).
    void Initialize() override;

    void OnAccept(X1Socket& socket) override;
    void OnRead(X1Socket& socket) override;
    void OnClose(X1Socket& socket) override;

    // The control connections' counters with the open transfer's added (see the top).
    DWORD GetClientBytesSent() const override;
    DWORD GetClientBytesReceived() const override;
    DWORD GetRemoteBytesSent() const override;
    DWORD GetRemoteBytesReceived() const override;

    std::string GetFTPUserName() const;

protected:
    // A close of a control connection writes the unknown-exception line whatever it threw.
    std::optional<SHandlerLines> GetNoticeLines(ENotice notice,
                                                const X1Socket& socket) const override;
    // A failed accept ends the transfer only; a client whose server could not be reached is
    // told why before the session ends (code 1), as it is on any other failure.
    void OnNoticeFailure(ENotice notice, X1Socket& socket,
                         const SHandlerFailure& failure) override;
    // Closes the transfer (folding its counters) and ends the session with `code`, once.
    void Finish(int code) override;

private:
    enum class EState {
        connected,   // greeted; waiting for USER
        connecting,  // USER named a server: it is being connected
        loggingOn,   // connected to the server; waiting for its greeting
        relaying,    // the gateway's USER went out
        finished,    // ended here; notices are ignored
    };

    // Control connections.
    void OnClientRead();
    void OnServerRead();
    // Handles the client lines that wait, in order, while the state lets them go on.
    void HandleClientLines();
    // HandleClientLines, then what waits in the socket once no line waits.
    void ResumeClientLines();
    // Whether the gateway answers the line itself, or leaves the server for another.
    static bool IsAnsweredByGateway(const CLineReader::SLine& line);
    void HandleClientLine(const CLineReader::SLine& line);
    void HandleUser(const std::string& line);
    void HandlePort(const std::string& line);
    void HandleServerLine(const SFTPReplyLine& line);
    void HandlePassiveReply(const std::string& line);
    // The server's greeting is over: USER to the server (220) or its refusal to the client.
    void FinishGreeting(const SFTPReplyLine& line);
    // Leaves the server named by an earlier USER.
    void DisconnectServer();
    void SendToClient(std::string_view bytes);
    // A command line: the reply to `command` is awaited.
    void SendToServer(std::string_view bytes, EFTPClientCommand command);

    // Data connections.
    // A fresh listener on `address` for the next transfer (any earlier one is closed).
    void OpenDataListener(const std::string& address);
    // The other leg of an accepted data connection.
    void ConnectDataLeg();
    void RelayData(X1Socket& from, X1Socket& to);
    // `closed` reported its end: what it still holds goes to `other`, then both close.
    void OnDataClose(X1Socket& closed, X1Socket& other);
    // Runs a step of the transfer: a socket failure writes the data connection's line and
    // ends the transfer; the control connection goes on.
    void RunDataStep(const std::function<void()>& step);
    // What either leg still holds goes across, then both close (the receiving side drained
    // first) and their counters are folded in.
    void DrainAndCloseData();
    void CloseDataLegs();
    void FoldDataCounters();
    const X1Socket& ClientLeg() const;
    const X1Socket& ServerLeg() const;

    X1Socket m_listenSocket;         // watched
    X1Socket m_acceptedDataSocket;   // watched
    X1Socket m_connectedDataSocket;  // watched

    EState m_state = EState::connected;
    bool m_serverClosed = false;  // its last bytes are being passed on
    bool m_clientQuit = false;    // QUIT went to the server
    // Passive flag: the listener waits for the client (after a 227), not the server (after a
    // PORT); and whether the current legs were joined that way.
    bool m_listenerPassive = false;
    std::atomic<bool> m_legsPassive{false};

    mutable std::mutex m_userMutex;  // leaf; guards m_ftpUser
    std::string m_ftpUser;
    std::string m_serverAddress;  // the control connection's peer
    std::string m_dataAddress;    // the party the session connects to for the transfer
    UINT m_dataPort = 0;

    CLineReader m_clientLines;
    std::deque<CLineReader::SLine> m_heldLines;  // split, not yet handled
    CFTPReplyReader m_serverReplies;
    unsigned m_serverGeneration = 0;  // counts server connections left
    // The commands sent that the server has not answered yet, in the order sent.
    std::deque<EFTPClientCommand> m_awaited;
};
