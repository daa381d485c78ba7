#pragma once
// CWardenhallSession: the console's one connection to an engine. It is a thread of its own
// built on the engine's remote-control session (remote/RemoteControlSession.h): its socket,
// its framing, its outgoing queue and its thread message 0x406, which takes one queued request
// at a time. It logs on, runs every request of the console as one transaction, applies the
// engine's messages to the console's copy of the configuration (console/session/
// ConsoleNotifications.h) and tells the windows what changed through the application's
// dispatcher. It holds no widget: it reaches the application through IWardenhallHost.
//
// Log-on (on the thread): a stream socket with the link credentials of a console (link type 2,
// fixed user, the settings' user name and password); the connect runs the link handshake; then
// read, write and close notices (0x23). Then the console is on-line (SetOnline), the log-on
// counts as succeeded and messages are read. A socket exception on the way clears the
// succeeded flag, puts the console off-line, raises "Problem connecting to server" with the
// text for its code (console/session/SessionTexts.h) and ends the session (code 1).
//
// A transaction (one queued request):
//   1. Reading stops (read notices are ignored: the transaction reads the socket itself).
//   2. The request goes out as one message. Requests that send an object after the engine
//      accepted them take it first: the object queued with the request (22, 25, 32, 52), or
//      the one the request names (24, 27, 34, 54), taken from the copy by reference, so it goes
//      out even if a message removes it meanwhile; a request whose object is gone, or cannot be
//      framed, is not sent at all, so the engine never waits for a payload.
//   3. Replies are read; messages that come before the status are applied first.
//   4. Status 2 raises "Access denied.\n" (not for the list requests 20, 30, 40, 50, 60, 70, 80
//      and 130, which are refused silently); status 4 raises "Server Error".
//   5. Status 1: the request's payload travels (its object, or the lists and settings the
//      engine sends), and the configuration-changed flag is set for the changes the engine
//      keeps only until request 12 (and cleared by 12).
//   6. The closing status: 3 after a list request (20, 30, 40, 50, 60, 130) tells the
//      configuration view to build that branch; 4 raises "Server Error".
//   7. A socket failure raises "Internal Error" with its text, any other failure "Internal
//      Error"; both end the session (code 1).
//   8. In every case reading is enabled again and notices are selected again.
//
// Reading (OnRead): while reading is enabled and at least one whole smallest message (9 bytes)
// waits, one message is read and applied. A malformed message or object is dropped and the
// session goes on; a failure of the framing ends it (code 1). The engine closing the
// connection raises "Session Terminated by remote server"; the session ends (code 1) once that
// box is dismissed, and sends nothing more meanwhile.
//
// End. Terminate (any thread) ends the thread with its code; a connect, read or transaction in
// progress is woken by shutting the connection down, and no failure alert is raised for a
// session that was told to end. As the thread ends, and only when the session is still the
// application's own: the connection is closed, the console goes off-line, the application
// forgets the session, both views are told to empty themselves (code 4) and the copy of the
// configuration is emptied. Requests still queued are dropped with the objects they hold. The
// object deletes itself once its thread has ended.
//
// Threads: Start, Terminate, QueueMessage and QueueRequest may be called from any thread;
// everything else runs on the session's thread.

#include "console/session/ConsoleNotifications.h"
#include "console/session/WardenhallHost.h"
#include "remote/RemoteControlSession.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

class CNorvaneEngine;

class CWardenhallSession : public CRemoteControlSession, public IWardenhallSession {
public:
    // A session for `host`, with its log-on settings as they are now, that keeps
    // `configuration` (theConfiguration when not given).
    explicit CWardenhallSession(IWardenhallHost& host);
    CWardenhallSession(IWardenhallHost& host, CNorvaneEngine& configuration);
    ~CWardenhallSession() override;

    // --- IWardenhallSession (any thread) ----------------------------------------------------
    bool Start() override;
    void Terminate(int exitCode) override;
    std::shared_ptr<CEvent> EndedEvent() const override { return CThread::EndedEvent(); }
    // Queues a request with its three strings.
    void QueueMessage(WORD op, const std::string& arg1, const std::string& arg2,
                      const std::string& arg3) override;
    // Queues a request with `arg1` and the new object it sends once accepted (22, 25, 32, 52).
    void QueueRequest(WORD op, const std::string& arg1, CRef<CObject> object) override;

    // Tells the windows of `target` (console/session/ViewNotice.h) about a change.
    void UpdateViews(int target, UINT code, CRef<CObject> object);

protected:
    bool InitInstance() override;
    int ExitInstance() override;
    void EndSession(int code) override;
    void OnThreadMessage(const ThreadMessage& msg) override;
    void OnRead(X1Socket& socket) override;
    void OnClose(X1Socket& socket) override;
    // The transaction (see the top of this file).
    void ProcessOutgoingMessage(CNVRCPMessage& request) override;
    // An engine's message (console/session/ConsoleNotifications.h).
    void ProcessIncomingMessage(CNVRCPMessage& message) override;
    // Closes the connection at once: everything the console sent has left (sends block).
    void CloseSockets() override;

private:
    // The frames that follow the engine's messages, read from the connection.
    class CChannelFrames : public IFrameSource {
    public:
        explicit CChannelFrames(CRCPChannel& channel) : m_channel(channel) {}
        std::vector<BYTE> ReceiveImage() override;

    private:
        CRCPChannel& m_channel;
    };

    // A message of the engine that came by itself or inside a transaction; a malformed one is
    // dropped.
    void HandleMessage(CNVRCPMessage& message);
    // The reply that ends a wait for a status: messages before it are applied.
    void ReceiveStatus(CNVRCPMessage& reply);
    // The payload the request sends after status 1, framed; empty for requests without one.
    // False when the request must not be sent (its object is gone or cannot be framed).
    bool PreparePayload(const CNVRCPMessage& request, std::vector<std::vector<BYTE>>& frames);
    // The request's work after status 1.
    void CarryOut(const CNVRCPMessage& request, const std::vector<std::vector<BYTE>>& frames);
    // Reads and sends notices again after a transaction or a read.
    void SelectNotices();
    // A failed log-on: the alert for the socket exception's code and text, then the end.
    void FailLogon(int code, const std::string& text);
    void Alert(unsigned flags, const char* title, const std::string& text);
    // The socket of the connection, while open, so another thread can wake it (Terminate).
    void PublishHandle(int handle);
    bool IsEnding() const { return m_ending.load() || GetTerminateCount() != 0; }

    IWardenhallHost& m_host;
    CNorvaneEngine& m_configuration;
    const CConsoleSettings m_settings;
    CChannelFrames m_frames;
    CConsoleNotifications m_notifications;
    // Set by Terminate and by the engine's close: nothing more goes out.
    std::atomic<bool> m_ending{false};
    std::mutex m_handleMutex;
    int m_handle = -1;
};
