#pragma once
// CRemoteControlSession: one console connection to the engine's remote-control service. It is
// a TCP session thread (engine/framework/TCPSession.h) that runs the server half of the link
// handshake against the engine's user database, logs the console's user on, reads requests
// and answers each with statuses, and sends the notifications that other threads queue for it.
// The console's own session derives from this class and reuses its queue, its framing and its
// virtual operations; the protocol's layout and texts are remote/RCPFormat.h, its operations
// remote/RCPOperations.h.
//
// Start (CTCPSession's start-up steps, on the session's thread):
//   1. BeforeAdmission: the handshake (link type 2, no fixed user): the client's user name and
//      MD5 response are checked against the engine's user database, at the client address's
//      turn in the engine's log-on throttle (engine/framework/UserAccounts.h), which slows
//      guessing down. A refusal ends the session with code 1 after the
//      "CRemoteControlSession::InitInstance()" error line.
//   2. The session is admitted to the client machine of its address.
//   3. AfterAdmission: the machine's user becomes the handshake's user at level 2
//      (authenticated; the consoles hear machine changed, 72), and the session takes both.
//   4. The session is announced (74) and logged as created.
//   5. StartProtocol: the queue timer, the log-on (Initialize), then read, write and close
//      notices, so the log-on's answer is queued before any request can be read and is the
//      console's first message. The log-on: the service's access right, request test
//      included, must grant the session. Refused: notification 90 "Access Denied" is queued,
//      and the session ends with code 5 after a 200 ms pause; the 90 still goes out, since the
//      thread's quit is queued behind it. A user no longer in the database ends the session
//      with code 5. Otherwise 120 (the password must change first) or 5 (logged on) is
//      queued, and "Logged in" is audited.
// The session counts as logged on from the moment its 5 goes out; until then every request but
// a password change (120) is refused. A 120 notification is sent only as this log-on's own
// answer: one queued by anyone else is dropped, so no other party can make a console ask for
// a password change.
//
// Requests (OnRead, one per read notice while bytes wait and reading is enabled): receive the
// message; CheckPermission; refused: status 2, the "Failed authorisation" lines; granted:
// status 1, ProcessIncomingMessage (the payload of the request), status 3, LogRequestResult,
// the request's audit and "Requested:" lines, and the session-status notice (75) with the
// description LogRequestResult set. A failure after the request was read and before status 3
// answers status 4 "Internal server error"; the session goes on, unless the failure left the
// connection out of step (a frame refused for its length, cut short or late, or a send that
// failed): then it ends with code 1, since nothing after it can be read as frames.
//
// Which requests are served: the rules of remote/RCPOperations.h decide, for the session's own
// logged-on user, and remote/RequestDispatcher.h carries each out (payloads, engine actions,
// the messages queued for after the request). A shut-down request is carried out once its
// status 3 and log lines have gone out.
//
// Notifications. QueueMessage (any thread; the engine's fan-out calls it under its console
// list mutex) appends to the outgoing queue and wakes the thread with 0x406; the thread sends
// one queued message per wake-up, between requests only, and wakes itself again while more
// wait. A timer (kQueueTimerMs) sends what a lost wake-up left. Notifications that carry
// objects (users, groups, services, locations, rights, dialer and cache settings) look each
// object up as the message goes out, under its container's lock, and are not sent when it no
// longer exists; the frames are made under the lock and sent after it. A console that lets
// more than kMaxQueuedMessages wait is ended (code 1).
//
// End. The peer's close: the session leaves the console list, its machine goes back to level
// 1 (assumed), and it ends with code 0. Whatever ends it, as the thread ends it leaves the
// console list, audits "Logged out", drops what is still queued, and closes the connection
// after sending everything (shutting its side down and reading what the peer still sends for
// a moment), so the last message is not lost to a reset. The session keeps its own copies of
// its user name and client address: its machine may be deleted by another thread while it
// runs, which ends it (code -1) and leaves it without a machine.
//
// Threads. The socket, the framing and the request handling belong to the session's thread;
// QueueMessage, GetClientAddress and IsLoggedOn may be called from any thread. Lock order:
// the engine's console list, then the outgoing queue; the user database, service manager,
// location array or machine map is held only around one lookup and the making of its frames.

#include "engine/EngineConsole.h"
#include "engine/framework/TCPSession.h"
#include "foundation/LinkHandshake.h"
#include "platform/kernel/Types.h"
#include "remote/NVRCPMessage.h"
#include "remote/RCPFraming.h"
#include "remote/RCPMessageQueue.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class CRemoteControlSession : public CTCPSession, public IEngineConsole {
    DECLARE_SERIAL(CRemoteControlSession)
public:
    CRemoteControlSession();
    explicit CRemoteControlSession(int acceptedHandle);
    ~CRemoteControlSession() override;

    // --- Any thread ------------------------------------------------------------------------
    // Queues a message with these values and wakes the session's thread. A failed wake-up is
    // ignored (the queue timer sends it).
    void QueueMessage(WORD op, const std::string& arg1, const std::string& arg2,
                      const std::string& arg3) override;
    std::string GetClientAddress() const override { return CSession::GetClientAddress(); }
    bool IsLoggedOn() const { return m_loggedOn.load(); }

    // --- The session's thread ----------------------------------------------------------------
    // One message with the status and texts, at once.
    void SendReply(WORD status, const std::string& arg1 = {}, const std::string& arg2 = {},
                   const std::string& arg3 = {});
    // One object, untagged / tagged. A failure is written to the service log and otherwise
    // ignored (a failed send leaves the connection out of step, which ends the session after
    // the request or message in hand).
    void SendObject(CObject& object);
    void SendTaggedObject(CObject& object);
    // Reads one frame into `object` (its Serialize). Throws every failure: the framing's
    // X1SocketExceptions (RCPFraming.h), and the archive's when the image is malformed. The
    // object is untouched when the frame failed.
    void ReceiveObject(CObject& object);
    // Reads one frame and returns its image, for a caller that reads it into objects itself.
    // Throws the framing's X1SocketExceptions.
    std::vector<BYTE> ReceiveImage();
    // Reads one frame holding a new object of class `expected` (or a class derived from it).
    // Null when anything failed, the object of another class included.
    std::unique_ptr<CObject> ReceiveTaggedObject(const CRuntimeClass* expected);

    // The request's text for logs and the activity view (remote/RCPOperations.h); left unchanged
    // for codes without one (callers pass it empty).
    static void DescribeRequest(const CNVRCPMessage& message, std::string& text);

protected:
    // Start-up steps (see the top of this file).
    void BeforeAdmission() override;
    void AfterAdmission() override;
    void StartProtocol() override;
    InitErrorTexts GetInitErrorTexts() const override;
    // The log-on.
    void Initialize() override;
    void OnEnd() override;
    void OnRead(X1Socket& socket) override;
    void OnClose(X1Socket& socket) override;
    void OnThreadMessage(const ThreadMessage& msg) override;
    // Closes the client connection after what was sent has left (see End above).
    void CloseSockets() override;

    // Sends a queued message and the objects that go with it. A failure other than a send's
    // ends the session (code 1).
    virtual void ProcessOutgoingMessage(CNVRCPMessage& message);
    // Whether the session may make the request.
    virtual BOOL CheckPermission(const CNVRCPMessage& message);
    // Performs a granted request between statuses 1 and 3; throws to answer status 4.
    virtual void ProcessIncomingMessage(CNVRCPMessage& message);
    // After a granted request: the session description, the echo of a change to every
    // registered console, and the service-state notices of service requests.
    virtual void LogRequestResult(const CNVRCPMessage& message);
    // 0x406: sends the oldest queued message, if any.
    virtual void OnQueuedMessage();
    // WM_TIMER of the queue timer.
    virtual void OnQueueTimer();

    // The engine's right of that kind (engine/access/Right.h), asked for this session with the
    // request test; FALSE when there is no such right.
    BOOL IsRightGranted(DWORD kind);
    // Requests are read only while set (the console's session clears it while it waits).
    void SetReadingEnabled(bool enabled) { m_readingEnabled = enabled; }
    bool IsReadingEnabled() const { return m_readingEnabled.load(); }
    CRCPChannel& GetChannel() { return m_channel; }
    // Appends a message made by the caller (its Target set, say) and wakes the thread, as
    // QueueMessage does. Any thread.
    void QueueOutgoing(std::unique_ptr<CNVRCPMessage> message);
    // Drops every queued message (and the objects they hold).
    void ClearQueue() { m_queue.Clear(); }

private:
    friend class CRequestDispatcher;
    using Frames = std::vector<std::vector<BYTE>>;

    // One request, from its receive to its log lines.
    void HandleRequest();
    // Request 120 (the check already matched the user and the old password).
    void ChangePassword(const CNVRCPMessage& message);
    // The frames of a queued message and its objects; empty when nothing is to be sent.
    // `followUp` receives a message to queue once they were sent.
    Frames MakeOutgoingFrames(CNVRCPMessage& message, std::unique_ptr<CNVRCPMessage>& followUp);
    // Sends one frame; a failure is logged (SendObject's lines) and FALSE returned.
    BOOL SendFrame(const std::vector<BYTE>& frame);
    // Ends the session (code 1) when a frame failed on the way or the queue overflowed.
    void EndIfBroken();
    // The handshake's view of the engine's user database.
    static CLinkUserLookup UserLookup();

    CRCPChannel m_channel;
    CRCPMessageQueue m_queue;
    std::atomic<bool> m_readingEnabled{true};
    std::atomic<bool> m_loggedOn{false};
    // Set while the log-on's own 120 waits to go out.
    std::atomic<bool> m_mustChangeQueued{false};
    std::atomic<bool> m_queueOverflow{false};
    // Set by a granted shut-down request; carried out when the request is done.
    bool m_shutDownRequested = false;
    DWORD m_queueTimer = 0;
};
