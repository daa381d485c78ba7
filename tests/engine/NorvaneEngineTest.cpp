#include "engine/NorvaneEngine.h"

#include "engine/framework/Session.h"

#include "engine/LogFormat.h"
#include "engine/LogWriters.h"
#include "foundation/RegistryStore.h"
#include "foundation/X1SocketException.h"
#include "foundation/X1SocketNotifyWindow.h"
#include "platform/framework/Exception.h"
#include "platform/kernel/Clock.h"
#include "support/SocketTestKit.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace EngineFormat;

// Every recorded step, in the order the engine took them, from whatever thread.
class Journal {
public:
    void Add(std::string entry) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.push_back(std::move(entry));
    }
    std::vector<std::string> Entries() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_entries;
    }
    bool Contains(const std::string& entry) const {
        auto all = Entries();
        return std::find(all.begin(), all.end(), entry) != all.end();
    }
    long Count(const std::string& entry) const {
        auto all = Entries();
        return std::count(all.begin(), all.end(), entry);
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_entries;
};

// A client machine that records its idle checks and its deletion.
class CEngineTestMachine : public CMachineBase {
    DECLARE_DYNAMIC(CEngineTestMachine)
public:
    CEngineTestMachine(Journal& journal, std::string address, std::string user)
        : m_journal(journal), m_address(std::move(address)), m_user(std::move(user)) {}
    ~CEngineTestMachine() override { m_journal.Add("machine deleted " + m_address); }
    std::string GetAddressText() const override { return m_address; }
    std::string GetUserName() const override { return m_user; }
    void DeleteAllSessions() override {}
    void CheckIdleSessions() override {
        m_journal.Add("idle check " + m_address);
        if (onIdleCheck)
            onIdleCheck();
    }
    std::function<void()> onIdleCheck;

private:
    Journal& m_journal;
    std::string m_address, m_user;
};
IMPLEMENT_DYNAMIC(CEngineTestMachine, CLockableObject)

class CTestConsole : public IEngineConsole {
public:
    CTestConsole(std::string address, bool fails = false) : m_address(std::move(address)), m_fails(fails) {}
    void QueueMessage(WORD op, const std::string& t1, const std::string& t2, const std::string& t3) override {
        if (m_fails)
            throw new CException("queue failed");
        messages.push_back(std::to_string(op) + "|" + t1 + "|" + t2 + "|" + t3);
    }
    std::string GetClientAddress() const override { return m_address; }
    std::vector<std::string> messages;

private:
    std::string m_address;
    bool m_fails;
};

// The engine with every step recorded; the real steps still run after being recorded, the
// seams record only. Pauses are recorded, not slept.
class CRecordingEngine : public CNorvaneEngine {
public:
    explicit CRecordingEngine(Journal& journal) : m_journal(journal) {}
    // The thread calls the overrides below: it ends before they go.
    ~CRecordingEngine() override {
        ShutDown(FALSE);
        PostThreadMessage(WM_QUIT, 0, 0);
        WaitForExit(INFINITE);
    }

    Journal& m_journal;
    std::string throwIn;  // the step that throws, if any
    std::function<void()> blockIn;  // run inside StartDialer (to hold start-up)
    std::function<void()> onDial;   // run inside the dialer's dial-on-demand decision
    std::map<int, std::string> rightDescriptions;
    std::map<int, std::vector<std::string>> rightRecipients;
    std::map<std::string, BOOL> saveResults;  // keys whose save answers FALSE
    std::vector<std::string> users;

    void Record(const std::string& step) {
        m_journal.Add(step);
        if (step == throwIn)
            throw new CException("step failed: " + step);
    }

protected:
    void SelectRegistryRoot() override { Record("SelectRegistryRoot"); CNorvaneEngine::SelectRegistryRoot(); }
    void StartLogManager() override { Record("StartLogManager"); CNorvaneEngine::StartLogManager(); }
    void SetEngineTimer() override { Record("SetEngineTimer"); CNorvaneEngine::SetEngineTimer(); }
    void KillEngineTimer() override { Record("KillEngineTimer"); CNorvaneEngine::KillEngineTimer(); }
    void DeleteMachines() override { Record("DeleteMachines"); CNorvaneEngine::DeleteMachines(); }
    void DeleteLocations() override { Record("DeleteLocations"); CNorvaneEngine::DeleteLocations(); }
    void ClearConsoles() override { Record("ClearConsoles"); CNorvaneEngine::ClearConsoles(); }
    void StopLogManager() override { Record("StopLogManager"); CNorvaneEngine::StopLogManager(); }
    void StopEngineThread() override { Record("StopEngineThread"); CNorvaneEngine::StopEngineThread(); }
    void RequestProcessExit() override { Record("RequestProcessExit"); CNorvaneEngine::RequestProcessExit(); }
    void Pause(DWORD ms) override { Record("Pause " + std::to_string(ms)); }

    void LoadPart(EnginePart part, const std::string& key) override {
        Record("LoadPart " + key);
        CNorvaneEngine::LoadPart(part, key);
    }
    BOOL SavePart(EnginePart part, const std::string& key) override {
        Record("SavePart " + key);
        BOOL saved = CNorvaneEngine::SavePart(part, key);
        auto it = saveResults.find(key);
        return it == saveResults.end() ? saved : it->second;
    }
    void LoadRight(int kind, const std::string& key) override {
        Record("LoadRight " + std::to_string(kind) + " " + key);
    }
    BOOL SaveRight(int kind, const std::string& key) override {
        Record("SaveRight " + std::to_string(kind) + " " + key);
        auto it = saveResults.find(key);
        return it == saveResults.end() ? TRUE : it->second;
    }
    std::string GetRightDescription(int kind) override { return rightDescriptions[kind]; }
    void MakeDefaultRight(int kind, const std::string& description, const char* group) override {
        Record("MakeDefaultRight " + std::to_string(kind));
        rightDescriptions[kind] = description;
        rightRecipients[kind].push_back(group ? group : "(default)");
    }
    void CreateBuiltInAccounts() override { Record("CreateBuiltInAccounts"); }
    void OpenAuditFiles() override { Record("OpenAuditFiles"); }
    BOOL SaveUserStatistics() override {
        Record("SaveUserStatistics");
        return TRUE;
    }
    void DeleteUsersAndGroups() override { Record("DeleteUsersAndGroups"); }
    BOOL RemoveUser(const std::string& name) override {
        Record("RemoveUser " + name);
        auto it = std::find(users.begin(), users.end(), name);
        if (it == users.end())
            return FALSE;
        users.erase(it);
        return TRUE;
    }
    void EnsureRemoteControlService() override { Record("EnsureRemoteControlService"); }
    void StartServices() override { Record("StartServices"); }
    void StopAndDeleteServices() override { Record("StopAndDeleteServices"); }
    void LoadCacheIndex() override { Record("LoadCacheIndex"); }
    void CloseCache() override { Record("CloseCache"); }
    void StartDialer() override {
        Record("StartDialer");
        if (blockIn)
            blockIn();
    }
    void HangUpDialer() override { Record("HangUpDialer"); }
    BOOL WaitForDialer(DWORD ms) override {
        Record("WaitForDialer " + std::to_string(ms));
        return TRUE;
    }
    void DialOnDemand(CSession*) override {
        Record("DialOnDemand");
        if (onDial)
            onDial();
    }
    BOOL AdmitSession(CSession*) override {
        Record("AdmitSession");
        return TRUE;
    }
};

class NorvaneEngineTest : public ::testing::Test {
protected:
    TempStateDir state;
    Journal journal;

    void SetUp() override { SetRegistryRoot(kCompany, kProduct); }

    static std::vector<std::string> StartUpSteps() {
        std::vector<std::string> steps = {"SelectRegistryRoot"};
        for (const EnginePartKey& part : kParts)
            steps.push_back(std::string("LoadPart ") + part.key);
        for (const EngineRight& right : kRights)
            steps.push_back("LoadRight " + std::to_string(right.kind) + " " + right.key);
        steps.push_back("CreateBuiltInAccounts");
        steps.push_back("EnsureRemoteControlService");
        for (int kind = 0; kind < kRightCount; ++kind)
            steps.push_back("MakeDefaultRight " + std::to_string(kind));
        for (const char* step : {"StartLogManager", "LoadCacheIndex", "StartDialer", "StartServices",
                                 "OpenAuditFiles", "SetEngineTimer"})
            steps.push_back(step);
        return steps;
    }

    static void StartAndWait(CNorvaneEngine& engine) {
        ASSERT_TRUE(engine.Initialize());
        ASSERT_TRUE(WaitUntil([&] { return engine.GetTimerId() != 0; }));
    }
};

TEST_F(NorvaneEngineTest, StartUpRunsItsStepsInOrderAndSetsTheTimer) {
    CRecordingEngine engine(journal);
    StartAndWait(engine);
    EXPECT_EQ(journal.Entries(), StartUpSteps());
    EXPECT_FALSE(engine.Initialize());  // the thread runs already
    EXPECT_TRUE(engine.GetLogManager().HasStarted());
}

TEST_F(NorvaneEngineTest, StartUpFailureSkipsTheRestButStillSetsTheTimer) {
    CRecordingEngine engine(journal);
    engine.throwIn = "EnsureRemoteControlService";
    StartAndWait(engine);
    EXPECT_TRUE(journal.Contains("EnsureRemoteControlService"));
    for (const char* skipped : {"MakeDefaultRight 0", "StartLogManager", "LoadCacheIndex", "StartDialer",
                                "StartServices", "OpenAuditFiles"})
        EXPECT_FALSE(journal.Contains(skipped)) << skipped;
    EXPECT_EQ(journal.Entries().back(), "SetEngineTimer");
}

TEST_F(NorvaneEngineTest, LoadingStopsAtTheFirstFailure) {
    CRecordingEngine engine(journal);
    engine.throwIn = "LoadPart Services";
    engine.LoadConfiguration();
    EXPECT_EQ(journal.Entries(), (std::vector<std::string>{"LoadPart UserDatabase", "LoadPart Services"}));
}

TEST_F(NorvaneEngineTest, DefaultRightsOnlyForRightsWithoutDescription) {
    CRecordingEngine engine(journal);
    // A right loaded with a description and no recipients keeps both as they are.
    engine.rightDescriptions[3] = "Only these may add users";
    engine.CreateDefaultRights();
    EXPECT_EQ(engine.rightDescriptions[3], "Only these may add users");
    EXPECT_TRUE(engine.rightRecipients[3].empty());
    EXPECT_FALSE(journal.Contains("MakeDefaultRight 3"));
    EXPECT_EQ(engine.rightDescriptions[0], "Users can access services");
    EXPECT_EQ(engine.rightRecipients[0], std::vector<std::string>{"(default)"});
    EXPECT_EQ(engine.rightDescriptions[1], "Users can start/stop services");
    EXPECT_EQ(engine.rightDescriptions[2], "Users can modify services");
    EXPECT_EQ(engine.rightDescriptions[4], "Users can create/delete services");
    EXPECT_EQ(engine.rightDescriptions[5], "Users can monitor activity on this server");
    EXPECT_EQ(engine.rightDescriptions[6], "Users can delete sessions from this server");
    EXPECT_EQ(engine.rightDescriptions[7], "Users can modify system policies");
    EXPECT_EQ(engine.rightDescriptions[8], "Users can modify and control Norvane Dialer");
    EXPECT_EQ(engine.rightDescriptions[9], "Users can modify and control Norvane cache");
    EXPECT_EQ(engine.rightDescriptions[10], "Users can shutdown Norvane");
    for (int kind : {1, 2, 4, 5, 6, 7, 8, 9, 10})
        EXPECT_EQ(engine.rightRecipients[kind], std::vector<std::string>{"Administrators"}) << kind;
    // A second pass changes nothing: every right has its description now.
    journal.Clear();
    engine.CreateDefaultRights();
    EXPECT_TRUE(journal.Entries().empty());
}

TEST_F(NorvaneEngineTest, ShutDownRunsItsStepsInOrder) {
    CRecordingEngine engine(journal);
    StartAndWait(engine);
    engine.GetMachineMap().AddMachine(new CEngineTestMachine(journal, "10.0.0.1", "Guest"));
    engine.GetMachineMap().AddMachine(new CEngineTestMachine(journal, "10.0.0.2", "bob"));
    CTestConsole console("10.0.0.1");
    engine.RegisterConsole(&console);
    bool exitRequested = false;
    engine.SetProcessExitHandler([&] { exitRequested = true; });
    journal.Clear();

    engine.ShutDown(FALSE);
    EXPECT_EQ(journal.Entries(),
              (std::vector<std::string>{"KillEngineTimer", "DeleteMachines", "machine deleted 10.0.0.1",
                                        "machine deleted 10.0.0.2", "Pause 500", "StopAndDeleteServices",
                                        "CloseCache", "HangUpDialer", "Pause 500", "SaveUserStatistics",
                                        "DeleteUsersAndGroups", "DeleteLocations", "ClearConsoles",
                                        "StopLogManager", "StopEngineThread"}));
    EXPECT_FALSE(exitRequested);
    EXPECT_EQ(engine.GetTimerId(), 0u);
    EXPECT_TRUE(engine.GetMachineMap().IsEmpty());
    EXPECT_EQ(engine.GetConsoleCount(), 0u);
    EXPECT_TRUE(engine.GetLogManager().HasEnded());
    EXPECT_TRUE(engine.HasEnded());

    // No session is admitted once the shut-down has begun, and a second shut-down only adds
    // its exit request.
    // A refused session is ended.
    auto refused = CRef<CSession>::Adopt(new CSession);
    EXPECT_FALSE(engine.RegisterSession(refused.Get()));
    EXPECT_EQ(refused->GetTerminateCount(), 1);
    EXPECT_TRUE(refused->HasSessionEnded());
    EXPECT_FALSE(journal.Contains("AdmitSession"));
    journal.Clear();
    engine.ShutDown(TRUE);
    EXPECT_EQ(journal.Entries(), std::vector<std::string>{"RequestProcessExit"});
    EXPECT_TRUE(exitRequested);
}

TEST_F(NorvaneEngineTest, ShutDownFailureAbandonsTheRestButStillAsksForTheExit) {
    CRecordingEngine engine(journal);
    StartAndWait(engine);
    int exits = 0;
    engine.SetProcessExitHandler([&] { ++exits; });
    engine.throwIn = "CloseCache";
    journal.Clear();
    engine.ShutDown(TRUE);
    auto entries = journal.Entries();
    EXPECT_EQ(entries.back(), "RequestProcessExit");
    EXPECT_TRUE(journal.Contains("CloseCache"));
    EXPECT_FALSE(journal.Contains("HangUpDialer"));
    EXPECT_FALSE(journal.Contains("StopEngineThread"));
    EXPECT_EQ(exits, 1);
    EXPECT_FALSE(engine.HasEnded());  // its destructor ends it
}

TEST_F(NorvaneEngineTest, ShutDownDuringStartUpWaitsAndStartsNothingMore) {
    CRecordingEngine engine(journal);
    CEvent reached(true, false), release(true, false);
    engine.blockIn = [&] {
        reached.Set();
        release.Wait(10000);
    };
    ASSERT_TRUE(engine.Initialize());
    ASSERT_EQ(reached.Wait(10000), WAIT_OBJECT_0);
    std::thread stopper([&] { engine.ShutDown(FALSE); });
    ASSERT_TRUE(WaitUntil([&] { return engine.IsShuttingDown(); }));
    EXPECT_FALSE(journal.Contains("KillEngineTimer"));  // waiting for the start-up
    release.Set();
    stopper.join();
    EXPECT_FALSE(journal.Contains("StartServices"));
    EXPECT_FALSE(journal.Contains("OpenAuditFiles"));
    EXPECT_FALSE(journal.Contains("SetEngineTimer"));
    EXPECT_TRUE(journal.Contains("StopEngineThread"));
    EXPECT_TRUE(engine.HasEnded());
}

TEST_F(NorvaneEngineTest, ShutDownWithoutStartUpIsSafe) {
    CRecordingEngine engine(journal);
    engine.ShutDown(FALSE);
    EXPECT_TRUE(journal.Contains("StopEngineThread"));
    EXPECT_FALSE(engine.HasStarted());
}

TEST_F(NorvaneEngineTest, TimerTicksWalkMachinesAndSaveStatisticsEverySixtiethTick) {
    CRecordingEngine engine(journal);
    StartAndWait(engine);
    const DWORD timer = engine.GetTimerId();
    engine.GetMachineMap().AddMachine(new CEngineTestMachine(journal, "10.0.0.9", "Guest"));
    journal.Clear();

    // Another timer's message does nothing, and does not count.
    ASSERT_TRUE(engine.PostThreadMessage(WM_TIMER, timer + 1000, 0));
    ASSERT_TRUE(engine.PostThreadMessage(WM_TIMER, timer, 0));
    ASSERT_TRUE(WaitUntil([&] { return engine.GetTimerTicks() >= 1; }));
    EXPECT_EQ(journal.Entries(), (std::vector<std::string>{"idle check 10.0.0.9", "SaveUserStatistics"}));

    for (int i = 0; i < 60; ++i)
        ASSERT_TRUE(engine.PostThreadMessage(WM_TIMER, timer, 0));
    ASSERT_TRUE(WaitUntil([&] { return engine.GetTimerTicks() >= 61; }));
    ASSERT_TRUE(WaitUntil([&] { return journal.Count("SaveUserStatistics") >= 2; }));
    // Ticks 0 and 60 saved (a real tick of the 2000 ms timer may have come in between).
    const std::uint64_t ticks = engine.GetTimerTicks();
    EXPECT_EQ(journal.Count("SaveUserStatistics"), static_cast<long>((ticks - 1) / 60 + 1));
    EXPECT_GE(journal.Count("idle check 10.0.0.9"), 61);
}

TEST_F(NorvaneEngineTest, IdleWalkSurvivesMachinesThatFailOrLeave) {
    CRecordingEngine engine(journal);
    StartAndWait(engine);
    auto* leaving = new CEngineTestMachine(journal, "10.0.0.1", "Guest");
    auto* failing = new CEngineTestMachine(journal, "10.0.0.2", "Guest");
    auto* staying = new CEngineTestMachine(journal, "10.0.0.3", "Guest");
    // Its last session ends during the walk, which removes the machine from the map.
    leaving->onIdleCheck = [&] { engine.RemoveMachine("10.0.0.1"); };
    failing->onIdleCheck = [] { throw new CException("idle check failed"); };
    for (auto* m : {leaving, failing, staying})
        engine.GetMachineMap().AddMachine(m);
    journal.Clear();
    ASSERT_TRUE(engine.PostThreadMessage(WM_TIMER, engine.GetTimerId(), 0));
    ASSERT_TRUE(WaitUntil([&] { return journal.Contains("SaveUserStatistics"); }));
    auto entries = journal.Entries();
    // The leaving machine is deleted only once the walk lets go of it, and the walk went on.
    auto at = [&](const std::string& e) { return std::find(entries.begin(), entries.end(), e) - entries.begin(); };
    EXPECT_LT(at("idle check 10.0.0.1"), at("idle check 10.0.0.3"));
    EXPECT_LT(at("idle check 10.0.0.3"), at("machine deleted 10.0.0.1"));
    EXPECT_LT(at("idle check 10.0.0.2"), at("idle check 10.0.0.3"));
    EXPECT_EQ(engine.GetMachineMap().GetCount(), 2u);
}

TEST_F(NorvaneEngineTest, RestartDialerWaitsForTheOldThread) {
    CRecordingEngine engine(journal);
    StartAndWait(engine);
    journal.Clear();
    ASSERT_TRUE(engine.PostThreadMessage(kRestartDialerMessage, 0, 0));
    ASSERT_TRUE(WaitUntil([&] { return journal.Contains("StartDialer"); }));
    EXPECT_EQ(journal.Entries(), (std::vector<std::string>{"HangUpDialer", "WaitForDialer 5000", "Pause 3000",
                                                           "StartDialer"}));
}

TEST_F(NorvaneEngineTest, DialOnDemandPassesOnlyTheDialersRefusal) {
    CRecordingEngine engine(journal);
    engine.CheckDialFirst(nullptr);
    EXPECT_EQ(journal.Count("DialOnDemand"), 1);

    engine.onDial = [] { throw new X1SocketException(0, "Norvane Dialer failed connection"); };
    try {
        engine.CheckDialFirst(nullptr);
        ADD_FAILURE() << "no exception";
    } catch (X1SocketException* e) {
        EXPECT_EQ(e->GetErrorCode(), 0);
        EXPECT_EQ(e->GetErrorText(), "Norvane Dialer failed connection");
        e->Delete();
    }
    engine.onDial = [] { throw new X1SocketException(10065, "No route to host"); };
    try {
        engine.CheckDialFirst(nullptr);
        ADD_FAILURE() << "no exception";
    } catch (X1SocketException* e) {
        EXPECT_EQ(e->GetErrorCode(), 10065);
        EXPECT_EQ(e->GetErrorText(), "No route to host");
        e->Delete();
    }
    // Any other failure of the dialer counts as "no dial needed".
    engine.onDial = [] { throw new CException("dialer broken"); };
    EXPECT_NO_THROW(engine.CheckDialFirst(nullptr));
    engine.onDial = [] { throw std::runtime_error("dialer broken"); };
    EXPECT_NO_THROW(engine.CheckDialFirst(nullptr));
}

TEST_F(NorvaneEngineTest, TheEngineThreadRunsSocketCallbacksWhileItRuns) {
    CRecordingEngine engine(journal);
    StartAndWait(engine);
    EXPECT_EQ(X1SocketNotifyWindow::Instance().GetCallbackThread(), engine.ThreadId());
    engine.ShutDown(FALSE);
    EXPECT_EQ(X1SocketNotifyWindow::Instance().GetCallbackThread(), 0u);
}

TEST_F(NorvaneEngineTest, RemovingMachinesAndUsers) {
    CRecordingEngine engine(journal);
    engine.users = {"bob", "alice"};
    CMachineMap& machines = engine.GetMachineMap();
    machines.AddMachine(new CEngineTestMachine(journal, "10.0.0.1", "bob"));
    machines.AddMachine(new CEngineTestMachine(journal, "10.0.0.2", "alice"));
    machines.AddMachine(new CEngineTestMachine(journal, "10.0.0.3", "bob"));
    machines.AddMachine(new CEngineTestMachine(journal, "10.0.0.4", "Bob"));

    engine.RemoveMachine("10.0.0.9");
    EXPECT_EQ(machines.GetCount(), 4u);
    // A name that is not a user changes nothing.
    engine.DeleteUser("carol");
    EXPECT_EQ(machines.GetCount(), 4u);
    // Every machine of the user goes, not only the first; names are exact.
    engine.DeleteUser("bob");
    EXPECT_EQ(machines.GetCount(), 2u);
    EXPECT_TRUE(journal.Contains("machine deleted 10.0.0.1"));
    EXPECT_TRUE(journal.Contains("machine deleted 10.0.0.3"));
    EXPECT_FALSE(journal.Contains("machine deleted 10.0.0.4"));
    engine.RemoveMachine("10.0.0.2");
    EXPECT_TRUE(journal.Contains("machine deleted 10.0.0.2"));
    EXPECT_EQ(machines.GetCount(), 1u);
    // The live map refuses wholesale deletion; the engine's shut-down deletes machines itself.
    EXPECT_TRUE(machines.IsLive());
}

TEST_F(NorvaneEngineTest, ConsoleNotifications) {
    CRecordingEngine engine(journal);
    CTestConsole first("10.0.0.1"), failing("10.0.0.2", true), second("10.0.0.3"), sameMachine("10.0.0.1");
    engine.RegisterConsole(&first);
    engine.RegisterConsole(&first);
    engine.RegisterConsole(&failing);
    engine.RegisterConsole(&second);
    engine.RegisterConsole(nullptr);
    EXPECT_EQ(engine.GetConsoleCount(), 3u);

    engine.NotifyMachineAdded("10.0.0.7", "Guest", 0);
    engine.NotifyMachineChanged("10.0.0.7", "bob", 1);
    engine.NotifyMachineRemoved("10.0.0.7", 3600);
    engine.NotifySessionStarted("10.0.0.7", 12, "GET http://example.com/");
    engine.NotifySessionStatus("10.0.0.7", 12, "cached");
    engine.NotifySessionEnded("10.0.0.7", 4294967295u, 1, 2, 3, 4294967295u);
    engine.NotifyDialerStatus("ISP", 2, "Connected to ISP");
    engine.NotifyAlert("Caption", "Text");
    const std::vector<std::string> expected = {
        "71|10.0.0.7|Guest|0",
        "72|10.0.0.7|bob|1",
        "73|10.0.0.7|3600|",
        "74|10.0.0.7|12|GET http://example.com/",
        "75|10.0.0.7|12|cached",
        "76|10.0.0.7|4294967295|1 2 3 4294967295",
        "63|ISP|2|Connected to ISP",
        "90|Caption|Text|",
    };
    // A console that fails does not keep the one after it from being told.
    EXPECT_EQ(first.messages, expected);
    EXPECT_EQ(second.messages, expected);

    engine.RegisterConsole(&sameMachine);
    first.messages.clear();
    second.messages.clear();
    engine.SendToMachineConsoles("10.0.0.1", 101, "10.0.0.3", "bob", "");
    EXPECT_EQ(first.messages, std::vector<std::string>{"101|10.0.0.3|bob|"});
    EXPECT_EQ(sameMachine.messages, std::vector<std::string>{"101|10.0.0.3|bob|"});
    EXPECT_TRUE(second.messages.empty());

    engine.UnregisterConsole(&first);
    engine.UnregisterConsole(&first);
    EXPECT_EQ(engine.GetConsoleCount(), 3u);
    engine.NotifyAlert("a", "b");
    EXPECT_EQ(first.messages.size(), 1u);
}

TEST_F(NorvaneEngineTest, SavingGoesOnAfterAUserDatabaseFailureAndStopsAfterAnyOther) {
    CRecordingEngine engine(journal);
    CTestConsole console("127.0.0.1");
    engine.RegisterConsole(&console);

    EXPECT_TRUE(engine.SaveConfiguration());
    EXPECT_TRUE(console.messages.empty());
    std::vector<std::string> all;
    for (const EnginePartKey& part : kParts)
        all.push_back(std::string("SavePart ") + part.key);
    for (const EngineRight& right : kRights)
        all.push_back("SaveRight " + std::to_string(right.kind) + " " + right.key);
    EXPECT_EQ(journal.Entries(), all);

    journal.Clear();
    engine.saveResults["UserDatabase"] = FALSE;
    EXPECT_FALSE(engine.SaveConfiguration());
    EXPECT_EQ(journal.Entries(), all);
    ASSERT_EQ(console.messages.size(), 1u);
    EXPECT_EQ(console.messages[0],
              "90|Norvane Internal Error|There was an error writing Norvane User database\nto registry.  There "
              "may be a security\ncompromise as a result.  Make sure you log back in\nand check users and "
              "groups|");

    journal.Clear();
    console.messages.clear();
    engine.saveResults.clear();
    engine.throwIn = "SavePart Dialer";
    EXPECT_FALSE(engine.SaveConfiguration());
    EXPECT_EQ(journal.Entries().back(), "SavePart Dialer");
    EXPECT_FALSE(journal.Contains("SavePart Cache"));
    EXPECT_FALSE(journal.Contains("SaveRight 0 DefaultRights\\Access"));
    ASSERT_EQ(console.messages.size(), 1u);
    EXPECT_EQ(console.messages[0],
              "90|Norvane Internal Error|There was an error writing Norvane configuration\nto file.  Norvane may "
              "be in an unstable state\n|");

    journal.Clear();
    console.messages.clear();
    engine.throwIn.clear();
    engine.saveResults["SystemRights\\Shutdown"] = FALSE;
    EXPECT_FALSE(engine.SaveConfiguration());
    EXPECT_EQ(console.messages.size(), 1u);
}

TEST_F(NorvaneEngineTest, TheRealEngineStartsAndStopsOnAnEmptyStore) {
    TempDir logs;
    ASSERT_TRUE(RegWriteString("Settings", "LogFileDirectory", logs.Path()));
    CNorvaneEngine engine;
    StartAndWait(engine);
    EXPECT_TRUE(engine.GetLocations().IsEmpty());
    // A line posted before the shut-down is written by the time it returns.
    CLogFileRef file = CLogFile::OpenServiceLog("Web Proxy");
    ASSERT_TRUE(file);
    EXPECT_TRUE(PostServiceLogLine(engine.GetLogManager(), file, LogFormat::kDefaultLogOptions,
                                   LogFormat::kLogServiceEvent, "Service stopped"));
    engine.ShutDown(FALSE);
    EXPECT_TRUE(engine.HasEnded());
    EXPECT_TRUE(engine.GetLogManager().HasEnded());
    std::ifstream in(file->GetPath(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str().substr(17), "\tService stopped\r\n");
    // The locations were saved back as the store held them: nothing.
    EXPECT_TRUE(engine.SaveConfiguration());
}

TEST_F(NorvaneEngineTest, WorkerThreadsAreWaitedForBeforeTheProcessEnds) {
    CNorvaneEngine engine;
    CEvent release(true, false);
    class CWorker : public CThread {
    public:
        CWorker(CThreadRoster& roster, CEvent& release) : m_roster(roster), m_release(release) {}
        bool InitInstance() override {
            m_roster.Enter(*this);
            m_release.Wait(10000);
            return false;
        }
        CThreadRoster& m_roster;
        CEvent& m_release;
    } worker(engine.GetThreadRoster(), release);
    ASSERT_TRUE(worker.CreateThread());
    ASSERT_TRUE(WaitUntil([&] { return engine.GetThreadRoster().CountRunning() == 1; }));
    EXPECT_EQ(engine.WaitForThreads(50), 1u);
    release.Set();
    EXPECT_EQ(engine.WaitForThreads(10000), 0u);
    EXPECT_EQ(engine.GetThreadRoster().CountRunning(), 0u);
}

TEST_F(NorvaneEngineTest, TheProcessEngineCanBeChosen) {
    CNorvaneEngine& fallback = CNorvaneEngine::Instance();
    EXPECT_EQ(&CNorvaneEngine::Instance(), &fallback);
    {
        CNorvaneEngine mine;
        CNorvaneEngine::SetInstance(&mine);
        EXPECT_EQ(&CNorvaneEngine::Instance(), &mine);
    }
    // An engine that goes stops being the process's engine.
    EXPECT_EQ(&CNorvaneEngine::Instance(), &fallback);
}

}  // namespace
