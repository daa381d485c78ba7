#pragma once
// The read worker: one thread per process that serves the blocking reads of X1Socket
// (RecvLine, RecvFixedAmount). A reading thread files a request, lends the socket's notices to
// this thread (X1SocketNotifyWindow::RegisterOwner) and waits on the request's event; on each
// read notice the worker moves what has arrived into the request, and it wakes the reader when
// the request is complete, when a receive fails, or when the peer closes (then the close
// notice is passed on to the reader).
//
// Requests belong to their reading thread. The worker touches a request only while it is in
// its map and only under that map's mutex; it completes a request by removing it, marking it
// completed and setting its event, all under the mutex. A reader takes its request back with
// Withdraw...Request, under the same mutex, before it lets the request go, so a request is
// never used after its reader returned.

#include "platform/kernel/Sync.h"
#include "platform/kernel/Thread.h"

#include <cstddef>
#include <map>
#include <string>

class X1Socket;

struct X1SocketLineRequest {
    std::string* line;  // the caller's line; the worker appends to it
    X1Socket* socket;
    CEvent* event;
    DWORD readingThread;
    bool completed = false;
};

struct X1SocketFixedRequest {
    unsigned char* position;  // where the next bytes go
    std::size_t count;
    X1Socket* socket;
    CEvent* event;
    DWORD readingThread;
    std::size_t missing;
    bool completed = false;
};

class X1SocketReadWorker : public CThread {
public:
    // A line is cut at this many bytes: the read then returns without a line feed.
    static constexpr std::size_t kMaxLineLength = 65536;
    // Bytes looked at per step while assembling a line.
    static constexpr std::size_t kLinePeekSize = 255;

    X1SocketReadWorker() = default;

    // Files a request for its socket's handle, replacing an earlier one for that handle.
    void AddLineRequest(X1SocketLineRequest* request);
    void AddFixedRequest(X1SocketFixedRequest* request);

    // Takes a request back: true when it was still filed (it was not completed), false when
    // the worker completed it (or another request replaced it).
    bool WithdrawLineRequest(X1SocketLineRequest* request);
    bool WithdrawFixedRequest(X1SocketFixedRequest* request);

    // Requests filed so far (for tests that check a read was served without the worker).
    std::size_t RequestsFiled() const;

    void OnSocketRead(int handle);
    void OnSocketClose(int handle, std::intptr_t lParam);

    // Moves the bytes of one line step from `socket` to `line`: at most kLinePeekSize bytes,
    // through the first line feed. Returns true when the line is complete (a line feed arrived
    // or the line reached kMaxLineLength). Shared by RecvLine's first look and the worker.
    static bool ReadLineStep(X1Socket& socket, std::string& line);

protected:
    void OnThreadMessage(const ThreadMessage& msg) override;

private:
    template <typename Request>
    static void Complete(std::map<int, Request*>& map, typename std::map<int, Request*>::iterator it);

    mutable CMutex m_lineMutex;
    mutable CMutex m_fixedMutex;
    std::map<int, X1SocketLineRequest*> m_lines;
    std::map<int, X1SocketFixedRequest*> m_fixed;
    std::size_t m_filed = 0;  // guarded by m_lineMutex
};
