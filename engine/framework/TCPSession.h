#pragma once
// CTCPSession: a session that is a thread of its own and owns the accepted client socket. Its
// sockets' notices arrive on its thread as thread messages (0x402 accept, 0x403 read, 0x404
// write, 0x405 close, the handle in wParam) and go to OnAccept, OnRead, OnWrite and OnClose
// with the socket they are for; WM_USER + 10 runs the idle check on the thread.
//
// Sockets. The session's sockets are members, made known with WatchSocket in the constructors
// (the client socket here, the remote socket in CTwoEndTCPSession, a protocol's own listeners
// and datagram sockets in its constructor). A notice reaches the handler of the watched socket
// that holds its handle; a notice for a socket closed meanwhile is withdrawn by the socket
// layer, and once the session has ended (EndSession ran, from whatever thread) no notice is
// handled. Watched sockets count as the session's activity and are closed as the thread ends.
// Listeners and datagram sockets a session opens for its protocol (OpenListener,
// OpenDatagramSocket) keep their port in the engine's target guard while they are open, so no
// proxy of the engine can be pointed at them.
//
// Life. The service's accept callback makes the session with the accepted handle (the session
// owns the handle from then on and closes it if its thread never adopts it), copies the
// service's settings into it and calls StartSession, which starts the thread; the thread holds
// its own reference. On the thread: the handle is adopted, BeforeAdmission runs (a protocol's
// work before the session counts, such as a link handshake), the session is admitted to its
// client machine, AfterAdmission runs, the session is announced, logged as created, and
// StartProtocol runs (by default the access check, Initialize and the client's notices); then
// the notices drive it until something calls Terminate, whose EndSession posts WM_QUIT (and,
// called from another thread, shuts the session's sockets down first, so a thread waiting in
// a send to a client that stopped reading, or in a connect, sees its end within moments).
// A session handed a connection by another session (CSession::HandOverTo) was admitted by that
// hand-over and is not admitted again. A thread that ends any other way (an exception in
// InitInstance or in a handler, a refused admission) leaves its machine with Terminate (code 1,
// or the code of a WM_QUIT it got). The sockets are closed on the thread as it ends, so no
// descriptor outlives the thread.

#include "engine/framework/HandlerGuard.h"
#include "engine/framework/Session.h"
#include "foundation/X1Socket.h"
#include "platform/kernel/Thread.h"
#include "platform/kernel/Types.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class X1SocketOwnerWait;

class CTCPSession : public CSession, public CThread {
    DECLARE_SERIAL(CTCPSession)
public:
    CTCPSession();
    explicit CTCPSession(int acceptedHandle);
    ~CTCPSession() override;

    // Arms the idle deadline and starts the thread. When the thread cannot be made, the
    // session stays with its creator, who gives it up (closing the handle); a session that was
    // already admitted (handed over) is terminated first.
    void StartSession() override;
    // LogEnd, then WM_QUIT with the code to the session's thread; called from another thread,
    // it first interrupts every watched socket (X1Socket::Interrupt), so a session blocked in
    // a send ends at once.
    void EndSession(int code) override;
    // FALSE when the client socket is not connected; else whether `text` is this host's
    // address on the client connection. Callable from any thread (the dialer's idle check).
    BOOL IsOwnAddress(const std::string& text) override;
    DWORD GetClientBytesSent() const override { return m_clientSocket.GetBytesSent(); }
    DWORD GetClientBytesReceived() const override { return m_clientSocket.GetBytesReceived(); }
    DWORD GetClientBytesTotal() const override {
        return GetClientBytesSent() + GetClientBytesReceived();
    }
    DWORD GetTotalBytes() const override { return GetClientBytesTotal(); }

    // Socket notices for one of the session's watched sockets (empty here), and the idle check.
    // A protocol session's handlers run under its guard (GetNoticeLines).
    virtual void OnAccept(X1Socket& socket);
    virtual void OnRead(X1Socket& socket);
    virtual void OnWrite(X1Socket& socket);
    virtual void OnClose(X1Socket& socket);
    virtual void OnIdleCheck();

    // The client socket; used on the session's thread only.
    X1Socket& GetClientSocket() { return m_clientSocket; }

protected:
    bool InitInstance() override;
    int Run() override;
    int ExitInstance() override;
    void OnThreadMessage(const ThreadMessage& msg) override;
    // Leaves the machine if the session was never terminated, closes the sockets, gives up
    // the thread's reference.
    void Delete() override;
    // Closes every watched socket, the last watched first (on the session's thread, as it
    // ends).
    virtual void CloseSockets();
    // Shuts every watched socket down, from any thread (EndSession from another thread).
    void InterruptSockets();
    // The sum of every watched socket's counters.
    std::uint64_t GetActivityCount() const override;

    // Start-up steps on the session's thread (see the top of this file). A socket exception
    // from any of them ends the session with code 1 after the InitInstance error line.
    // Before the session is admitted to its machine: nothing here.
    virtual void BeforeAdmission() {}
    // Right after admission: nothing here.
    virtual void AfterAdmission() {}
    // After the Created lines: CheckAccess(TRUE); granted, Initialize, then read, write and
    // close notices of the client socket.
    virtual void StartProtocol();
    // The error lines of InitInstance.
    using InitErrorTexts = SHandlerLines;
    virtual InitErrorTexts GetInitErrorTexts() const;

    // The notices, as the guard names them.
    enum class ENotice { accept, read, write, close };
    // The error lines of the handler of `notice` for `socket`. With lines, the handler runs
    // under the guard (HandlerGuard.h): a failure writes its line, then OnNoticeFailure
    // follows. Without (here), what the handler throws ends the thread (Run's error line).
    virtual std::optional<SHandlerLines> GetNoticeLines(ENotice notice,
                                                        const X1Socket& socket) const;
    // What follows a guarded notice handler's failure once its line is written:
    // Finish(kExitError) here.
    virtual void OnNoticeFailure(ENotice notice, X1Socket& socket,
                                 const SHandlerFailure& failure);
    // Ends the session from its own thread with `code`: Terminate(code) here; a protocol
    // session first takes its own last steps (closing what it must), once.
    virtual void Finish(int code);
    // RunGuarded (HandlerGuard.h) for this session.
    std::optional<SHandlerFailure> RunGuarded(const SHandlerLines& lines,
                                              const std::function<void()>& handler);

    // Makes `socket` (a member of the session) one of the session's watched sockets. Called
    // from constructors only: other threads read the list without a lock.
    void WatchSocket(X1Socket& socket);
    bool IsWatched(const X1Socket& socket) const;
    // The watched socket whose handle is `handle`, or null.
    X1Socket* FindWatchedSocket(int handle) const;

    // A stream socket of the session's thread bound to `port` (0: any free port) on `address`
    // (empty: every interface), listening with `backlog`, its port held in the target guard
    // while it is open. Notices are the caller's to select.
    static void OpenListener(X1Socket& socket, UINT port = 0, const std::string& address = {},
                             int backlog = 5);
    // A datagram socket of the session's thread bound like OpenListener, its port held in the
    // target guard (as a UDP port) while it is open.
    static void OpenDatagramSocket(X1Socket& socket, UINT port = 0,
                                   const std::string& address = {});

    X1Socket m_clientSocket;

private:
    // InitInstance's steps after the thread's own set-up: false when the session ends here.
    bool StartOnThread();
    void HandleSocketNotice(UINT message, int handle);
    void DispatchNotice(ENotice notice, X1Socket& socket);

    // The thread waits for its own sockets' events (from InitInstance until Delete).
    std::unique_ptr<X1SocketOwnerWait> m_ownerWait;
    std::atomic<int> m_acceptedHandle;
    std::vector<X1Socket*> m_watched;  // set in constructors, then only read
    int m_exitReason = 1;        // the code a thread ending without Terminate leaves with
};
