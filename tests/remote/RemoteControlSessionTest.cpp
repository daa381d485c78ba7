#include "remote/RemoteControlSession.h"

#include "engine/access/User.h"
#include "engine/framework/Machine.h"
#include "engine/framework/TCPService.h"
#include "foundation/Format.h"
#include "foundation/LinkFormat.h"
#include "remote/RCPFraming.h"
#include "remote/RCPOperations.h"
#include "remote/RemoteControlService.h"
#include "support/FrameworkTestKit.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace RCPFormat;
using namespace RCPOperations;

// The real service, keeping a reference to the last session it made.
class CWatchedService : public CRemoteControlService {
public:
    explicit CWatchedService(UINT port)
        : CRemoteControlService(port, kServiceName, kServiceName) {}
    CSession* CreateSession(int handle) override {
        CSession* session = CRemoteControlService::CreateSession(handle);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_last = CRef<CRemoteControlSession>(static_cast<CRemoteControlSession*>(session));
        return session;
    }
    CRef<CRemoteControlSession> Last() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_last;
    }
    void Forget() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_last.Reset();
    }
    static constexpr const char* kServiceName = "Remote Control Service";

private:
    std::mutex m_mutex;
    CRef<CRemoteControlSession> m_last;
};

// A console of this test: a link socket on the test's thread with the framing over it.
struct Console {
    void Connect(UINT port, const std::string& user, const std::string& password) {
        socket.Create();
        socket.SetLinkCredentials(LinkFormat::kLinkConsole, false, user, password);
        socket.Connect("127.0.0.1", port);
    }
    CNVRCPMessage Next() {
        const std::vector<BYTE> image = channel.Receive(kShortPayload);
        CNVRCPMessage message;
        RCPFraming::DecodeInto(image.data(), image.size(), message);
        return message;
    }
    std::vector<BYTE> NextImage() { return channel.Receive(kShortPayload); }
    std::string NextText() {
        const CNVRCPMessage m = Next();
        return std::to_string(m.Op) + "|" + m.Arg1 + "|" + m.Arg2 + "|" + m.Arg3;
    }

    X1Socket socket;
    CRCPChannel channel{socket};
};

// A session without a thread, to call its request logging directly.
class CExposedSession : public CRemoteControlSession {
public:
    using CRemoteControlSession::LogRequestResult;
};

class RemoteControlSessionTest : public FrameworkTest {
protected:
    void SetUp() override {
        FrameworkTest::SetUp();
        AddUser("alice", "secret");
        m_service = CRef<CWatchedService>::Adopt(new CWatchedService(FreeTcpPort()));
        AllowEveryone(*m_service);
        m_service->SetLogging(TRUE, 0x3FF);
        m_service->OpenLogFile();
        m_service->Start();
        ASSERT_EQ(m_service->GetRunState(), CService::kRunning);
    }
    void TearDown() override {
        m_service->Forget();
        m_service->Stop();
        m_service.Reset();
        FrameworkTest::TearDown();
    }
    // A console logged on as alice and registered for notifications; its session.
    CRef<CRemoteControlSession> LogOn(Console& console) {
        console.Connect(m_service->GetPortNumber(), "alice", "secret");
        EXPECT_EQ(console.NextText(), "5|||");
        CRef<CRemoteControlSession> session = m_service->Last();
        EXPECT_TRUE(session);
        EXPECT_TRUE(session->IsLoggedOn());
        m_engine->RegisterConsole(session.Get());
        return session;
    }

    // The service log's last line of the session, without its time.
    std::string LastLogLine(const CSession& session) const {
        const std::string prefix = FormatText("127.0.0.1\talice\t%010u\t", session.GetSessionId());
        std::string last = "<no lines>";
        for (const std::string& line : WithoutTimes(LogLines(CWatchedService::kServiceName)))
            if (line.rfind(prefix, 0) == 0)
                last = line.substr(prefix.size());
        return last;
    }

    CallbackThread m_engineThread;
    CRef<CWatchedService> m_service;
};

TEST_F(RemoteControlSessionTest, NotificationsGoOutWithTheirObjectsOrNotAtAll) {
    Console console;
    CRef<CRemoteControlSession> session = LogOn(console);

    // None of these goes out: a 120 that is not the log-on's own, and notices whose object or
    // machine no longer exists when they are sent.
    m_engine->NotifyConsoles(kNotifyMustChangePassword, "", "", "");
    m_engine->NotifyConsoles(kNotifyServiceModified, "No such service", "", "");
    m_engine->NotifyConsoles(kNotifyUserModified, "nobody", "", "");
    m_engine->NotifyConsoles(kNotifyGroupAdded, "alice", "", "");  // a user, not a group
    m_engine->NotifyConsoles(kNotifyMachineAdded, "10.1.2.3", "Guest", "0");
    m_engine->NotifyConsoles(4711, "unknown", "", "");
    // These do, in order; the user record follows its notice.
    m_engine->NotifyConsoles(kNotifyUserModified, "alice", "x", "");
    m_engine->NotifyConsoles(kNotifyMachineAdded, "127.0.0.1", "alice", "2");
    m_engine->NotifyAlert("Title", "Text");

    EXPECT_EQ(console.NextText(), "24|alice|x|");
    const std::vector<BYTE> record = console.NextImage();
    CUser user;
    RCPFraming::DecodeInto(record.data(), record.size(), user);
    EXPECT_EQ(user.GetName(), "alice");
    EXPECT_EQ(user.GetPassword(), "secret");
    EXPECT_EQ(console.NextText(), "71|127.0.0.1|alice|2");
    EXPECT_EQ(console.NextText(), "90|Title|Text|");
}

TEST_F(RemoteControlSessionTest, MessagesQueuedFromManyThreadsKeepEachThreadsOrder) {
    Console console;
    CRef<CRemoteControlSession> session = LogOn(console);
    constexpr int kThreads = 4;
    constexpr int kEach = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&session, t] {
            for (int n = 0; n < kEach; ++n)
                session->QueueMessage(kNotifyMessage, std::to_string(t), std::to_string(n), "");
        });
    std::map<std::string, int> next;
    for (int n = 0; n < kThreads * kEach; ++n) {
        const CNVRCPMessage message = console.Next();
        ASSERT_EQ(message.Op, kNotifyMessage);
        EXPECT_EQ(message.Arg2, std::to_string(next[message.Arg1]++)) << message.Arg1;
    }
    for (std::thread& thread : threads)
        thread.join();
}

TEST_F(RemoteControlSessionTest, ADeletedMachineEndsItsConsoleWhichKeepsItsOwnNames) {
    Console console;
    CRef<CRemoteControlSession> session = LogOn(console);
    ASSERT_EQ(m_engine->GetConsoleCount(), 2u);

    m_engine->RemoveMachine("127.0.0.1");
    CaughtSocketError end = CatchSocketError([&] { console.Next(); });
    EXPECT_EQ(end.text, kCommunicationsFailure);
    ASSERT_TRUE(WaitFor([&] { return m_engine->GetConsoleCount() == 1; }));
    EXPECT_FALSE(session->GetMachine());
    EXPECT_EQ(session->GetUserName(), "alice");
    EXPECT_EQ(session->GetClientAddress(), "127.0.0.1");
    EXPECT_EQ(LastLogLine(*session), "Terminated exit code 4294967295");
}

TEST_F(RemoteControlSessionTest, RequestResultsSetTheDescriptionAndEchoChanges) {
    ASSERT_TRUE(m_engine->GetServiceManager().AddService(new CTCPService(1, "Web", "Web", TRUE)));
    auto session = CRef<CExposedSession>::Adopt(new CExposedSession);
    EXPECT_EQ(session->GetDescription(), kLoginDescription);
    m_console.Clear();

    struct Case {
        CNVRCPMessage request;
        const char* description;
        std::vector<std::string> notices;
    };
    const Case cases[] = {
        {{kStartStopService, "Web", "1"}, "Norvane Login: Start service Web - Failed", {"35|Web|0|"}},
        {{kStartStopService, "Web", "0"}, "Norvane Login: Stop service Web", {"35|Web|0|"}},
        {{kStartStopService, "Web", "2"}, "Norvane Login: Stop service Web", {"35|Web|0|"}},
        {{kStartStopService, "Gone", "1"}, "Norvane Login: Stop service Web", {}},
        {{kModifyService, "Web"}, "Norvane Login: Modify service Web", {"34|Web||", "35|Web|0|"}},
        {{kModifyUser, "alice", "a2", "a3"}, "Norvane Login: Modify user alice", {"24|alice|a2|a3"}},
        {{kUploadDialer, ""}, "Norvane Login: Upload dialer settings", {"61|||"}},
        {{kRetrieveUsers, ""}, "Norvane Login: Retrieve user database", {}},
        {{kChangePassword, "alice", "secret", "new"}, "Norvane Login: Change password", {}},
    };
    for (const Case& c : cases) {
        session->LogRequestResult(c.request);
        EXPECT_EQ(session->GetDescription(), c.description) << c.request.Op;
        EXPECT_EQ(m_console.Messages(), c.notices) << c.request.Op;
        m_console.Clear();
    }
}

}  // namespace
