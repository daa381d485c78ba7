#include "proxies/socks/SOCKSSession.h"

#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/Machine.h"
#include "proxies/socks/SOCKSService.h"
#include "support/FrameworkTestKit.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace {

using namespace std::string_literals;

class SOCKSSessionTest : public FrameworkTest {
protected:
    void Start(bool allow) {
        m_port = FreeTcpPort();
        m_service = CRef<CSOCKSService>::Adopt(new CSOCKSService);
        m_service->SetPortNumber(m_port);
        m_service->SetInterfaceAddress(TRUE, "127.0.0.1");
        m_service->SetLogging(TRUE, 0xFFFF);
        m_service->OpenLogFile();
        allow ? AllowEveryone(*m_service) : DenyEveryone(*m_service);
        m_service->Start();
        ASSERT_EQ(m_service->GetRunState(), CService::kRunning);
    }
    void TearDown() override {
        if (m_service)
            m_service->Stop();
        m_service.Reset();
        EXPECT_TRUE(WaitFor([&] { return MachineCount() == 0; }));
        FrameworkTest::TearDown();
    }
    bool Logged(const std::string& text) {
        for (const std::string& line : LogLines("SOCKS Proxy server"))
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

    CallbackThread m_callbacks;
    std::uint16_t m_port = 0;
    CRef<CSOCKSService> m_service;
};

TEST_F(SOCKSSessionTest, AHandOverKeepsTheLoggedOnMachineForTheWebSession) {
    // The origin listens on 8080 (a hand-over port) of a loopback address other than 127.0.0.1.
    std::unique_ptr<RawListener> origin;
    std::uint32_t last = 2;
    for (; last < 40 && !origin; ++last) {
        try {
            origin = std::make_unique<RawListener>(0x7F000000u | last, 8080);
        } catch (const std::runtime_error&) {
        }
    }
    if (!origin)
        GTEST_SKIP() << "port 8080 is taken on every loopback address tried";
    const std::string host = "127.0.0." + std::to_string(last - 1);
    Start(true);
    AddUser("alice");
    RawPeer client = RawPeer::Connect(m_port);
    client.Send("\x05\x01\x00"s);
    ASSERT_EQ(client.Receive(2, 5000), "\x05\x00"s);

    // A console log-on from the client's machine while the SOCKS session runs.
    {
        CRef<CMachineBase> found = m_engine->GetMachineMap().FindMachineRef("127.0.0.1");
        auto* machine = dynamic_cast<CMachine*>(found.Get());
        ASSERT_NE(machine, nullptr);
        machine->SetUserName("alice");
        machine->SetLogonState(FrameworkFormat::kLevelAuthenticated);
    }
    m_console.Clear();
    client.Send("\x05\x01\x00\x01\x7f\x00\x00"s + static_cast<char>(last - 1) + "\x1f\x90"s);
    ASSERT_EQ(client.Receive(10, 5000).substr(0, 2), "\x05\x00"s);
    RawPeer own = origin->Accept();  // the SOCKS session's connection, unused
    client.Send("GET /page HTTP/1.0\r\n\r\n");
    RawPeer web = origin->Accept();
    EXPECT_EQ(web.Receive(100, 5000).substr(0, 20), "GET /page HTTP/1.0\r\n");
    web.Send("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
    web.Close();
    const std::string answer = client.Receive(1000, 5000);
    EXPECT_NE(answer.find("\r\n\r\nok"), std::string::npos) << answer;

    // The machine was neither removed nor made again while the web session ran (it goes once
    // that session, its last, has ended); the web session runs as alice, logged on, with the
    // SOCKS service's logging.
    EXPECT_TRUE(m_console.Messages(71).empty());
    ASSERT_EQ(m_console.Messages(74).size(), 1u);
    const std::string started = m_console.Messages(74)[0];
    const std::string webId = started.substr(0, started.find('|', started.find('|') + 1) + 1);
    bool webEnded = false;
    for (const std::string& notice : m_console.Messages()) {
        webEnded = webEnded || notice.rfind("76" + webId.substr(2), 0) == 0;
        EXPECT_TRUE(webEnded || notice.rfind("73|", 0) != 0) << notice;
    }
    EXPECT_TRUE(Logged("\talice\t"s));
    EXPECT_TRUE(Logged("Requested:\tGET http://" + host + ":8080/page"));
}

TEST_F(SOCKSSessionTest, ARefusalAtTheStartSendsNothingBeforeTheVersionIsKnown) {
    Start(false);
    RawPeer refused = RawPeer::Connect(m_port);
    EXPECT_EQ(refused.Receive(16, 5000), "");  // the end of stream, without a byte
    EXPECT_TRUE(WaitFor([&] { return Logged("Failed authorisation:\tSOCKS:"); }));
}

}  // namespace
