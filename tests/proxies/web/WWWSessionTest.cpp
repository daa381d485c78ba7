#include "proxies/web/WWWSession.h"

#include "engine/access/Recipient.h"
#include "engine/access/RequestFilter.h"
#include "proxies/web/WWWService.h"
#include "support/FakeRequest.h"
#include "support/FrameworkTestKit.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A web proxy service on a loopback port with a loopback origin (RawListener) and clients
// (RawPeer) written with plain sockets.
class WWWSessionTest : public FrameworkTest {
protected:
    void SetUp() override {
        FrameworkTest::SetUp();
        m_port = FreeTcpPort();
        m_service = CRef<CWWWService>::Adopt(new CWWWService);
        m_service->SetPortNumber(m_port);
        m_service->SetInterfaceAddress(TRUE, "127.0.0.1");
        m_service->SetCriticalService(TRUE);  // re-use the address of an earlier test's port
        AllowEveryone(*m_service);
        m_service->SetLogging(TRUE, 0xFFFF);
        m_service->OpenLogFile();
    }
    void TearDown() override {
        m_service->Stop();
        m_service.Reset();
        EXPECT_TRUE(WaitFor([&] { return MachineCount() == 0; }));
        FrameworkTest::TearDown();
    }
    void Start() {
        m_service->Start();
        ASSERT_EQ(m_service->GetRunState(), CService::kRunning);
    }
    std::string OriginURL(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_origin.Port()) + path;
    }
    // Reads from `peer` until `size` bytes or the end of its stream.
    static std::string ReadAll(RawPeer& peer, std::size_t size = 1 << 20) {
        return peer.Receive(size, 5000);
    }

    CallbackThread m_callbacks;
    std::uint16_t m_port = 0;
    CRef<CWWWService> m_service;
    RawListener m_origin;
};

TEST_F(WWWSessionTest, OneRequestGoesOutCleanAndItsAnswerSaysTheConnectionCloses) {
    Start();
    RawPeer client = RawPeer::Connect(m_port);
    // The client's Host and connection headers, and the bytes after a body-less request, never
    // reach the origin.
    client.Send("GET " + OriginURL("/a?b=1") +
                " HTTP/1.1\r\nHost: evil.example\r\nProxy-Connection: keep-alive\r\n"
                "Accept: */*\r\nConnection: keep-alive\r\n\r\nGET /second HTTP/1.1\r\n\r\n");
    RawPeer server = m_origin.Accept();
    const std::string expected = "GET /a?b=1 HTTP/1.1\r\nHost: 127.0.0.1:" +
                                 std::to_string(m_origin.Port()) +
                                 "\r\nAccept: */*\r\nConnection: close\r\n\r\n";
    EXPECT_EQ(server.Receive(expected.size() + 100, 1000), expected);

    // A head that ends in "\n\n"; the origin's Connection header is replaced.
    server.Send("HTTP/1.1 200 OK\nConnection: keep-alive\nContent-Length: 2\n\nok");
    server.Close();
    EXPECT_EQ(ReadAll(client),
              "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n"
              "Proxy-Connection: close\r\n\r\nok");
    const std::vector<std::string> log = WithoutTimes(LogLines("WWW Proxy server"));
    bool requested = false;
    for (const std::string& line : log)
        requested |= line.find("\tRequested:\tGET " + OriginURL("/a?b=1")) != std::string::npos;
    EXPECT_TRUE(requested) << ::testing::PrintToString(log);
}

TEST_F(WWWSessionTest, BodiesGoOnByTheirLengthAndAVersionlessRequestIsHTTP10) {
    Start();
    {
        RawPeer client = RawPeer::Connect(m_port);
        // Part of the body with the head, the rest later; bytes beyond the length are dropped.
        client.Send("PUT " + OriginURL("/u") + " HTTP/1.0\r\nContent-Length: 8\r\n\r\n1234");
        RawPeer server = m_origin.Accept();
        const std::string head = "PUT /u HTTP/1.0\r\nContent-Length: 8\r\nHost: 127.0.0.1:" +
                                 std::to_string(m_origin.Port()) + "\r\nConnection: close\r\n\r\n";
        EXPECT_EQ(server.Receive(head.size() + 4, 2000), head + "1234");
        client.Send("5678EXTRA");
        EXPECT_EQ(server.Receive(100, 1000), "5678");
        server.Send("HTTP/1.0 204 No Content\r\n\r\n");
        server.Close();
        EXPECT_EQ(ReadAll(client), "HTTP/1.0 204 No Content\r\nConnection: close\r\n"
                                   "Proxy-Connection: close\r\n\r\n");
    }
    {
        RawPeer client = RawPeer::Connect(m_port);
        client.Send("GET " + OriginURL("/v") + "\r\n");
        RawPeer server = m_origin.Accept();
        const std::string head = "GET /v HTTP/1.0\r\nHost: 127.0.0.1:" +
                                 std::to_string(m_origin.Port()) + "\r\nConnection: close\r\n\r\n";
        EXPECT_EQ(server.Receive(head.size() + 10, 1000), head);
    }
}

TEST_F(WWWSessionTest, EachRequestIsCheckedAgainstTheRights) {
    CRight& right = m_service->GetAccessRights();
    right.RemoveAll();
    right.SetIncludeDefaultRights(0);
    auto* recipient = new CRecipient();
    recipient->SetSpecifyRequest(1);
    recipient->GetRequestFilter().AddFilter(NewUrlFilter("allowed"));
    right.AddRecipient(recipient);
    Start();

    // Admitted at the start; refused once the request is known.
    RawPeer client = RawPeer::Connect(m_port);
    client.Send("GET " + OriginURL("/forbidden") + " HTTP/1.0\r\n\r\n");
    EXPECT_EQ(ReadAll(client),
              "HTTP/1.0 403 Forbidden\r\nPragma: no-cache\r\n\r\n<HTML><HEAD><TITLE>Access Denied"
              "</TITLE></HEAD>\r\n<BODY><H1>Access Denied</H1><P><P>You do not have sufficient "
              "rights for access to this resource\r\n</BODY></HTML>\r\n");

    // A refused CONNECT too: a client that read "200" would take the tunnel as open.
    RawPeer tunnel = RawPeer::Connect(m_port);
    tunnel.Send("CONNECT 127.0.0.1:443 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(ReadAll(tunnel).rfind("HTTP/1.0 403 Forbidden\r\n", 0), 0u);

    RawPeer admitted = RawPeer::Connect(m_port);
    admitted.Send("GET " + OriginURL("/allowed") + " HTTP/1.0\r\n\r\n");
    RawPeer server = m_origin.Accept();
    EXPECT_EQ(server.Receive(16, 2000), "GET /allowed HTT");
}

TEST_F(WWWSessionTest, AServerThatCannotBeReachedGetsTheSocketErrorPage) {
    Start();
    const std::uint16_t closedPort = FreeTcpPort();
    RawPeer client = RawPeer::Connect(m_port);
    client.Send("GET http://127.0.0.1:" + std::to_string(closedPort) + "/ HTTP/1.0\r\n\r\n");
    const std::string answer = ReadAll(client);
    EXPECT_EQ(answer.rfind("HTTP/1.0 502 Bad Gateway\r\nPragma: no-cache\r\n\r\n<HTML><HEAD><TITLE>Socket "
                           "Error</TITLE>",
                           0),
              0u)
        << answer;
}

}  // namespace
