// The console session against a live engine in this process, with no display: the session
// thread logs on, fetches the lists and keeps its copy current while another console (rcp.py, a
// process of its own) makes changes whose echoes arrive in the middle of this console's own
// requests, and this test's thread plays the windows (queues requests, reads the copy under its
// locks, lets the notices go). The ThreadSanitizer run includes it.

#include "console/session/WHTreeItem.h"
#include "console/session/WardenhallSession.h"
#include "dialer/Dialer.h"
#include "engine/access/Group.h"
#include "engine/access/Location.h"
#include "engine/access/Right.h"
#include "foundation/ScopedLock.h"
#include "remote/RCPFormat.h"
#include "remote/RCPOperations.h"
#include "remote/RemoteControlService.h"
#include "support/FrameworkTestKit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace RCPFormat;
using namespace RCPOperations;

// The application as the session sees it, recording what it is told.
class CRecordingHost : public IWardenhallHost, public IViewDispatcher {
public:
    CConsoleSettings LogonSettings() const override { return settings; }
    void SetOnline(bool online) override { m_online = online; }
    void SetLastLogonSucceeded(bool) override {}
    void SetConfigurationChanged(bool changed) override { m_changed = changed; }
    bool ForgetSession(IWardenhallSession* ended) override {
        std::lock_guard lock(m_mutex);
        if (ended != session)
            return false;
        session = nullptr;
        return true;
    }
    void Alert(int, unsigned, const std::string& title, const std::string& text, const std::string&,
               std::function<void()>) override {
        std::lock_guard lock(m_mutex);
        m_alerts.push_back(title + "|" + text);
    }
    void ChangePassword() override {}
    IViewDispatcher& Views() override { return *this; }
    void Post(CViewNotice notice) override {
        std::lock_guard lock(m_mutex);
        m_notices.push_back(std::move(notice));
    }

    // The notices so far, handed over (the windows take them).
    std::vector<CViewNotice> TakeNotices() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_notices, {});
    }
    std::vector<std::string> Alerts() const {
        std::lock_guard lock(m_mutex);
        return m_alerts;
    }
    bool IsOnline() const { return m_online; }
    bool IsChanged() const { return m_changed; }

    CConsoleSettings settings;
    IWardenhallSession* session = nullptr;

private:
    mutable std::mutex m_mutex;
    std::vector<CViewNotice> m_notices;
    std::vector<std::string> m_alerts;
    std::atomic<bool> m_online{false}, m_changed{false};
};

// Another console: adds, moves, changes and deletes locations, each echoed to every console.
constexpr const char* kOtherConsole = R"(
import sys
sys.path.insert(0, sys.argv[1] + "/tests/e2e")
import rcp
client = rcp.Client.connect(int(sys.argv[2]), b"alice", b"secret")
assert client.logon().op == rcp.LOGGED_ON
def location(text, internal):
    return b"".join(map(rcp.archive_string, (internal, text, b"")))
for n in range(15):
    for text, internal in ((b"10.*", b"010???"), (b"192.*", b"192???")):
        assert client.transact(52, (text,), send=[location(text, internal)])[0] == [1, 3]
    for op in (55, 56):
        assert client.request(op, b"192.*")[0] == [1, 3]
    assert client.transact(54, (b"10.*", b"10.*"), send=[location(b"10.*", b"010???")])[0] == [1, 3]
    if n < 14:
        for text in (b"10.*", b"192.*"):
            assert client.request(53, text)[0] == [1, 3]
client.close()
)";

class WardenhallSessionTest : public FrameworkTest {
protected:
    void SetUp() override {
        FrameworkTest::SetUp();
        AddUser("alice", "secret");
        for (DWORD kind = 0; kind < kRightKindCount; ++kind) {
            CRight& right = *m_engine->GetRight(kind);
            right.RemoveAll();
            right.SetIncludeDefaultRights(0);
            right.AddRecipient(new CRecipient);
        }
        m_service = CRef<CRemoteControlService>::Adopt(new CRemoteControlService(
            FreeTcpPort(), "Remote Control Service", "Remote Control Service"));
        AllowEveryone(*m_service);
        m_service->Start();
        ASSERT_EQ(m_service->GetRunState(), CService::kRunning);
        m_host.settings.userName = "alice";
        m_host.settings.password = "secret";
        m_host.settings.server = "127.0.0.1";
        m_host.settings.port = static_cast<int>(m_service->GetPortNumber());
    }
    void TearDown() override {
        m_service->Stop();
        m_service.Reset();
        FrameworkTest::TearDown();
    }

    // Lets the notices go, as the windows would, until `code` came for `target`.
    bool WaitForNotice(int target, UINT code) {
        return WaitFor(
            [&] {
                bool seen = false;
                for (const CViewNotice& notice : m_host.TakeNotices()) {
                    if (auto* item = dynamic_cast<CWHTreeItem*>(notice.object.Get())) {
                        EXPECT_EQ(ReadAgain(*item).kind, item->kind);  // still whole
                    }
                    seen = seen || (notice.target == target && notice.code == code);
                }
                return seen;
            },
            20000);
    }

    // The record's object read again as the session reads it: under its container's lock, since
    // an echo may be loading into that very object on the session thread.
    CWHTreeItem ReadAgain(const CWHTreeItem& item) {
        if (dynamic_cast<CLocation*>(item.object.Get())) {
            CScopedLock lock(m_copy.GetLocations());
            return CWHTreeItem(item.object, "");
        }
        if (dynamic_cast<CFilterComponent*>(item.object.Get())) {
            CScopedLock lock(m_copy.GetUserDatabase());
            return CWHTreeItem(item.object, "");
        }
        return CWHTreeItem(item.object, "");
    }

    std::size_t Locations(CNorvaneEngine& engine) {
        CScopedLock lock(engine.GetLocations());
        return engine.GetLocations().GetSize();
    }

    CRecordingHost m_host;
    CRef<CRemoteControlService> m_service;
    CNorvaneEngine m_copy{CNorvaneEngine::InertCopy{}};
};

TEST_F(WardenhallSessionTest, KeepsItsCopyCurrentWhileAnotherConsoleMakesChanges) {
    m_engine->GetDialer().AddProfile(new CDialerProfile("Line"));
    auto* session = new CWardenhallSession(m_host, m_copy);
    m_host.session = session;
    const std::shared_ptr<CEvent> ended = session->EndedEvent();
    ASSERT_TRUE(session->Start());
    ASSERT_TRUE(WaitForNotice(ViewTargets::kConfigurationView, kRetrieveCache));
    EXPECT_TRUE(m_host.IsOnline());
    {
        CScopedLock lock(m_copy.GetUserDatabase());
        EXPECT_NE(m_copy.GetUserDatabase().FindUserAccount("alice"), nullptr);
    }
    // The dialer came with its profile, whose line state the engine reports once the console
    // has registered (the last of the log-on's requests, before this one).
    session->QueueMessage(kRetrieveCache, {}, {}, {});
    ASSERT_TRUE(WaitForNotice(ViewTargets::kConfigurationView, kRetrieveCache));
    m_engine->NotifyDialerStatus("Line", 1, "Dialling Line");
    ASSERT_TRUE(WaitForNotice(ViewTargets::kDialerSheet, kNotifyDialerState));
    ASSERT_TRUE(m_copy.GetDialer().FindProfile("Line"));
    EXPECT_EQ(m_copy.GetDialer().FindProfile("Line")->GetStatusText(), "Dialling Line");

    // The other console runs while this one sends its own changes and reads its copy.
    TempDir scratch;
    const std::string script = scratch.Path() + "/other.py";
    std::ofstream(script) << kOtherConsole;
    std::thread other([&] {
        const std::string command = "/usr/bin/python3 " + script + " " NORVANE_SOURCE_DIR " " +
                                    std::to_string(m_service->GetPortNumber());
        EXPECT_EQ(std::system(command.c_str()), 0);
    });
    for (int n = 0; n < 15; ++n) {
        session->QueueRequest(kAddGroup, "Ops" + std::to_string(n),
                              CRef<CObject>::Adopt(new CGroup("Ops" + std::to_string(n), "")));
        session->QueueMessage(kModifyPolicies, {}, {}, {});
        session->QueueMessage(kPromoteLocation, "192.*", {}, {});
        session->QueueMessage(kModifyLocation, "10.*", "10.*", {});
        Locations(m_copy);
        m_host.TakeNotices();
    }
    other.join();
    session->QueueMessage(kCommitConfiguration, {}, {}, {});
    session->QueueMessage(kRetrieveCache, {}, {}, {});  // its end: every echo before it is in
    ASSERT_TRUE(WaitForNotice(ViewTargets::kConfigurationView, kRetrieveCache));
    EXPECT_FALSE(m_host.IsChanged());
    EXPECT_EQ(Locations(m_copy), Locations(*m_engine));
    EXPECT_EQ(Locations(m_copy), 2u);
    EXPECT_EQ(m_host.Alerts(), std::vector<std::string>());

    // The end: the copy is emptied and both views are told.
    session->Terminate(0);
    ASSERT_EQ(ended->Wait(10000), WAIT_OBJECT_0);
    EXPECT_FALSE(m_host.IsOnline());
    EXPECT_EQ(Locations(m_copy), 0u);
    std::vector<int> emptied;
    for (const CViewNotice& notice : m_host.TakeNotices())
        if (notice.code == ViewCodes::kSessionEnded)
            emptied.push_back(notice.target);
    EXPECT_EQ(emptied, (std::vector<int>{ViewTargets::kActivity, ViewTargets::kConfigurationView}));
}

}  // namespace
