#pragma once
// CTCPSession: a session that is a thread of its own and owns the accepted client socket. Its
// socket's notices arrive on its thread as thread messages (0x402 accept, 0x403 read, 0x404
// write, 0x405 close) and go to OnAccept, OnRead, OnWrite and OnClose; WM_USER + 10 runs the
// idle check on the thread.
//
// Life. The service's accept callback makes the session with the accepted handle (the session
// owns the handle from then on and closes it if its thread never adopts it), copies the
// service's settings into it and calls StartSession, which starts the thread; the thread holds
// its own reference. On the thread: the handle is adopted, the session is admitted to its
// client machine, announced, logged as created, checked, and greeted (Initialize); then the
// socket's notices drive it until something calls Terminate, whose EndSession posts WM_QUIT.
// A thread that ends any other way (an exception in InitInstance or in a handler, a refused
// admission) leaves its machine with Terminate (code 1, or the code of a WM_QUIT it got).
// The sockets are closed on the thread as it ends, so no descriptor outlives the thread.

#include "engine/framework/Session.h"
#include "foundation/X1Socket.h"
#include "platform/kernel/Thread.h"
#include "platform/kernel/Types.h"

#include <atomic>
#include <string>

class CTCPSession : public CSession {
    DECLARE_SERIAL(CTCPSession)
public:
    CTCPSession();
    explicit CTCPSession(int acceptedHandle);
    ~CTCPSession() override;

    // Arms the idle deadline and starts the thread. When the thread cannot be made, the
    // session stays with its creator, who gives it up (closing the handle).
    void StartSession() override;
    // LogEnd, then WM_QUIT with the code to the session's thread.
    void EndSession(int code) override;
    // FALSE when the client socket is not connected; else whether `text` is this host's
    // address on the client connection.
    BOOL IsOwnAddress(const std::string& text) override;
    DWORD GetClientBytesSent() const override { return m_clientSocket.GetBytesSent(); }
    DWORD GetClientBytesReceived() const override { return m_clientSocket.GetBytesReceived(); }
    DWORD GetClientBytesTotal() const override {
        return GetClientBytesSent() + GetClientBytesReceived();
    }
    DWORD GetTotalBytes() const override { return GetClientBytesTotal(); }

    // Socket notices (empty here) and the idle check.
    virtual void OnAccept() {}
    virtual void OnRead() {}
    virtual void OnWrite() {}
    virtual void OnClose() {}
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
    // Closes the session's sockets (on its thread, as it ends). Two-ended sessions add theirs.
    virtual void CloseSockets();

    X1Socket m_clientSocket;

private:
    std::atomic<int> m_acceptedHandle;
    std::string m_localAddress;  // the client socket's local address, once asked
    int m_exitReason = 1;        // the code a thread ending without Terminate leaves with
};
