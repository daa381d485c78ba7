#pragma once
// Helpers for the socket layer's tests: loopback peers written with plain POSIX calls (so they
// share nothing with the code under test), an owner thread that records the socket notices it
// receives and runs a test's handler for each, and counters of descriptors and threads. Their
// time limits are a plain build's: each is scaled for the build under test (TimeScale.h).

#include "foundation/X1Socket.h"
#include "foundation/X1SocketNotifyWindow.h"
#include "platform/kernel/Thread.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// The code and text of the X1SocketException that `fn` throws (and that this deletes); code -1
// when it throws none.
struct CaughtSocketError {
    int code = -1;
    std::string text;
};
CaughtSocketError CatchSocketError(const std::function<void()>& fn);

// Polls `ready` every few milliseconds until it holds or `timeoutMs` passed.
bool WaitUntil(const std::function<bool()>& ready, int timeoutMs = 10000);

// Open descriptors and threads of this process.
int OpenDescriptorCount();
int ThreadCount();
// True while the thread `tid` of this process sleeps in the kernel (a blocking call waits).
bool ThreadSleeps(int tid);

// One end of a TCP connection on 127.0.0.1.
class RawPeer {
public:
    explicit RawPeer(int fd = -1) : m_fd(fd) {}
    ~RawPeer();
    RawPeer(RawPeer&& other) noexcept;
    RawPeer& operator=(RawPeer&& other) noexcept;
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    // From `source` (host byte order, such as 127.0.0.2) when it is not 0.
    static RawPeer Connect(std::uint16_t port, std::uint32_t source = 0);

    int Fd() const { return m_fd; }
    void Send(std::string_view bytes);
    // What arrives within `timeoutMs` (up to `max` bytes; stops early at the end of stream).
    std::string Receive(std::size_t max, int timeoutMs);
    // True when the peer's end of stream arrives within `timeoutMs` (bytes before it are
    // discarded).
    bool WaitForEnd(int timeoutMs);
    void ShutdownSend();
    void SetReceiveBuffer(int bytes);
    void Close();
    // Closes with a reset (SO_LINGER 0).
    void Reset();

private:
    int m_fd;
};

class RawListener {
public:
    // On 127.0.0.1, any free port; or on `address` (host byte order) and `port`. Throws
    // std::runtime_error when it cannot listen.
    RawListener();
    RawListener(std::uint32_t address, std::uint16_t port);
    ~RawListener();
    RawListener(const RawListener&) = delete;
    RawListener& operator=(const RawListener&) = delete;
    std::uint16_t Port() const { return m_port; }
    RawPeer Accept(int timeoutMs = 10000);

private:
    int m_fd;
    std::uint16_t m_port;
};

class RawUdp {
public:
    // Bound to a free port of `address` (any 127.x.y.z, so one test can play several hosts).
    explicit RawUdp(const std::string& address = "127.0.0.1");
    ~RawUdp();
    RawUdp(const RawUdp&) = delete;
    RawUdp& operator=(const RawUdp&) = delete;
    std::uint16_t Port() const { return m_port; }
    void SendTo(std::uint16_t port, std::string_view bytes);
    // One datagram within `timeoutMs` (and its sender's port), or nothing.
    bool Receive(std::string* datagram, int timeoutMs, std::uint16_t* fromPort = nullptr);
    // Sends `bytes` to 127.0.0.1:`port` and returns the answer, or "(no answer)".
    std::string Ask(std::uint16_t port, std::string_view bytes, int timeoutMs = 10000);

private:
    int m_fd;
    std::uint16_t m_port;
};

// A thread with a message loop that owns sockets in tests. It records every socket notice
// (0x402-0x405) it receives, then runs the handler for it on the thread. With the environment
// variable NORVANE_TEST_OWNER_WAIT set it waits for its own sockets' events, as session threads
// do (X1SocketOwnerWait); otherwise the dispatcher thread hands them over.
class NoticeThread : public CThread {
public:
    struct Notice {
        UINT message;
        int handle;
    };
    using Handler = std::function<void(const ThreadMessage&)>;

    explicit NoticeThread(Handler handler = {});
    ~NoticeThread() override;

    // Runs `fn` on the thread and returns when it has run; its exception is thrown here.
    void Call(const std::function<void()>& fn);

    std::vector<Notice> Notices() const;
    int Count(UINT message, int handle) const;
    bool WaitForCount(UINT message, int handle, int count, int timeoutMs = 10000) const;

protected:
    bool InitInstance() override;
    int ExitInstance() override;
    void OnThreadMessage(const ThreadMessage& msg) override;

private:
    std::unique_ptr<X1SocketOwnerWait> m_ownerWait;
    Handler m_handler;
    mutable std::mutex m_mutex;
    std::vector<Notice> m_notices;
};

// A stream X1Socket connected to a raw peer and owned by a NoticeThread: created, connected,
// selected (with `mask`) and finally closed on that thread. `onNotice` runs on the owner thread
// for each notice, after it was recorded.
class OwnedConnection {
public:
    using OnNotice = std::function<void(X1Socket&, const ThreadMessage&)>;

    explicit OwnedConnection(OnNotice onNotice = {}, unsigned mask = FD_READ | FD_WRITE | FD_CLOSE);
    ~OwnedConnection();
    OwnedConnection(const OwnedConnection&) = delete;
    OwnedConnection& operator=(const OwnedConnection&) = delete;

    X1Socket& Socket() { return *m_socket; }
    NoticeThread& Owner() { return *m_owner; }
    RawPeer& Peer() { return m_peer; }
    int Handle() const { return m_handle; }
    // Runs `fn` with the socket on the owner thread.
    void Run(const std::function<void(X1Socket&)>& fn);
    // Notices of this socket's handle of one kind so far.
    int Count(UINT message) const { return m_owner->Count(message, m_handle); }
    bool WaitForCount(UINT message, int count, int timeoutMs = 10000) const {
        return m_owner->WaitForCount(message, m_handle, count, timeoutMs);
    }

private:
    RawListener m_server;
    OnNotice m_onNotice;
    std::unique_ptr<X1Socket> m_socket;
    std::unique_ptr<NoticeThread> m_owner;
    RawPeer m_peer;
    int m_handle = -1;
};
