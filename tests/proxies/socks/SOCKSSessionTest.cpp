#include "proxies/socks/SOCKSSession.h"

#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/Machine.h"
#include "proxies/socks/SOCKSService.h"
#include "support/FrameworkTestKit.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace {

using namespace std::string_literals;

// A listener on port 8080 (a hand-over port) of a loopback address other than 127.0.0.1, where
// nothing else of the host is likely to listen.
class Origin8080 {
public:
    Origin8080() {
        for (int last = 2; last < 40 && m_fd < 0; ++last) {
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in sin{};
            sin.sin_family = AF_INET;
            sin.sin_port = htons(8080);
            sin.sin_addr.s_addr = htonl(0x7F000000u | static_cast<unsigned>(last));
            if (bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0 && listen(fd, 5) == 0) {
                m_fd = fd;
                m_host = "127.0.0." + std::to_string(last);
            } else {
                close(fd);
            }
        }
    }
    ~Origin8080() {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool IsOpen() const { return m_fd >= 0; }
    const std::string& Host() const { return m_host; }
    // Accepts one connection (-1 after 5 s without one); the caller closes it.
    int Accept() {
        pollfd p{m_fd, POLLIN, 0};
        return poll(&p, 1, 5000) == 1 ? accept(m_fd, nullptr, nullptr) : -1;
    }
    // Accepts one connection, reads its request head and answers `answer`.
    void Serve(const std::string& answer) {
        const int conn = Accept();
        ASSERT_GE(conn, 0);
        std::string head;
        char buffer[512];
        while (head.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = recv(conn, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            head.append(buffer, static_cast<std::size_t>(n));
        }
        send(conn, answer.data(), answer.size(), MSG_NOSIGNAL);
        close(conn);
    }

private:
    int m_fd = -1;
    std::string m_host;
};

class SOCKSSessionTest : public FrameworkTest {
protected:
    void SetUp() override {
        FrameworkTest::SetUp();
        m_port = FreeTcpPort();
        m_service = CRef<CSOCKSService>::Adopt(new CSOCKSService);
        m_service->SetPortNumber(m_port);
        m_service->SetInterfaceAddress(TRUE, "127.0.0.1");
        m_service->SetCriticalService(TRUE);
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
    bool Logged(const std::string& text) {
        for (const std::string& line : LogLines(kSOCKSServiceNameForTest))
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

    static constexpr const char* kSOCKSServiceNameForTest = "SOCKS Proxy server";
    CallbackThread m_callbacks;
    std::uint16_t m_port = 0;
    CRef<CSOCKSService> m_service;
};

TEST_F(SOCKSSessionTest, AHandOverKeepsTheLoggedOnMachineForTheWebSession) {
    Origin8080 origin;
    if (!origin.IsOpen())
        GTEST_SKIP() << "port 8080 is taken on every loopback address tried";
    AllowEveryone(*m_service);
    Start();
    AddUser("alice");
    RawPeer client = RawPeer::Connect(m_port);
    client.Send("\x05\x01\x00"s);
    ASSERT_EQ(client.Receive(2, 5000), "\x05\x00"s);

    // A console log-on from the client's machine, while the SOCKS session runs.
    {
        CRef<CMachineBase> found = m_engine->GetMachineMap().FindMachineRef("127.0.0.1");
        auto* machine = dynamic_cast<CMachine*>(found.Get());
        ASSERT_NE(machine, nullptr);
        machine->SetUserName("alice");
        machine->SetLogonState(FrameworkFormat::kLevelAuthenticated);
    }
    m_console.Clear();
    in_addr target{};
    inet_pton(AF_INET, origin.Host().c_str(), &target);
    client.Send("\x05\x01\x00\x01"s + std::string(reinterpret_cast<const char*>(&target), 4) +
                "\x1f\x90"s);
    ASSERT_EQ(client.Receive(10, 5000).substr(0, 2), "\x05\x00"s);
    const int own = origin.Accept();  // the SOCKS session's own connection
    EXPECT_GE(own, 0);
    client.Send("GET /page HTTP/1.0\r\n\r\n");
    origin.Serve("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
    close(own);
    const std::string answer = client.Receive(1000, 5000);
    EXPECT_NE(answer.find("\r\n\r\nok"), std::string::npos) << answer;

    // The machine was neither removed nor made again; the web session runs as alice, logged
    // on, with the SOCKS service's logging.
    EXPECT_TRUE(m_console.Messages(71).empty());
    EXPECT_TRUE(m_console.Messages(73).empty());
    EXPECT_EQ(m_console.Messages(74).size(), 1u);
    EXPECT_TRUE(Logged("\talice\t"s));
    EXPECT_TRUE(Logged("Requested:\tGET http://" + origin.Host() + ":8080/page"));
}

TEST_F(SOCKSSessionTest, ARefusalAtTheStartSendsNothingBeforeTheVersionIsKnown) {
    DenyEveryone(*m_service);
    Start();
    RawPeer refused = RawPeer::Connect(m_port);
    EXPECT_TRUE(refused.WaitForEnd(5000));
    EXPECT_EQ(refused.Receive(16, 100), "");
    EXPECT_TRUE(WaitFor([&] { return Logged("Failed authorisation:\tSOCKS:"); }));
}

}  // namespace
