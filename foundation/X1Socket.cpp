#include "foundation/X1Socket.h"

#include "foundation/Format.h"
#include "foundation/SocketErrorTexts.h"
#include "foundation/X1SocketNotifyWindow.h"
#include "foundation/X1SocketReadWorker.h"
#include "platform/kernel/File.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Thread.h"
#include "platform/net/Resolver.h"
#include "platform/net/SocketErrors.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <functional>
#include <memory>
#include <vector>

std::atomic<int> X1Socket::s_nDefaultMode{X1Socket::kModePlain};

namespace {

X1SocketNotifyWindow& Window() { return X1SocketNotifyWindow::Instance(); }

// The time-out of a send of `count` bytes: ten times the count plus 10000 ms.
DWORD SendTimeout(std::size_t count) {
    const std::uint64_t ms = 10ull * count + 10000;
    return static_cast<DWORD>(std::min<std::uint64_t>(ms, INFINITE - 1));
}

// The mode of a new stream socket: the process-wide default (which is never the datagram mode).
int StreamMode(int defaultMode) {
    return defaultMode == X1Socket::kModeDatagram ? X1Socket::kModePlain : defaultMode;
}

}  // namespace

// Lends a socket's notices to the read worker for one blocking read, and gives them back to
// the registration they had (owner thread or callback) with the selection state the blocking
// reads leave: mask FD_READ | FD_CLOSE, selection on if it was on before, off otherwise.
class X1Socket::NoticeLoan {
public:
    explicit NoticeLoan(X1Socket& socket) : m_socket(socket) {}
    ~NoticeLoan() { GiveBack(); }
    NoticeLoan(const NoticeLoan&) = delete;
    NoticeLoan& operator=(const NoticeLoan&) = delete;

    void Lend(DWORD workerThread) {
        const int h = m_socket.m_hSocket;
        m_handle = h;
        m_owner = Window().GetOwner(h);
        m_callbackSocket = Window().GetCallbackSocket(h);
        m_wasAsync = m_socket.m_bAsync;
        m_lent = true;
        Window().RegisterOwner(h, workerThread);
        m_socket.SetEventMask(kReadCloseMask);
        m_socket.StartAsyncSelect();
    }

    // Never throws: it also runs while an exception passes.
    void GiveBack() noexcept {
        if (!m_lent)
            return;
        m_lent = false;
        try {
            if (!m_wasAsync) {
                m_socket.m_lEventMask = kReadCloseMask;
                m_socket.StopAsyncSelect();
            }
            if (m_callbackSocket)
                Window().RegisterCallback(m_handle, m_callbackSocket);
            else
                Window().RegisterOwner(m_handle, m_owner ? m_owner : GetCurrentThreadId());
            if (m_wasAsync) {
                m_socket.SetEventMask(kReadCloseMask);
                m_socket.StartAsyncSelect();
            }
        } catch (CException* e) {
            e->Delete();  // the socket was closed under the read: nothing left to give back
        } catch (...) {
        }
    }

private:
    X1Socket& m_socket;
    int m_handle = INVALID_SOCKET_HANDLE;
    DWORD m_owner = 0;
    X1Socket* m_callbackSocket = nullptr;
    bool m_wasAsync = false;
    bool m_lent = false;
};

X1Socket::X1Socket() : m_nMode(s_nDefaultMode.load()) {
    if (!Window().IsCreated())
        Window().Create();
}

IMPLEMENT_DYNCREATE(X1Socket, CObject)

X1Socket::~X1Socket() {
    try {
        Close();
    } catch (CException* e) {
        e->Delete();
    } catch (...) {
    }
    Window().WaitForCallbacks(this);
}

void X1Socket::SetDefaultMode(int mode) { s_nDefaultMode = mode; }

int X1Socket::GetDefaultMode() { return s_nDefaultMode.load(); }

void X1Socket::Register() {
    m_generation = NetGeneration(m_hSocket);
    if (m_pCallback)
        Window().RegisterCallback(m_hSocket, this);
    else
        Window().RegisterCurrentThread(m_hSocket);
}

bool X1Socket::Interrupt() {
    const std::uint64_t generation = m_generation.load();
    return generation != 0 && NetInterrupt(generation);
}

int X1Socket::RequireOpen() const {
    if (m_hSocket == INVALID_SOCKET_HANDLE)
        throw new X1SocketException(WSAENOTSOCK);
    return m_hSocket;
}

void X1Socket::ThrowIoError(int code) const {
    throw new X1SocketException(m_nMode == kModeOverlapped ? OverlappedErrorFromSocketError(code)
                                                       : code);
}

DWORD X1Socket::ResolveOrThrow(const std::string& host) {
    DWORD address = 0;
    if (!ResolveHostAddress(host, &address)) {
        WSASetLastError(WSAEINVAL);
        throw new X1SocketException(WSAEINVAL, HostnameLookupFailedText(host));
    }
    return address;
}

void X1Socket::Create(int type) {
    if (m_hSocket != INVALID_SOCKET_HANDLE)
        Close();
    const int s = NetSocket(type);
    if (s == INVALID_SOCKET_HANDLE)
        throw new X1SocketException(WSAGetLastError());
    m_hSocket = s;
    m_nMode = type == NET_SOCK_DGRAM ? kModeDatagram : StreamMode(s_nDefaultMode);
    m_bSelected = false;
    m_bConnected = false;
    m_connectedLocal = 0;
    Register();
}

void X1Socket::Attach(int handle) {
    if (handle == INVALID_SOCKET_HANDLE)
        return;
    if (m_hSocket != INVALID_SOCKET_HANDLE && m_hSocket != handle)
        Close();
    m_hSocket = handle;
    m_nMode = NetIsDatagram(handle) ? kModeDatagram : StreamMode(s_nDefaultMode);
    Register();
    m_bConnected = true;
    NoteConnectedLocal();
}

int X1Socket::Detach() {
    const int h = m_hSocket;
    if (h == INVALID_SOCKET_HANDLE)
        return INVALID_SOCKET_HANDLE;
    m_generation = 0;  // the handle is another socket's now: never interrupted from here
    Window().Unregister(h);
    m_hSocket = INVALID_SOCKET_HANDLE;
    m_bConnected = false;
    m_connectedLocal = 0;
    m_bSelected = false;
    m_lease.reset();
    return h;
}

void X1Socket::Close() {
    const int h = m_hSocket;
    if (h == INVALID_SOCKET_HANDLE)
        return;
    m_generation = 0;
    Window().Unregister(h);
    const bool closed = NetClose(h);
    const int error = WSAGetLastError();
    // The descriptor is released whatever close reported: the handle must not be used again.
    m_hSocket = INVALID_SOCKET_HANDLE;
    m_bConnected = false;
    m_connectedLocal = 0;
    m_bSelected = false;
    m_lease.reset();
    if (m_pLink)
        m_pLink->StopCipher();
    if (!closed)
        throw new X1SocketException(error);
}

void X1Socket::CloseGracefully(DWORD drainMs, bool peerDone) {
    const int h = m_hSocket;
    if (h == INVALID_SOCKET_HANDLE)
        return;
    Window().Unregister(h);
    NetAsyncSelect(h, 0);
    // A peer that is done and has nothing waiting sends nothing that could meet the closed
    // socket and reset the connection: only one that still sends is waited for.
    if (NetShutdownSend(h) && (!peerDone || NetDrain(h, 0, kGracefulDrainBytes) > 0))
        NetDrain(h, drainMs, kGracefulDrainBytes);
    Close();
}

bool X1Socket::HasPeerEnded() const {
    return m_hSocket != INVALID_SOCKET_HANDLE && NetPeerEnded(m_hSocket);
}

void X1Socket::ShutdownSend() {
    if (!NetShutdownSend(RequireOpen()))
        throw new X1SocketException(WSAGetLastError());
}

void X1Socket::SetCallback(X1SocketCallback callback, void* userData) {
    m_pCallback = callback;
    m_pUserData = userData;
}

void X1Socket::Connect(const std::string& host, UINT port) {
    const DWORD address = ResolveOrThrow(host);
    if (!NetConnect(RequireOpen(), {address, static_cast<WORD>(port)}, kConnectTimeoutMs))
        throw new X1SocketException(WSAGetLastError());
    if (m_bHandshakeOnConnect)
        ClientHandshake();
    m_bConnected = true;
    NoteConnectedLocal();
}

void X1Socket::Bind(UINT port, const std::string& address) {
    DWORD local = NET_ADDR_ANY;
    if (!address.empty() && !ParseDottedAddress(address, &local))
        throw new X1SocketException(WSAEINVAL);
    if (!NetBind(RequireOpen(), {local, static_cast<WORD>(port)}))
        throw new X1SocketException(WSAGetLastError());
}

void X1Socket::Listen(int backlog) {
    if (!NetListen(RequireOpen(), backlog))
        throw new X1SocketException(WSAGetLastError());
}

int X1Socket::Accept() {
    const int a = NetAccept(RequireOpen(), nullptr, m_bSelected ? 0 : INFINITE);
    if (a == INVALID_SOCKET_HANDLE)
        throw new X1SocketException(WSAGetLastError());
    return a;
}

int X1Socket::TryAccept() {
    const int a = NetAccept(RequireOpen(), nullptr, 0);
    if (a == INVALID_SOCKET_HANDLE && WSAGetLastError() != WSAEWOULDBLOCK)
        throw new X1SocketException(WSAGetLastError());
    return a;
}

void X1Socket::GetPeer(std::string& address, UINT& port) const {
    const NetAddress a = EndAddress(true);
    address = FormatDottedAddress(a.address);
    port = a.port;
}

void X1Socket::SetEventMask(unsigned mask) {
    m_lEventMask = mask;
    if (m_bAsync && m_hSocket != INVALID_SOCKET_HANDLE)
        StartAsyncSelect();
}

void X1Socket::SelectEvents(unsigned mask) {
    m_lEventMask = mask;
    StartAsyncSelect();
}

void X1Socket::StartAsyncSelect() {
    if (!NetAsyncSelect(RequireOpen(), m_lEventMask))
        throw new X1SocketException(WSAGetLastError());
    m_bAsync = true;
    m_bSelected = m_lEventMask != 0;
}

void X1Socket::StopAsyncSelect() {
    if (!NetAsyncSelect(RequireOpen(), 0))
        throw new X1SocketException(WSAGetLastError());
    m_bAsync = false;
    m_bSelected = false;
}

int X1Socket::RawSend(const void* bytes, int count) {
    if (count <= 0)
        return 0;
    const int s = RequireOpen();
    const long sent = NetSend(s, bytes, static_cast<std::size_t>(count), SendTimeout(count));
    if (sent < 0)
        ThrowIoError(WSAGetLastError());
    AddBytesSent(static_cast<DWORD>(sent));
    return static_cast<int>(sent);
}

int X1Socket::Send(const void* bytes, int count) {
    return IsCipherActive() ? SendEnciphered(bytes, count) : RawSend(bytes, count);
}

int X1Socket::SendTo(const void* bytes, int count, UINT port, const std::string& host) {
    const DWORD address = host.empty() ? NET_ADDR_BROADCAST : ResolveOrThrow(host);
    // A datagram is enciphered whole: cutting it into cipher chunks would change what the
    // peer receives.
    std::vector<BYTE> enciphered;
    if (IsCipherActive() && count > 0) {
        enciphered.resize(static_cast<std::size_t>(count));
        m_pLink->SendCipher().Apply(static_cast<const BYTE*>(bytes), enciphered.data(),
                                    enciphered.size());
        bytes = enciphered.data();
    }
    const long sent = NetSendTo(RequireOpen(), bytes, static_cast<std::size_t>(std::max(count, 0)),
                                {address, static_cast<WORD>(port)});
    if (sent < 0)
        throw new X1SocketException(WSAGetLastError());
    AddBytesSent(static_cast<DWORD>(sent));
    return static_cast<int>(sent);
}

int X1Socket::SendDatagrams(NetOutgoingDatagram* datagrams, int count) {
    const int s = RequireOpen();
    if (count <= 0)
        return 0;
    int sent = 0;
    if (IsCipherActive()) {
        // Each enciphered whole and sent on its own, as SendTo does.
        for (int i = 0; i < count; ++i) {
            NetOutgoingDatagram& d = datagrams[i];
            std::vector<BYTE> enciphered(d.count);
            m_pLink->SendCipher().Apply(static_cast<const BYTE*>(d.bytes), enciphered.data(),
                                        enciphered.size());
            d.sent = NetSendTo(s, enciphered.data(), enciphered.size(), d.to);
            d.error = d.sent < 0 ? WSAGetLastError() : 0;
            sent += d.sent >= 0 ? 1 : 0;
        }
    } else {
        sent = NetSendDatagrams(s, datagrams, static_cast<std::size_t>(count));
        if (sent < 0)
            throw new X1SocketException(WSAGetLastError());
    }
    for (int i = 0; i < count; ++i)
        AddBytesSent(static_cast<DWORD>(std::max(datagrams[i].sent, 0L)));
    return sent;
}

int X1Socket::SendString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = FormatTextV(format, args);
    va_end(args);
    if (text.size() > 0x7FFFFFFF)
        throw new X1SocketException(WSAEMSGSIZE);
    return Send(text.data(), static_cast<int>(text.size()));
}

void X1Socket::SendFile(int fileHandle) {
    std::vector<char> block(kSendFileBlock);
    std::uint64_t offset = 0;
    for (;;) {
        const std::int64_t n = ReadFileAt(fileHandle, block.data(), block.size(), offset);
        if (n <= 0)
            break;
        Send(block.data(), static_cast<int>(n));
        offset += static_cast<std::uint64_t>(n);
    }
}

BOOL X1Socket::SendFileByName(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string name = FormatTextV(format, args);
    va_end(args);
    const int file = OpenFile(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (file == INVALID_FILE_HANDLE)
        return FALSE;
    try {
        SendFile(file);
    } catch (X1SocketException* e) {
        e->Delete();  // the peer went away: the sending ends, the file was found
    }
    CloseFile(file);
    return TRUE;
}

int X1Socket::RawReceive(void* buffer, int size) {
    if (m_hSocket == INVALID_SOCKET_HANDLE || size <= 0)
        return 0;
    long got;
    if (m_nMode == kModeDatagram) {
        // Always a receive, so an empty datagram (which leaves 0 bytes "available") is taken.
        got = NetRecv(m_hSocket, buffer, static_cast<std::size_t>(size), false);
    } else {
        // One non-blocking receive: nothing waiting reads as 0. A failed receive reads as the
        // count of waiting bytes would: 0 on a reset or ended connection, the count's own
        // error on a socket that has no stream (a listener).
        got = NetRecv(m_hSocket, buffer, static_cast<std::size_t>(size), false);
        if (got < 0) {
            GetBytesAvailable();
            return 0;
        }
    }
    if (got < 0)
        ThrowIoError(WSAGetLastError());
    AddBytesReceived(static_cast<DWORD>(got));
    return static_cast<int>(got);
}

int X1Socket::Receive(void* buffer, int size) {
    return IsCipherActive() ? ReceiveDeciphered(buffer, size) : RawReceive(buffer, size);
}

int X1Socket::ReceiveFrom(void* buffer, int size, std::string& host, UINT& port) {
    if (m_hSocket == INVALID_SOCKET_HANDLE || size <= 0)
        return 0;
    if (m_nMode != kModeDatagram && GetBytesAvailable() <= 0)
        return 0;
    NetAddress from;
    const long got = NetRecvFrom(m_hSocket, buffer, static_cast<std::size_t>(size), &from);
    if (got < 0)
        throw new X1SocketException(WSAGetLastError());
    if (IsCipherActive() && got > 0)
        m_pLink->ReceiveCipher().Apply(static_cast<BYTE*>(buffer), static_cast<std::size_t>(got));
    host = FormatDottedAddress(from.address);
    port = from.port;
    AddBytesReceived(static_cast<DWORD>(got));
    return static_cast<int>(got);
}

int X1Socket::ReceiveDatagrams(NetDatagram* datagrams, int count) {
    if (m_hSocket == INVALID_SOCKET_HANDLE || count <= 0)
        return 0;
    const int got = NetRecvDatagrams(m_hSocket, datagrams, static_cast<std::size_t>(count));
    if (got < 0)
        throw new X1SocketException(WSAGetLastError());
    for (int i = 0; i < got; ++i) {
        NetDatagram& datagram = datagrams[i];
        if (IsCipherActive() && datagram.length > 0)
            m_pLink->ReceiveCipher().Apply(static_cast<BYTE*>(datagram.buffer), datagram.length);
        AddBytesReceived(static_cast<DWORD>(datagram.length));
    }
    return got;
}

int X1Socket::Peek(void* buffer, int size) {
    if (m_hSocket == INVALID_SOCKET_HANDLE || size <= 0)
        return 0;
    const int waiting = GetBytesAvailable();
    if (waiting <= 0)
        return 0;
    const long got =
        NetRecv(m_hSocket, buffer, static_cast<std::size_t>(std::min(waiting, size)), true);
    if (got < 0)
        ThrowIoError(WSAGetLastError());
    return static_cast<int>(got);
}

int X1Socket::MoveTo(X1Socket& to, int size, NetMoveCopy* copy) {
    if (m_hSocket == INVALID_SOCKET_HANDLE || size <= 0)
        return 0;
    if (!IsCipherActive() && !to.IsCipherActive() && m_nMode != kModeDatagram &&
        to.m_nMode != kModeDatagram) {
        const int s = to.RequireOpen();
        std::size_t taken = 0;
        const long moved =
            NetMove(m_hSocket, s, static_cast<std::size_t>(size),
                    SendTimeout(static_cast<std::size_t>(size)), &taken, &to.m_dwBytesSent, copy);
        if (moved >= 0) {
            AddBytesReceived(static_cast<DWORD>(moved));
            return static_cast<int>(moved);
        }
        AddBytesReceived(static_cast<DWORD>(taken));
        if (taken != 0 || WSAGetLastError() != WSAEOPNOTSUPP)
            to.ThrowIoError(WSAGetLastError());
    }
    std::vector<char> buffer(static_cast<std::size_t>(std::min(size, kMoveCopyBlock)));
    const int received = Receive(buffer.data(), static_cast<int>(buffer.size()));
    if (received <= 0)
        return 0;
    to.Send(buffer.data(), received);
    if (copy != nullptr && copy->error == 0) {
        const auto count = static_cast<std::size_t>(received);
        if (WriteFileAt(copy->file, buffer.data(), count, copy->offset) ==
            static_cast<std::int64_t>(count))
            copy->offset += count;
        else
            copy->error = errno != 0 ? errno : EIO;
    }
    return received;
}

int X1Socket::GetBytesAvailable() {
    const long waiting = NetBytesAvailable(RequireOpen());
    if (waiting < 0)
        throw new X1SocketException(WSAGetLastError());
    return static_cast<int>(std::min<long>(waiting, 0x7FFFFFFF));
}

void X1Socket::WaitForWorker(CEvent& wake, DWORD timeoutMs,
                             const std::function<bool()>& withdraw) {
    NoticeLoan loan(*this);
    try {
        loan.Lend(Window().GetReadWorker().ThreadId());
        wake.Wait(timeoutMs);
    } catch (...) {
        withdraw();
        throw;  // the loan gives the socket back on the way out
    }
    // Taking the request back also waits until the worker has let go of it. A request the
    // worker completed just as the wait timed out is not filed any more: it counts as
    // completed, and its bytes are returned rather than lost.
    withdraw();
    loan.GiveBack();
}

int X1Socket::RecvLine(std::string& line, DWORD timeoutMs) {
    if (IsCipherActive())
        throw new X1SocketException(0, kRecvLineEncipheredText);
    RequireOpen();
    line.clear();
    if (X1SocketReadWorker::ReadLineStep(*this, line))
        return static_cast<int>(line.size());

    X1SocketReadWorker& worker = Window().GetReadWorker();
    CEvent wake(false, false);
    X1SocketLineRequest request{&line, this, &wake, GetCurrentThreadId()};
    worker.AddLineRequest(&request);
    WaitForWorker(wake, timeoutMs, [&] { return worker.WithdrawLineRequest(&request); });
    if (!request.completed)
        throw new X1SocketException(0, RecvLineTimeoutText());
    return static_cast<int>(line.size());
}

int X1Socket::RecvFixedAmount(void* buffer, int count, DWORD timeoutMs) {
    if (count <= 0)
        return 0;
    RequireOpen();
    X1SocketReadWorker& worker = Window().GetReadWorker();
    CEvent wake(false, false);
    X1SocketFixedRequest request{static_cast<unsigned char*>(buffer),
                                 static_cast<std::size_t>(count),
                                 this,
                                 &wake,
                                 GetCurrentThreadId(),
                                 static_cast<std::size_t>(count)};
    worker.AddFixedRequest(&request);
    WaitForWorker(wake, timeoutMs, [&] { return worker.WithdrawFixedRequest(&request); });
    if (!request.completed)
        throw new X1SocketException(0, RecvFixedTimeoutText());
    return count - static_cast<int>(request.missing);
}

void X1Socket::SetLinger(bool on) {
    if (!NetSetLinger(RequireOpen(), on, kLingerSeconds))
        throw new X1SocketException(WSAGetLastError());
}

void X1Socket::SetNoDelay(bool on) {
    if (!NetSetNoDelay(RequireOpen(), on))
        throw new X1SocketException(WSAGetLastError());
}

void X1Socket::SetReuseAddress(bool on) {
    if (!NetSetReuseAddress(RequireOpen(), on))
        throw new X1SocketException(WSAGetLastError());
}

NetAddress X1Socket::EndAddress(bool peer) const {
    NetAddress a;
    if (!(peer ? NetGetPeerAddress : NetGetLocalAddress)(RequireOpen(), &a))
        throw new X1SocketException(WSAGetLastError());
    return a;
}

std::string X1Socket::GetLocalAddress() { return FormatDottedAddress(EndAddress(false).address); }

void X1Socket::NoteConnectedLocal() {
    NetAddress local;
    m_connectedLocal = NetGetLocalAddress(m_hSocket, &local) ? local.address : 0;
}

std::string X1Socket::GetConnectedLocalAddress() const {
    const DWORD local = m_connectedLocal.load();
    return local != 0 ? FormatDottedAddress(local) : std::string();
}

UINT X1Socket::GetLocalPort() { return EndAddress(false).port; }

std::string X1Socket::GetPeerAddress() { return FormatDottedAddress(EndAddress(true).address); }

UINT X1Socket::GetPeerPort() { return EndAddress(true).port; }

void X1Socket::ResetByteCounters() {
    m_dwBytesSent = 0;
    m_dwBytesReceived = 0;
}
