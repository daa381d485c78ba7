// Each connect method against small fake upstream servers on loopback threads: a plain server,
// an HTTP proxy, a SOCKS 4 server and CONNECT proxies (squid-like, slow, refusing, silent). The
// fakes use plain POSIX sockets and the expected request bytes are written out by hand.

#include "engine/framework/OutboundConnection.h"

#include "engine/framework/OutboundTargetGuard.h"
#include "foundation/RegistryStore.h"
#include "foundation/X1Socket.h"
#include "platform/kernel/Clock.h"
#include "support/SocketTestKit.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kProxy = "127.0.0.1";
const std::string kNul(1, '\0');

std::string Raw(std::initializer_list<unsigned char> bytes) { return std::string(bytes.begin(), bytes.end()); }

// One fake upstream server: accepts one connection and runs its script on its own thread. The
// script gets the connection and records what it read.
class FakeServer {
public:
    using Script = std::function<void(RawPeer&, std::string& received)>;

    explicit FakeServer(Script script)
        : m_thread([this, script = std::move(script)] {
              try {
                  RawPeer peer = m_listener.Accept(8000);
                  std::string received;
                  script(peer, received);
                  std::lock_guard lock(m_mutex);
                  m_received = received;
                  m_accepted = true;
              } catch (const std::exception&) {
                  // nobody connected: m_accepted stays false
              }
          }) {}
    ~FakeServer() { Join(); }

    UINT Port() const { return m_listener.Port(); }
    void Join() {
        if (m_thread.joinable())
            m_thread.join();
    }
    // What the script read (after Join).
    std::string Received() {
        Join();
        std::lock_guard lock(m_mutex);
        return m_received;
    }
    bool Accepted() {
        Join();
        std::lock_guard lock(m_mutex);
        return m_accepted;
    }

private:
    RawListener m_listener;
    std::mutex m_mutex;
    std::string m_received;
    bool m_accepted = false;
    std::thread m_thread;
};

// Reads until `end` has arrived (or `max` bytes, or 5 s).
std::string ReadUntil(RawPeer& peer, const std::string& end, std::size_t max = 4096) {
    std::string got;
    while (got.find(end) == std::string::npos && got.size() < max) {
        const std::string more = peer.Receive(1, 5000);
        if (more.empty())
            break;
        got += more;
    }
    return got;
}

// Sends the pieces with a pause before each.
void SendSlowly(RawPeer& peer, const std::vector<std::string>& pieces, int pauseMs = 60) {
    for (const std::string& piece : pieces) {
        Sleep(pauseMs);
        peer.Send(piece);
    }
}

// Holds the connection open until the client closes it (or 10 s).
void HoldOpen(RawPeer& peer) { peer.WaitForEnd(10000); }

struct Outcome {
    CaughtSocketError error;
    std::string tunnel;  // the first bytes read through the connection after Connect
    std::string peer;    // the address and port the socket was connected to
};

// Runs Connect on a thread that owns the socket; on success reads `tunnelBytes` bytes.
Outcome Attempt(const std::string& host, UINT port, const COutboundSettings& settings,
            std::size_t tunnelBytes = 0) {
    Outcome outcome;
    NoticeThread owner;
    owner.Call([&] {
        X1Socket socket;
        outcome.error = CatchSocketError([&] {
            COutboundConnection::Connect(socket, host, port, settings);
            outcome.peer = socket.GetPeerAddress() + ":" + std::to_string(socket.GetPeerPort());
            if (tunnelBytes) {
                std::string buffer(tunnelBytes, '\0');
                const int n = socket.RecvFixedAmount(buffer.data(), static_cast<int>(tunnelBytes), 5000);
                outcome.tunnel = buffer.substr(0, static_cast<std::size_t>(n));
            }
        });
        socket.Close();
    });
    return outcome;
}

COutboundSettings Upstream(DWORD method, UINT proxyPort, std::string password = "") {
    COutboundSettings s;
    s.ConnectMethod = method;
    s.ProxyServer = kProxy;
    s.ProxyPort = proxyPort;
    s.SOCKS4Password = std::move(password);
    return s;
}

class OutboundConnectionTest : public ::testing::Test {
protected:
    void SetUp() override { SetRegistryRoot("Urvo Software", "Norvane 2"); }
    void TearDown() override { SetRegistryRoot("", ""); }
    TempStateDir state;
};

// ---- 0: direct --------------------------------------------------------------------------

TEST_F(OutboundConnectionTest, DirectConnectsToTheTargetItself) {
    FakeServer server([](RawPeer& peer, std::string&) {
        peer.Send("220 ready\r\n");
        HoldOpen(peer);
    });
    const Outcome o = Attempt("127.0.0.1", server.Port(), {}, 11);
    EXPECT_EQ(o.error.code, -1) << o.error.text;
    EXPECT_EQ(o.tunnel, "220 ready\r\n");
    EXPECT_EQ(o.peer, "127.0.0.1:" + std::to_string(server.Port()));

    FakeServer named([](RawPeer& peer, std::string&) { HoldOpen(peer); });
    EXPECT_EQ(Attempt("localhost", named.Port(), {}).error.code, -1);
}

TEST_F(OutboundConnectionTest, ConnectFailuresKeepTheSocketLayerCodes) {
    UINT closedPort;
    {
        RawListener gone;
        closedPort = gone.Port();
    }
    EXPECT_EQ(Attempt("127.0.0.1", closedPort, {}).error.code, 10061);
    const Outcome o = Attempt("no-such-host.invalid", 80, {});
    EXPECT_EQ(o.error.code, 10022);
    EXPECT_EQ(o.error.text, "Host name lookup for 'no-such-host.invalid' failed");
}

// ---- 1: upstream HTTP proxy --------------------------------------------------------------

TEST_F(OutboundConnectionTest, HttpProxyMethodConnectsToTheProxyAndSendsNothing) {
    FakeServer proxy([](RawPeer& peer, std::string& received) {
        received = peer.Receive(4096, 300);  // the session, not Connect, sends the request
        peer.Send("ok");
        HoldOpen(peer);
    });
    // The target is the proxy's to resolve: a name unknown here is fine.
    const Outcome o = Attempt("www.example.invalid", 80, Upstream(1, proxy.Port()), 2);
    EXPECT_EQ(o.error.code, -1) << o.error.text;
    EXPECT_EQ(o.peer, "127.0.0.1:" + std::to_string(proxy.Port()));
    EXPECT_EQ(proxy.Received(), "");
}

// ---- 2: upstream SOCKS 4 ----------------------------------------------------------------

// A SOCKS 4 server that reads a request with a user id and answers `reply`, then `after`.
FakeServer::Script Socks4Answer(std::string reply, std::string after = "") {
    return [reply, after](RawPeer& peer, std::string& received) {
        received = peer.Receive(8, 5000);
        received += ReadUntil(peer, kNul);
        peer.Send(reply);
        if (!after.empty())
            peer.Send(after);
        HoldOpen(peer);
    };
}

TEST_F(OutboundConnectionTest, Socks4SendsTheRequestBytesAndCode90Grants) {
    FakeServer socks(Socks4Answer(Raw({0x00, 0x5A, 0x1F, 0x90, 0x0A, 0x01, 0x02, 0x03}), "tunnel"));
    const Outcome o = Attempt("10.1.2.3", 8080, Upstream(2, socks.Port(), "alice"), 6);
    EXPECT_EQ(o.error.code, -1) << o.error.text;
    EXPECT_EQ(o.tunnel, "tunnel");  // nothing of the reply is left in the stream
    EXPECT_EQ(socks.Received(), Raw({0x04, 0x01, 0x1F, 0x90, 0x0A, 0x01, 0x02, 0x03}) + "alice" + kNul);
}

TEST_F(OutboundConnectionTest, Socks4UserIdLengths) {
    FakeServer empty(Socks4Answer(Raw({0, 90, 0, 0, 0, 0, 0, 0})));
    EXPECT_EQ(Attempt("10.0.0.1", 80, Upstream(2, empty.Port())).error.code, -1);
    EXPECT_EQ(empty.Received(), Raw({0x04, 0x01, 0x00, 0x50, 0x0A, 0x00, 0x00, 0x01, 0x00}));

    FakeServer longer(Socks4Answer(Raw({0, 90, 0, 0, 0, 0, 0, 0})));
    EXPECT_EQ(Attempt("10.0.0.1", 80, Upstream(2, longer.Port(), std::string(100, 'x'))).error.code, -1);
    const std::string request = longer.Received();
    ASSERT_EQ(request.size(), 89u);
    EXPECT_EQ(request.substr(8), std::string(80, 'x') + kNul);
}

TEST_F(OutboundConnectionTest, Socks4ReplyCodesOtherThan90Refuse) {
    for (unsigned char code : {91, 92, 93, 0, 255}) {
        FakeServer socks(Socks4Answer(Raw({0x00, code, 0, 0, 0, 0, 0, 0})));
        const Outcome o = Attempt("10.1.2.3", 8080, Upstream(2, socks.Port()));
        EXPECT_EQ(o.error.code, 0) << int(code);
        EXPECT_EQ(o.error.text, "SOCKS4 connect to 10.1.2.3:8080 failed - denied by SOCKS server");
    }
}

TEST_F(OutboundConnectionTest, Socks4ShortReplySlowReplyAndSilence) {
    FakeServer shortReply([](RawPeer& peer, std::string&) {
        ReadUntil(peer, kNul);
        peer.Send(Raw({0x00, 0x5A, 0x00}));
        peer.Close();
    });
    Outcome o = Attempt("10.1.2.3", 443, Upstream(2, shortReply.Port()));
    EXPECT_EQ(o.error.code, 0);
    EXPECT_EQ(o.error.text, "SOCKS4 connect to 10.1.2.3:443 failed - no response from SOCKS server");

    FakeServer slow([](RawPeer& peer, std::string&) {
        ReadUntil(peer, kNul);
        SendSlowly(peer, {Raw({0x00}), Raw({0x5A, 0x01, 0xBB}), Raw({0x0A, 0x01, 0x02, 0x03}), "data"});
        HoldOpen(peer);
    });
    o = Attempt("10.1.2.3", 443, Upstream(2, slow.Port()), 4);
    EXPECT_EQ(o.error.code, -1) << o.error.text;
    EXPECT_EQ(o.tunnel, "data");

    FakeServer silent([](RawPeer& peer, std::string&) { HoldOpen(peer); });
    COutboundSettings s = Upstream(2, silent.Port());
    s.ReplyTimeoutMs = 300;
    o = Attempt("10.1.2.3", 443, s);
    EXPECT_EQ(o.error.code, 0);
    EXPECT_EQ(o.error.text, "Timeout in RecvFixedAmount function");
}

TEST_F(OutboundConnectionTest, Socks4TargetThatDoesNotResolveFailsBeforeTheProxyIsContacted) {
    RawListener socks;
    const Outcome o = Attempt("no-such-host.invalid", 80, Upstream(2, socks.Port()));
    EXPECT_EQ(o.error.code, 10022);
    EXPECT_EQ(o.error.text, "Host name lookup for 'no-such-host.invalid' failed");
    EXPECT_THROW(socks.Accept(200), std::runtime_error);
}

TEST_F(OutboundConnectionTest, StoredUpstreamTextsReplaceTheDefaultsWhenTheyFit) {
    ASSERT_TRUE(RegWriteString("ErrorStrings\\SOCKS", "AccessDenied", "No way to %s port %u"));
    FakeServer denied(Socks4Answer(Raw({0, 91, 0, 0, 0, 0, 0, 0})));
    EXPECT_EQ(Attempt("10.1.2.3", 21, Upstream(2, denied.Port())).error.text, "No way to 10.1.2.3 port 21");

    // A stored text with other conversions is never used as a format.
    ASSERT_TRUE(RegWriteString("ErrorStrings\\SOCKS", "NoResponse", "%s %s %n"));
    FakeServer mute([](RawPeer& peer, std::string&) {
        ReadUntil(peer, kNul);
        peer.Close();
    });
    EXPECT_EQ(Attempt("10.1.2.3", 21, Upstream(2, mute.Port())).error.text,
              "SOCKS4 connect to 10.1.2.3:21 failed - no response from SOCKS server");

    ASSERT_TRUE(RegWriteString("ErrorStrings\\SSL", "BadResponse", "Tunnel to %s:%u refused"));
    FakeServer refusing([](RawPeer& peer, std::string&) {
        ReadUntil(peer, "\r\n\r\n");
        peer.Send("HTTP/1.0 403 Forbidden\r\n\r\n");
        HoldOpen(peer);
    });
    EXPECT_EQ(Attempt("secure.example", 443, Upstream(4, refusing.Port())).error.text,
              "Tunnel to secure.example:443 refused");
}

// ---- 4: CONNECT tunnel --------------------------------------------------------------------

// A CONNECT proxy that reads the request head and answers with `pieces` (sent slowly when more
// than one), then holds the connection.
FakeServer::Script ConnectAnswer(std::vector<std::string> pieces, bool closeAfter = false) {
    return [pieces, closeAfter](RawPeer& peer, std::string& received) {
        received = ReadUntil(peer, "\r\n\r\n");
        if (pieces.size() == 1)
            peer.Send(pieces[0]);
        else
            SendSlowly(peer, pieces);
        if (closeAfter)
            peer.Close();
        else
            HoldOpen(peer);
    };
}

TEST_F(OutboundConnectionTest, ConnectTunnelSendsTheRequestAndTakesExactlyTheReplyHead) {
    FakeServer proxy(ConnectAnswer({"HTTP/1.0 200 Connection established\r\n\r\n\x16\x03\x01 hello"}));
    const Outcome o = Attempt("www.example.com", 443, Upstream(4, proxy.Port()), 9);
    EXPECT_EQ(o.error.code, -1) << o.error.text;
    EXPECT_EQ(o.tunnel, "\x16\x03\x01 hello");
    EXPECT_EQ(proxy.Received(), "CONNECT www.example.com:443 HTTP/1.0\r\n\r\n");
}

TEST_F(OutboundConnectionTest, ConnectTunnelThroughASquidStyleProxy) {
    FakeServer squid(ConnectAnswer({"HTTP/1.1 200 Connection established\r\n"
                                    "Via: 1.1 proxy (squid/5.7)\r\n"
                                    "X-Cache: MISS from proxy\r\n"
                                    "\r\n"
                                    "SERVERHELLO"}));
    const Outcome o = Attempt("mail.example.org", 993, Upstream(4, squid.Port()), 11);
    EXPECT_EQ(o.error.code, -1) << o.error.text;
    EXPECT_EQ(o.tunnel, "SERVERHELLO");
    EXPECT_EQ(squid.Received(), "CONNECT mail.example.org:993 HTTP/1.0\r\n\r\n");
}

TEST_F(OutboundConnectionTest, ConnectTunnelWaitsForAReplyThatComesInPieces) {
    FakeServer slow(ConnectAnswer({"HTTP/1.1 2", "00 Connection established\r", "\nVia: 1.1 sl",
                                   "ow\r\n", "\r", "\n", "first"}));
    const Outcome o = Attempt("www.example.com", 443, Upstream(4, slow.Port()), 5);
    EXPECT_EQ(o.error.code, -1) << o.error.text;
    EXPECT_EQ(o.tunnel, "first");
}

TEST_F(OutboundConnectionTest, ConnectTunnelRefusals) {
    const std::string badResponse =
        "SSLTunnelling connect to www.example.com:443 failed - bad response from HTTP server";
    const std::vector<std::string> replies = {
        "HTTP/1.0 403 Forbidden\r\n\r\n",
        "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n\r\n",
        "HTTP/1.0 200\r",  // then closed: no line feed
        "SSH-2.0-OpenSSH_9.2\r\n",
    };
    for (const std::string& reply : replies) {
        FakeServer proxy(ConnectAnswer({reply}, true));
        const Outcome o = Attempt("www.example.com", 443, Upstream(4, proxy.Port()));
        EXPECT_EQ(o.error.code, 0) << reply;
        EXPECT_EQ(o.error.text, badResponse) << reply;
    }
    // A granting status line, header lines, and then the proxy closes before the empty line.
    FakeServer cut(ConnectAnswer({"HTTP/1.1 200 OK\r\n", "Via: x\r\n"}, true));
    EXPECT_EQ(Attempt("www.example.com", 443, Upstream(4, cut.Port())).error.text, badResponse);
    // A head without end is cut off at its cap.
    FakeServer endless([](RawPeer& peer, std::string&) {
        ReadUntil(peer, "\r\n\r\n");
        peer.Send("HTTP/1.1 200 OK\r\n");
        try {
            for (int i = 0; i < 4000; ++i)
                peer.Send("X-Filler: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\r\n");
        } catch (const std::runtime_error&) {
            // the client gave up and closed
        }
        HoldOpen(peer);
    });
    EXPECT_EQ(Attempt("www.example.com", 443, Upstream(4, endless.Port())).error.text, badResponse);
}

TEST_F(OutboundConnectionTest, ConnectTunnelTimeOuts) {
    FakeServer silent([](RawPeer& peer, std::string&) { HoldOpen(peer); });
    COutboundSettings s = Upstream(4, silent.Port());
    s.ReplyTimeoutMs = 300;
    Outcome o = Attempt("www.example.com", 443, s);
    EXPECT_EQ(o.error.code, 0);
    EXPECT_EQ(o.error.text, "Timeout in recvline function");

    // A proxy that trickles header lines for ever is held to one time limit for the head.
    FakeServer trickle([](RawPeer& peer, std::string&) {
        ReadUntil(peer, "\r\n\r\n");
        peer.Send("HTTP/1.1 200 OK\r\n");
        try {
            for (int i = 0; i < 100 && !peer.WaitForEnd(50); ++i)
                peer.Send("Via: slow\r\n");
        } catch (const std::runtime_error&) {
        }
    });
    s = Upstream(4, trickle.Port());
    s.ReplyTimeoutMs = 400;
    o = Attempt("www.example.com", 443, s);
    EXPECT_EQ(o.error.code, 0);
    EXPECT_EQ(o.error.text, "Timeout in recvline function");
}

// ---- Refusals before any connect -----------------------------------------------------------

TEST_F(OutboundConnectionTest, BadTargetHostsAreRefusedBeforeAnyConnect) {
    RawListener upstream;
    for (DWORD method : {0u, 1u, 2u, 4u}) {
        for (const std::string& host :
             {std::string("www.example.com\r\nX-Evil: 1"), std::string("a b"), std::string("x\0y", 3),
              std::string("\n"), std::string()}) {
            const Outcome o = Attempt(host, 443, Upstream(method, upstream.Port()));
            EXPECT_EQ(o.error.code, 10022);
            EXPECT_EQ(o.error.text, "Connect refused - invalid host name");
        }
        EXPECT_EQ(Attempt("www.example.com", 70000, Upstream(method, upstream.Port())).error.code, 10022);
    }
    EXPECT_THROW(upstream.Accept(200), std::runtime_error);
}

TEST_F(OutboundConnectionTest, UndefinedMethodsFailWith10022WithoutConnecting) {
    RawListener upstream;
    for (DWORD method : {3u, 5u, 0xFFFFFFFFu}) {
        const Outcome o = Attempt("127.0.0.1", upstream.Port(), Upstream(method, upstream.Port()));
        EXPECT_EQ(o.error.code, 10022);
        EXPECT_EQ(o.error.text, "Could not connect to remote host");
    }
    EXPECT_THROW(upstream.Accept(200), std::runtime_error);
}

TEST_F(OutboundConnectionTest, TheTargetGuardStandsBeforeEveryConnect) {
    RawListener own;  // stands for a listener of this engine
    {
        CListeningPortRegistration registration(own.Port());
        const std::string ownPort = std::to_string(own.Port());
        Outcome o = Attempt("127.0.0.1", own.Port(), {});
        EXPECT_EQ(o.error.code, 10013);
        EXPECT_EQ(o.error.text, "Connect to 127.0.0.1:" + ownPort + " refused - a port of this proxy server");
        EXPECT_EQ(Attempt("127.3.2.1", own.Port(), {}).error.code, 10013);
        EXPECT_EQ(Attempt("localhost", own.Port(), {}).error.code, 10013);
        // An upstream proxy setting that points back at this engine.
        for (DWORD method : {1u, 2u, 4u})
            EXPECT_EQ(Attempt("10.0.0.1", 80, Upstream(method, own.Port())).error.code, 10013);
        // The SOCKS 4 target address is checked too.
        RawListener socks;
        EXPECT_EQ(Attempt("127.0.0.1", own.Port(), Upstream(2, socks.Port())).error.code, 10013);
        EXPECT_EQ(Attempt("0.0.0.7", 80, Upstream(2, socks.Port())).error.code, 10022);
        EXPECT_THROW(socks.Accept(200), std::runtime_error);
        EXPECT_THROW(own.Accept(200), std::runtime_error);
        // 0.0.0.0 would reach this host on Linux.
        o = Attempt("0.0.0.0", own.Port(), {});
        EXPECT_EQ(o.error.text, "Connect to 0.0.0.0:" + ownPort + " refused - invalid address");
    }
    // Other loopback targets stay allowed; so does the port once its listener is gone.
    FakeServer other([](RawPeer& peer, std::string&) { HoldOpen(peer); });
    EXPECT_EQ(Attempt("127.0.0.1", other.Port(), {}).error.code, -1);
    EXPECT_EQ(Attempt("127.0.0.1", own.Port(), {}).error.code, -1);
}

TEST_F(OutboundConnectionTest, ConnectDirectIgnoresUpstreamSettingsButNotTheGuard) {
    FakeServer target([](RawPeer& peer, std::string&) {
        peer.Send("hi");
        HoldOpen(peer);
    });
    NoticeThread owner;
    std::string got;
    CaughtSocketError connected, guarded;
    owner.Call([&] {
        X1Socket socket;
        socket.Create();  // an open socket is used as it is
        connected = CatchSocketError([&] {
            COutboundConnection::ConnectDirect(socket, "127.0.0.1", target.Port());
            char buffer[2];
            got.assign(buffer, static_cast<std::size_t>(socket.RecvFixedAmount(buffer, 2, 5000)));
        });
        socket.Close();
        CListeningPortRegistration registration(target.Port());
        guarded = CatchSocketError([&] { COutboundConnection::ConnectDirect(socket, "127.0.0.1", target.Port()); });
    });
    EXPECT_EQ(connected.code, -1) << connected.text;
    EXPECT_EQ(got, "hi");
    EXPECT_EQ(guarded.code, 10013);
}

}  // namespace
