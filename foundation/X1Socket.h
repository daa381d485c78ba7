#pragma once
// X1Socket: the one socket class of the system. It wraps an IPv4 socket handle of platform/net,
// delivers the socket's events through X1SocketNotifyWindow (as thread messages 0x402-0x405 to
// the thread that owns the socket, or as calls of its callback on the callback thread), sends
// blocking, receives without ever waiting for data, and offers blocking line and fixed-length
// reads with time-outs through the read worker. Every failure throws X1SocketException (by
// pointer) with a socket error number and its text. The class can be created by name but never
// stands in an archive stream.
//
// A socket belongs to the thread that created or attached it: only that thread calls its
// operations (the read worker uses it while that thread waits in RecvLine or RecvFixedAmount).
// The byte counters and GetConnectedLocalAddress may be read from any thread.
//
// I/O modes: 0 (plain) and 2 (overlapped handle) are stream sockets; 2 reports a bad handle,
// a lack of memory and a bad buffer with the file error numbers 6, 8 and 1784, as the original
// overlapped I/O did. Every stream send waits for room at most ten times the byte count plus
// 10000 ms (then 10060). Mode 1 is a datagram socket: its receives take one datagram each
// (never waiting); an empty datagram is consumed and reads as 0 bytes, a datagram longer than
// the buffer is consumed and fails with 10040, ICMP errors are consumed unseen.
//
// A class derived from X1Socket that serves events through its own On... operations must
// Close in its own destructor, so no callback reaches it half destroyed.

#include "foundation/LinkHandshake.h"
#include "foundation/X1SocketException.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"
#include "platform/net/Sockets.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CEvent;
class CLinkLogOnThrottle;
class X1Socket;

// Called for each event (an FD_ bit) of a callback-mode socket, on the callback thread.
using X1SocketCallback = void (*)(void* userData, X1Socket* socket, unsigned event);

class X1Socket : public CObject {
    DECLARE_DYNCREATE(X1Socket)
public:
    static constexpr int kModePlain = 0;
    static constexpr int kModeDatagram = 1;
    static constexpr int kModeOverlapped = 2;

    static constexpr DWORD kConnectTimeoutMs = 21000;
    static constexpr int kLingerSeconds = 1000;
    // The blocks SendFile reads and sends (the original platform's allocation granularity).
    static constexpr std::size_t kSendFileBlock = 65536;
    // What CloseGracefully waits for and reads at most while draining.
    static constexpr DWORD kGracefulDrainMs = 1000;
    static constexpr std::size_t kGracefulDrainBytes = 1 << 20;
    // The most MoveTo copies at once when it has to copy.
    static constexpr int kMoveCopyBlock = 65536;
    // The mask a socket has after a blocking read: FD_READ | FD_CLOSE.
    static constexpr unsigned kReadCloseMask = FD_READ | FD_CLOSE;

    // Creates the notification window and the read worker when they do not exist yet (throws
    // X1SocketException(0, "X1Socket callback window creation failed") if that fails).
    X1Socket();
    // Closes the socket if it is open (a failure is swallowed).
    ~X1Socket() override;
    X1Socket(const X1Socket&) = delete;
    X1Socket& operator=(const X1Socket&) = delete;

    // The mode new stream sockets take: 0 until the engine's service start sets 2.
    static void SetDefaultMode(int mode);
    static int GetDefaultMode();

    // Life cycle.
    // A new socket of NET_SOCK_STREAM or NET_SOCK_DGRAM (mode 1), registered for the calling
    // thread, or in callback mode when a callback is set. An open socket is closed first.
    void Create(int type = NET_SOCK_STREAM);
    // Takes over `handle` (an accepted or detached socket); -1 does nothing. Registers it like
    // Create and sets the connected flag.
    virtual void Attach(int handle);
    // Gives the handle up without closing it, so another X1Socket (on another thread) can
    // Attach it; its events stop until then. Returns -1 when the socket is closed.
    int Detach();
    // Unregisters and closes the handle; nothing for a closed socket. The handle is -1
    // afterwards even when closing fails (the failure is thrown).
    void Close();
    // Stops the socket's events, shuts its sending side down, reads and discards what the
    // peer still sends for at most `drainMs`, then closes, so that closing never resets a
    // connection whose last bytes are still on their way to the peer. With `peerDone` (the
    // peer has sent all its protocol lets it send, e.g. a whole request without a body) only
    // a peer that still has bytes waiting is waited for; one with nothing waiting is closed
    // at once, its end taken by the kernel after the close.
    void CloseGracefully(DWORD drainMs = kGracefulDrainMs, bool peerDone = false);
    // Half-close: ends the sending side only (the peer reads end of stream) while this side
    // can still receive. Throws the socket error on failure.
    void ShutdownSend();
    // From any thread: ends both directions of the connection, so that a send, connect or
    // blocking read the owner thread waits in fails at once (its socket stays open until the
    // owner closes it). Nothing (false) when the socket is closed or was detached meanwhile:
    // its handle may be another socket's by then.
    bool Interrupt();
    // Keeps `lease` (a registration of the socket's port, say) until the handle is closed or
    // detached here; a second lease replaces the first.
    void HoldWhileOpen(std::shared_ptr<void> lease) { m_lease = std::move(lease); }
    // Callback mode for the next Create or Attach (nullptr: owner-thread mode).
    void SetCallback(X1SocketCallback callback, void* userData);

    // Connections.
    // Connects to `host` (dotted, or resolved to its first address), waiting at most
    // kConnectTimeoutMs. A name that does not resolve throws 10022 with the text of
    // HostnameLookupFailed.
    virtual void Connect(const std::string& host, UINT port);
    // Binds to `port` (0: any free port) on `address`, a dotted address; empty binds to every
    // local address. Any other text throws 10022.
    void Bind(UINT port, const std::string& address = {});
    void Listen(int backlog);
    // The handle of a pending connection (the caller attaches it to a new X1Socket). With
    // selection on it never waits (10035 when none is pending); otherwise it waits for one.
    int Accept();
    // A pending connection's handle without waiting, or -1 when none is pending (no
    // exception for that: a loop that takes every pending connection ends there); other
    // failures throw.
    int TryAccept();

    // Events.
    // Stores the mask; issues the selection again when the asynchronous flag is on and the
    // socket is open.
    void SetEventMask(unsigned mask);
    unsigned GetEventMask() const { return m_lEventMask; }
    void StartAsyncSelect();
    // SetEventMask and StartAsyncSelect in one selection (the two calls issue it twice when
    // the asynchronous flag is on).
    void SelectEvents(unsigned mask);
    void StopAsyncSelect();
    bool IsAsync() const { return m_bAsync; }

    // Sending. Send and SendTo return the bytes sent (count 0 sends nothing and returns 0).
    virtual int Send(const void* bytes, int count);
    // One datagram to `host` (dotted or resolved; empty: the broadcast address) and `port`.
    virtual int SendTo(const void* bytes, int count, UINT port, const std::string& host = {});
    // Datagrams to their own addresses, many per system call (NetSendDatagrams): each is
    // marked sent or failed, and one failure stops none of the others. Returns how many were
    // sent; throws only when the socket is not open.
    int SendDatagrams(NetOutgoingDatagram* datagrams, int count);
    int SendString(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Sends a whole file (from its start, whatever its handle's position), block by block.
    void SendFile(int fileHandle);
    // Sends the file named by the formatted text: FALSE when it cannot be opened, TRUE
    // otherwise, also when the sending failed part-way (the failure ends the sending).
    BOOL SendFileByName(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Receiving: never waits for data.
    // At most `size` of the waiting bytes (one datagram on a datagram socket); 0 when the
    // socket is closed or nothing waits.
    virtual int Receive(void* buffer, int size);
    // Receive with the sender's dotted address and port (a stream socket gives its peer).
    virtual int ReceiveFrom(void* buffer, int size, std::string& host, UINT& port);
    // The datagrams waiting, many per system call (NetRecvDatagrams, at most 64): how many were
    // taken into `datagrams`; 0 when the socket is closed or none wait.
    int ReceiveDatagrams(NetDatagram* datagrams, int count);
    // Like Receive, but the bytes stay waiting. Never deciphered.
    virtual int Peek(void* buffer, int size);
    // Moves at most `size` of the bytes waiting here to `to`, sending as Send does (waiting for
    // room, failures thrown): the count moved, 0 when nothing waited. Between two plain stream
    // sockets the bytes never pass through this process, and `to` counts them sent as they go
    // (a slow peer's progress shows while the send waits); otherwise (a cipher, a datagram
    // socket) they go through Receive and Send. Both sockets' counters count them. With
    // `copy`, the bytes moved are also written into its file once sent (NetMoveCopy: a failed
    // write sets its error and stops the copy, not the move).
    int MoveTo(X1Socket& to, int size, NetMoveCopy* copy = nullptr);
    // Bytes waiting (on a datagram socket: the next datagram's length).
    int GetBytesAvailable();
    // Whether the peer has ended its stream (or the connection failed) while bytes it sent
    // may still wait: a session that leaves them unread learns so that its client has gone.
    // False for a closed socket.
    bool HasPeerEnded() const;

    // Blocking reads, served by the read worker while the calling thread waits.
    // Reads one line into `line` (cleared first), its line feed included; returns its length.
    // Returns fewer bytes without a line feed when the peer closes (the thread then gets the
    // close notice) or when the line reaches X1SocketReadWorker::kMaxLineLength. Throws
    // X1SocketException(0, RecvLineTimeout text) after `timeoutMs`. Refused on an enciphered
    // socket.
    int RecvLine(std::string& line, DWORD timeoutMs);
    // Reads `count` bytes into `buffer`; returns the count, or fewer when the peer closed (the
    // thread then gets the close notice) or a receive failed. Throws X1SocketException(0,
    // RecvFixedTimeout text) after `timeoutMs`. A count of 0 returns 0 at once.
    int RecvFixedAmount(void* buffer, int count, DWORD timeoutMs);

    // Options and addresses.
    void SetLinger(bool on);
    void SetNoDelay(bool on);
    void SetReuseAddress(bool on);
    std::string GetLocalAddress();
    // This end's address while the socket is connected (taken when it connected or was
    // attached), else empty. Any thread may ask: it never touches the descriptor.
    std::string GetConnectedLocalAddress() const;
    UINT GetLocalPort();
    std::string GetPeerAddress();
    UINT GetPeerPort();
    // The peer's dotted address and port with one look.
    void GetPeer(std::string& address, UINT& port) const;

    // Byte counters (the sessions' traffic figures).
    DWORD GetBytesSent() const { return m_dwBytesSent.load(); }
    DWORD GetBytesReceived() const { return m_dwBytesReceived.load(); }
    void AddBytesSent(DWORD count) { m_dwBytesSent.fetch_add(count); }
    void AddBytesReceived(DWORD count) { m_dwBytesReceived.fetch_add(count); }
    void ResetByteCounters();

    int GetHandle() const { return m_hSocket; }
    bool IsConnected() const { return m_bConnected; }
    int GetMode() const { return m_nMode; }
    X1SocketCallback GetCallback() const { return m_pCallback; }
    void* GetUserData() const { return m_pUserData; }

    // The link handshake and cipher (X1SocketLink.cpp).
    // Stores the credentials of the link handshake: from then on Connect runs the client half
    // before the socket counts as connected. The cipher stays off until a handshake succeeds.
    void SetLinkCredentials(BYTE linkType, bool fixedUser, const std::string& userName,
                            const std::string& password);
    // The client half on a connected socket (Connect calls it). Throws X1SocketException with
    // the refusal's code and text; the caller closes the socket.
    void ClientHandshake();
    // The server half on an accepted socket whose credentials are set. Without a fixed user,
    // `lookup` finds the client's user and password. With a `throttle`, the client's answer
    // is checked and answered at its address's turn (LinkLogOnThrottle.h), waiting on the
    // calling thread. Throws like ClientHandshake.
    void ServerHandshake(const CLinkUserLookup& lookup = {},
                         CLinkLogOnThrottle* throttle = nullptr);
    // The link type (after a server's promotion of a console link to 3), and the user name (on
    // a server, the client's); 0 and empty without credentials.
    BYTE GetLinkType() const;
    std::string GetLinkUserName() const;
    // On from a successful handshake until Close.
    bool IsCipherActive() const { return m_pLink && m_pLink->IsCipherActive(); }

    // Event handlers of callback-mode sockets without a callback function; empty here.
    virtual void OnAccept() {}
    virtual void OnRead() {}
    virtual void OnWrite() {}
    virtual void OnClose() {}

protected:
    // The sends and receives below the link cipher (no cipher is applied here).
    int RawSend(const void* bytes, int count);
    int RawReceive(void* buffer, int size);

private:
    class NoticeLoan;

    void Register();
    // Lends the socket to the read worker, which serves a request filed with it, until `wake`
    // is set or `timeoutMs` passed, then takes the request back with `withdraw` and gives the
    // socket back. Afterwards the worker no longer touches the request.
    void WaitForWorker(CEvent& wake, DWORD timeoutMs, const std::function<bool()>& withdraw);
    // Takes this end's address for GetConnectedLocalAddress once the socket is connected.
    void NoteConnectedLocal();
    // This end's (false) or the peer's (true) address; throws on failure.
    NetAddress EndAddress(bool peer) const;
    // Throws the socket error `code` (translated for mode 2).
    [[noreturn]] void ThrowIoError(int code) const;
    // The address of `host` for connecting or sending; throws 10022 with the lookup text.
    static DWORD ResolveOrThrow(const std::string& host);
    int RequireOpen() const;

    // Link helpers (X1SocketLink.cpp).
    CLinkHandshake& BeginHandshake();
    void ReadLinkFrame(std::string& body, const char* noFrameText, const char* shortFrameText);
    void SendLinkFrame(const std::string& frame);
    // RawSend until all `count` bytes are written (or it throws).
    void RawSendAll(const void* bytes, int count);
    int SendEnciphered(const void* bytes, int count);
    int ReceiveDeciphered(void* buffer, int size);

    int m_hSocket = INVALID_SOCKET_HANDLE;
    int m_nMode;
    unsigned m_lEventMask = 0;
    bool m_bAsync = true;      // the asynchronous flag: on after construction
    bool m_bSelected = false;  // a selection with a non-zero mask has been issued
    X1SocketCallback m_pCallback = nullptr;
    void* m_pUserData = nullptr;
    bool m_bConnected = false;
    std::atomic<DWORD> m_connectedLocal{0};  // this end's IPv4 address while connected, else 0
    // The registration of the open handle (NetGeneration), 0 while closed: Interrupt's only
    // way to the socket, since the handle number may be reused once closed.
    std::atomic<std::uint64_t> m_generation{0};
    std::atomic<DWORD> m_dwBytesSent{0};
    std::atomic<DWORD> m_dwBytesReceived{0};
    // The link members: credentials, challenge, cipher states and buffer; null until
    // SetLinkCredentials.
    std::unique_ptr<CLinkHandshake> m_pLink;
    bool m_bHandshakeOnConnect = false;
    std::shared_ptr<void> m_lease;  // HoldWhileOpen

    static std::atomic<int> s_nDefaultMode;
};
