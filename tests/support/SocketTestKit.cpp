#include "support/SocketTestKit.h"

#include "platform/kernel/Clock.h"
#include "platform/kernel/Sync.h"
#include "support/TimeScale.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <utility>

namespace {

int CountEntries(const char* folder) {
    int count = 0;
    if (DIR* dir = opendir(folder)) {
        while (dirent* e = readdir(dir))
            if (e->d_name[0] != '.')
                ++count;
        closedir(dir);
    }
    return count;
}

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sin.sin_port = htons(port);
    return sin;
}

std::uint16_t BoundPort(int fd) {
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
    return ntohs(sin.sin_port);
}

bool Readable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0;
}

}  // namespace

CaughtSocketError CatchSocketError(const std::function<void()>& fn) {
    CaughtSocketError caught;
    try {
        fn();
    } catch (X1SocketException* e) {
        caught.code = e->GetErrorCode();
        caught.text = e->GetErrorText();
        e->Delete();
    }
    return caught;
}

bool WaitUntil(const std::function<bool()>& ready, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledMs(timeoutMs));
    for (;;) {
        if (ready())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

int OpenDescriptorCount() { return CountEntries("/proc/self/fd") - 1; }  // minus the listing's own

int ThreadCount() { return CountEntries("/proc/self/task"); }

bool ThreadSleeps(int tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t name = stat.rfind(')');
    return name != std::string::npos && name + 2 < stat.size() && stat[name + 2] == 'S';
}

RawPeer::~RawPeer() { Close(); }

RawPeer::RawPeer(RawPeer&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

RawPeer& RawPeer::operator=(RawPeer&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

RawPeer RawPeer::Connect(std::uint16_t port, std::uint32_t source) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from = Loopback(0);
    from.sin_addr.s_addr = htonl(source);
    sockaddr_in sin = Loopback(port);
    if ((source != 0 && bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) ||
        connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
        close(fd);
        throw std::runtime_error("test peer could not connect");
    }
    return RawPeer(fd);
}

void RawPeer::Send(std::string_view bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            throw std::runtime_error("test peer could not send");
        sent += static_cast<std::size_t>(n);
    }
}

std::string RawPeer::Receive(std::size_t max, int timeoutMs) {
    std::string got;
    const std::uint64_t deadline = GetTickCount64() + static_cast<std::uint64_t>(ScaledMs(timeoutMs));
    char buf[4096];
    while (got.size() < max) {
        const std::uint64_t now = GetTickCount64();
        if (now >= deadline || !Readable(m_fd, static_cast<int>(deadline - now)))
            break;
        ssize_t n = recv(m_fd, buf, std::min(sizeof buf, max - got.size()), 0);
        if (n <= 0)
            break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

bool RawPeer::WaitForEnd(int timeoutMs) {
    const std::uint64_t deadline = GetTickCount64() + static_cast<std::uint64_t>(ScaledMs(timeoutMs));
    char buf[4096];
    for (;;) {
        const std::uint64_t now = GetTickCount64();
        if (now >= deadline || !Readable(m_fd, static_cast<int>(deadline - now)))
            return false;
        ssize_t n = recv(m_fd, buf, sizeof buf, 0);
        if (n <= 0)
            return true;
    }
}

void RawPeer::ShutdownSend() { shutdown(m_fd, SHUT_WR); }

void RawPeer::SetReceiveBuffer(int bytes) {
    setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

void RawPeer::Close() {
    if (m_fd >= 0)
        close(std::exchange(m_fd, -1));
}

void RawPeer::Reset() {
    linger l{1, 0};
    setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    Close();
}

RawListener::RawListener() : RawListener(INADDR_LOOPBACK, 0) {}

RawListener::RawListener(std::uint32_t address, std::uint16_t port) {
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin = Loopback(port);
    sin.sin_addr.s_addr = htonl(address);
    if (bind(m_fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 || listen(m_fd, 64) != 0) {
        close(m_fd);
        throw std::runtime_error("test listener failed");
    }
    m_port = BoundPort(m_fd);
}

RawListener::~RawListener() { close(m_fd); }

RawPeer RawListener::Accept(int timeoutMs) {
    if (!Readable(m_fd, ScaledMs(timeoutMs)))
        throw std::runtime_error("test listener: nobody connected");
    return RawPeer(accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC));
}

RawUdp::RawUdp(const std::string& address) {
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin = Loopback(0);
    inet_pton(AF_INET, address.c_str(), &sin.sin_addr);
    if (bind(m_fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0)
        throw std::runtime_error("test datagram socket failed");
    m_port = BoundPort(m_fd);
}

RawUdp::~RawUdp() { close(m_fd); }

void RawUdp::SendTo(std::uint16_t port, std::string_view bytes) {
    sockaddr_in sin = Loopback(port);
    sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
}

bool RawUdp::Receive(std::string* datagram, int timeoutMs, std::uint16_t* fromPort) {
    if (!Readable(m_fd, ScaledMs(timeoutMs)))
        return false;
    char buf[65536];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    ssize_t n = recvfrom(m_fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0)
        return false;
    datagram->assign(buf, static_cast<std::size_t>(n));
    if (fromPort != nullptr)
        *fromPort = ntohs(from.sin_port);
    return true;
}

std::string RawUdp::Ask(std::uint16_t port, std::string_view bytes, int timeoutMs) {
    SendTo(port, bytes);
    std::string answer;
    return Receive(&answer, timeoutMs) ? answer : "(no answer)";
}

NoticeThread::NoticeThread(Handler handler) : m_handler(std::move(handler)) {
    if (!CreateThread())
        throw std::runtime_error("test thread could not start");
}

bool NoticeThread::InitInstance() {
    if (std::getenv("NORVANE_TEST_OWNER_WAIT") != nullptr)
        m_ownerWait = std::make_unique<X1SocketOwnerWait>();
    return true;
}

int NoticeThread::ExitInstance() {
    m_ownerWait.reset();
    return CThread::ExitInstance();
}

NoticeThread::~NoticeThread() {
    PostThreadMessage(WM_QUIT, 0, 0);
    WaitForExit();
}

void NoticeThread::Call(const std::function<void()>& fn) {
    CEvent done(true, false);
    std::exception_ptr failure;
    if (!PostThreadCall(ThreadId(), [&] {
            try {
                fn();
            } catch (...) {
                failure = std::current_exception();
            }
            done.Set();
        }))
        throw std::runtime_error("test thread has ended");
    done.Wait();
    if (failure)
        std::rethrow_exception(failure);
}

std::vector<NoticeThread::Notice> NoticeThread::Notices() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_notices;
}

int NoticeThread::Count(UINT message, int handle) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    int count = 0;
    for (const Notice& n : m_notices)
        if (n.message == message && n.handle == handle)
            ++count;
    return count;
}

bool NoticeThread::WaitForCount(UINT message, int handle, int count, int timeoutMs) const {
    return WaitUntil([&] { return Count(message, handle) >= count; }, timeoutMs);
}

void NoticeThread::OnThreadMessage(const ThreadMessage& msg) {
    if (msg.message < 0x402 || msg.message > 0x405)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_notices.push_back({msg.message, static_cast<int>(msg.wParam)});
    }
    if (m_handler)
        m_handler(msg);
}

OwnedConnection::OwnedConnection(OnNotice onNotice, unsigned mask)
    : m_onNotice(std::move(onNotice)) {
    m_owner = std::make_unique<NoticeThread>([this](const ThreadMessage& msg) {
        if (m_onNotice && m_socket && static_cast<int>(msg.wParam) == m_handle)
            m_onNotice(*m_socket, msg);
    });
    m_owner->Call([&] {
        m_socket = std::make_unique<X1Socket>();
        m_socket->Create();
        m_socket->Connect("127.0.0.1", m_server.Port());
        m_handle = m_socket->GetHandle();
        m_socket->SetEventMask(mask);
    });
    m_peer = m_server.Accept();
}

OwnedConnection::~OwnedConnection() {
    m_owner->Call([&] { m_socket.reset(); });
    m_owner.reset();
}

void OwnedConnection::Run(const std::function<void(X1Socket&)>& fn) {
    m_owner->Call([&] { fn(*m_socket); });
}
