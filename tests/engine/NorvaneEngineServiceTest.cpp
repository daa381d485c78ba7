#include "engine/NorvaneEngineService.h"
#include "engine/ServiceTexts.h"
#include "foundation/RegistryStore.h"
#include "foundation/X1Socket.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/InstanceLock.h"
#include "platform/kernel/Paths.h"
#include "platform/service/ServiceControlManager.h"
#include "support/FrameworkTestKit.h"
#include "support/ServiceChannels.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

namespace {

// Stands for the engine object: counts what the service asks of it.
class FakeEngine : public IEngineLifecycle {
public:
    BOOL Initialize() override {
        modeAtInitialize = X1Socket::GetDefaultMode();
        ++initialized;
        return failInitialize ? FALSE : TRUE;
    }
    void ShutDown(BOOL exitProcess) override {
        shutDowns.push_back(exitProcess);
        lockHeldDuringShutDown = CInstanceLock::IsHeldByAnyone(ServiceTexts::kInstanceLockName);
    }
    std::atomic<int> initialized{0};
    std::atomic<int> modeAtInitialize{-1};
    bool failInitialize = false;
    std::vector<BOOL> shutDowns;
    bool lockHeldDuringShutDown = false;
};

// A service whose event source key cannot be written.
class NoEventSourceService : public CNorvaneEngineService {
public:
    using CNorvaneEngineService::CNorvaneEngineService;

protected:
    LONG RegisterEventSourceKey(const std::string&) override { return ERROR_ACCESS_DENIED; }
};

std::vector<std::string> EventTexts(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> texts;
    for (std::string line; std::getline(in, line);)
        texts.push_back(line.substr(line.rfind('\t') + 1));
    return texts;
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
    for (const auto& t : texts)
        if (t == text)
            return true;
    return false;
}

int Count(const std::vector<std::string>& texts, const std::string& text) {
    int n = 0;
    for (const auto& t : texts)
        n += t == text;
    return n;
}

class EngineServiceTest : public ::testing::Test {
protected:
    EngineServiceTest() {
        setenv("NORVANE_EVENTLOG_FILE", EventFile().c_str(), 1);
        setenv("NORVANE_TRACE_FILE", (m_state.Path() + "/trace.log").c_str(), 1);
    }
    ~EngineServiceTest() override {
        unsetenv("NORVANE_EVENTLOG_FILE");
        unsetenv("NORVANE_TRACE_FILE");
    }

    std::string EventFile() const { return m_state.Path() + "/events.log"; }
    std::vector<std::string> Events() const { return EventTexts(EventFile()); }

    // Runs `service` as the dispatcher would run it after a start by the manager.
    void Dispatch(CNTService& service) {
        m_channels = std::make_unique<CHandedChannels>(ServiceTexts::kServiceName);
        ASSERT_TRUE(m_channels->Ready());
        m_dispatch = std::thread([this, &service] {
            m_dispatchResult = service.StartService();
            m_dispatchReturned = true;
        });
        ASSERT_NE(m_channels->WaitConnected(), 0u);
    }

    DWORD Control(DWORD control) {
        auto reply = SendServiceRequest(ServiceTexts::kServiceName, ControlProtocol::kOpControl,
                                        control);
        return reply ? reply->error : 0xFFFFFFFF;
    }

    // A test that failed half-way leaves its service running: stop it before it goes.
    void TearDown() override {
        if (m_dispatch.joinable() && !m_dispatchReturned)
            Control(SERVICE_CONTROL_STOP);
        Join();
        X1Socket::SetDefaultMode(0);
    }

    void Join() {
        if (m_dispatch.joinable())
            m_dispatch.join();
    }

    TempStateDir m_state;
    std::unique_ptr<CHandedChannels> m_channels;
    std::thread m_dispatch;
    std::atomic<BOOL> m_dispatchResult{FALSE};
    std::atomic<bool> m_dispatchReturned{false};
    FakeEngine m_engine;

    // The service object lives as long as the fixture, so the dispatch never outlives it.
    CNorvaneEngineService& Service() {
        m_service = std::make_unique<CNorvaneEngineService>(m_engine);
        return *m_service;
    }
    std::unique_ptr<CNorvaneEngineService> m_service;
};

}  // namespace

TEST_F(EngineServiceTest, RunTakesTheLockStartsTheEngineAndStopsOnTheStopControl) {
    X1Socket::SetDefaultMode(0);
    CNorvaneEngineService& service = Service();
    Dispatch(service);
    ASSERT_TRUE(WaitForServiceState(ServiceTexts::kServiceName, SERVICE_RUNNING));
    auto status = SendServiceRequest(ServiceTexts::kServiceName, ControlProtocol::kOpQueryStatus, 0);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->status.dwServiceType, SERVICE_WIN32_OWN_PROCESS);
    EXPECT_EQ(status->status.dwControlsAccepted, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN);
    EXPECT_EQ(status->status.dwWin32ExitCode, 0u);
    ASSERT_TRUE(WaitFor([] { return CInstanceLock::IsHeldByAnyone(ServiceTexts::kInstanceLockName); }));
    ASSERT_TRUE(WaitFor([&] { return m_engine.initialized != 0; }));
    EXPECT_EQ(m_engine.initialized, 1);
    EXPECT_EQ(m_engine.modeAtInitialize, 2);  // set before the engine started
    EXPECT_TRUE(WaitFor([&] { return Contains(Events(), "The service has been started."); }));

    // Controls the service does not know are bad requests; interrogate is not.
    EXPECT_EQ(Control(11), ERROR_SUCCESS);
    EXPECT_EQ(Control(200), ERROR_SUCCESS);
    EXPECT_EQ(Control(SERVICE_CONTROL_INTERROGATE), ERROR_SUCCESS);
    EXPECT_EQ(Count(Events(), "Bad request sent to service."), 2);

    EXPECT_EQ(Control(SERVICE_CONTROL_STOP), ERROR_SUCCESS);
    // The shut-down has run by the time the stop is answered, with the lock still held.
    EXPECT_EQ(m_engine.shutDowns, std::vector<BOOL>{FALSE});
    EXPECT_TRUE(m_engine.lockHeldDuringShutDown);
    Join();
    EXPECT_TRUE(m_dispatchResult);
    EXPECT_FALSE(CInstanceLock::IsHeldByAnyone(ServiceTexts::kInstanceLockName));
    auto events = Events();
    const std::vector<std::string> expected = {
        "The service has been started.",
        "Bad request sent to service.",
        "Bad request sent to service.",
        "Stop command received from Service Control Manager - stopping Engine.",
        "The service has been stopped.",
        "Engine stopped."};
    EXPECT_EQ(events, expected);
    EXPECT_EQ(service.ExitStatus(), 0);
    EXPECT_EQ(service.Status().dwCurrentState, SERVICE_STOPPED);
}

TEST_F(EngineServiceTest, ASecondEngineOnTheSameStateFolderEndsAtOnce) {
    CInstanceLock running;
    ASSERT_EQ(running.TryAcquire(ServiceTexts::kInstanceLockName), CInstanceLock::Result::Acquired);
    CNorvaneEngineService& service = Service();
    Dispatch(service);
    Join();  // it stops by itself
    EXPECT_TRUE(m_dispatchResult);
    EXPECT_EQ(m_engine.initialized, 0);
    EXPECT_TRUE(m_engine.shutDowns.empty());
    EXPECT_TRUE(running.IsHeld());
    auto events = Events();
    EXPECT_TRUE(Contains(events, "NorvaneEngine already running - terminating."));
    EXPECT_EQ(events.back(), "Engine stopped.");
}

TEST_F(EngineServiceTest, AnEngineThatShutItselfDownEndsTheService) {
    CNorvaneEngineService& service = Service();
    Dispatch(service);
    ASSERT_TRUE(WaitForServiceState(ServiceTexts::kServiceName, SERVICE_RUNNING));
    service.EndAfterEngineShutDown();
    Join();
    EXPECT_TRUE(m_dispatchResult);
    EXPECT_TRUE(m_engine.shutDowns.empty());  // its shut-down has run already
    EXPECT_EQ(service.ExitStatus(), 0);
    auto events = Events();
    EXPECT_FALSE(Contains(events, "The service has been stopped."));
    EXPECT_EQ(events.back(), "Engine stopped.");
    EXPECT_FALSE(CInstanceLock::IsHeldByAnyone(ServiceTexts::kInstanceLockName));
}

TEST_F(EngineServiceTest, AnEngineThatCannotStartEndsTheService) {
    m_engine.failInitialize = true;
    CNorvaneEngineService& service = Service();
    Dispatch(service);
    Join();
    EXPECT_TRUE(m_dispatchResult);
    auto events = Events();
    EXPECT_TRUE(Contains(events, "Could not start the engine thread - terminating."));
    EXPECT_EQ(events.back(), "Engine stopped.");
    EXPECT_FALSE(CInstanceLock::IsHeldByAnyone(ServiceTexts::kInstanceLockName));
}

TEST_F(EngineServiceTest, SigtermShutsTheEngineDownAndEndsTheService) {
    CNorvaneEngineService& service = Service();
    Dispatch(service);
    ASSERT_TRUE(WaitForServiceState(ServiceTexts::kServiceName, SERVICE_RUNNING));
    raise(SIGTERM);
    Join();
    EXPECT_EQ(m_engine.shutDowns, std::vector<BOOL>{FALSE});
    auto events = Events();
    EXPECT_TRUE(Contains(events, "System shutting down - stopping Engine."));
    EXPECT_EQ(events.back(), "Engine stopped.");
}

TEST_F(EngineServiceTest, DesktopInteractionIsTurnedOffForTheNextStart) {
    CScHandle manager(OpenSCManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    CScHandle record(CreateService(manager.Get(), ServiceTexts::kServiceName, nullptr,
                                   SERVICE_ALL_ACCESS,
                                   SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS,
                                   SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "/bin/true", nullptr,
                                   nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(record);
    CNorvaneEngineService& service = Service();
    Dispatch(service);
    ASSERT_TRUE(WaitForServiceState(ServiceTexts::kServiceName, SERVICE_RUNNING));
    ASSERT_TRUE(WaitFor([&] { return m_engine.initialized != 0; }));
    QUERY_SERVICE_CONFIG config;
    ASSERT_TRUE(QueryServiceConfig(record.Get(), &config));
    EXPECT_EQ(config.dwServiceType, SERVICE_WIN32_OWN_PROCESS);
    EXPECT_EQ(config.dwStartType, SERVICE_DEMAND_START);
    EXPECT_TRUE(Contains(Events(), "Service was set to interact with desktop - disabled - will "
                                   "take effect on next start."));
    EXPECT_EQ(Control(SERVICE_CONTROL_STOP), ERROR_SUCCESS);
}

namespace {

// Runs one switch and returns what it printed.
std::string RunSwitch(CNTService& service, const char* option, int& exitStatus) {
    char program[] = "NorvaneEngine";
    std::string argument = option;
    char* argv[] = {program, argument.data(), nullptr};
    ::testing::internal::CaptureStdout();
    BOOL handled = service.ParseStandardArgs(2, argv);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(handled);
    exitStatus = service.ExitStatus();
    return out;
}

HKEY Open(const char* path) {
    HKEY key = nullptr;
    return RegOpenKeyEx(HKEY_LOCAL_MACHINE, path, KEY_READ, &key) == ERROR_SUCCESS ? key : nullptr;
}

bool KeyExists(const char* path) {
    HKEY key = Open(path);
    if (key)
        RegCloseKey(key);
    return key != nullptr;
}

constexpr const char* kEventSourcePath =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\NorvaneEngine";
constexpr const char* kProductPath = "SOFTWARE\\Urvo Software\\Norvane 2";

}  // namespace

TEST_F(EngineServiceTest, SwitchesReportTheirOutcomeInTextAndExitStatus) {
    CNorvaneEngineService service(m_engine);
    char* none[] = {nullptr};
    EXPECT_FALSE(service.ParseStandardArgs(1, none));

    int status = -1;
    EXPECT_EQ(RunSwitch(service, "-v", status),
              "Urvo Norvane Engine Version 2.0e\nThe service is not installed\n");
    EXPECT_EQ(status, 0);
    for (const char* option : {"-u", "-start", "-stop", "-clean"}) {
        EXPECT_EQ(RunSwitch(service, option, status), "Urvo Norvane Engine is not installed\n");
        EXPECT_EQ(status, 1) << option;
    }
    EXPECT_EQ(RunSwitch(service, "-i", status), "Urvo Norvane Engine installed\n");
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(KeyExists(kEventSourcePath));
    HKEY source = Open(kEventSourcePath);
    std::string data;
    DWORD type = 0;
    ASSERT_EQ(RegQueryValueEx(source, "EventMessageFile", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_EXPAND_SZ);
    EXPECT_EQ(data, ProgramPath() + '\0');
    ASSERT_EQ(RegQueryValueEx(source, "TypesSupported", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(data, std::string("\x07\0\0\0", 4));
    RegCloseKey(source);
    EXPECT_TRUE(Contains(Events(), "The NorvaneEngine service was installed successfully."));

    EXPECT_EQ(RunSwitch(service, "-i", status), "Urvo Norvane Engine is already installed\n");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(RunSwitch(service, "-v", status),
              "Urvo Norvane Engine Version 2.0e\nThe service is installed\n");
    EXPECT_EQ(RunSwitch(service, "-stop", status), "Urvo Norvane Engine service stopped\n");
    EXPECT_EQ(status, 0);  // not running counts as stopped
    for (const char* option : {"-V", "-install", "", "--v"}) {
        EXPECT_EQ(RunSwitch(service, option, status),
                  "Invalid parameter - valid parameters are (case sensitive)\n-i\tInstall service\n"
                  "-u\tUninstall service\n-start\tStart service\n-stop\tStop service\n-clean\tStop "
                  "service, uninstall, and remove registry entries\n-v\tQuery service version "
                  "number\n");
        EXPECT_EQ(status, 2) << option;
    }

    EXPECT_EQ(RunSwitch(service, "-u", status),
              "Urvo Norvane Engine removed. (You must delete the file (" + ProgramPath() +
                  ") yourself.)\n");
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(KeyExists(kEventSourcePath));  // -u removes what -i made
    EXPECT_TRUE(Contains(Events(), "The NorvaneEngine service was removed successfully."));
}

TEST_F(EngineServiceTest, AHalfDoneInstallSaysSoAndUninstallStillWorks) {
    NoEventSourceService service(m_engine);
    int status = -1;
    EXPECT_EQ(RunSwitch(service, "-i", status),
              "Urvo Norvane Engine installed, but its event source could not be registered. "
              "Error 5\n");
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(service.InstalledWithoutEventSource());
    EXPECT_EQ(RunSwitch(service, "-v", status),
              "Urvo Norvane Engine Version 2.0e\nThe service is installed\n");
    EXPECT_EQ(RunSwitch(service, "-u", status).rfind("Urvo Norvane Engine removed.", 0), 0u);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(RunSwitch(service, "-v", status),
              "Urvo Norvane Engine Version 2.0e\nThe service is not installed\n");
}

TEST_F(EngineServiceTest, CleanRemovesTheServiceAndTheProductKeyOnly) {
    CNorvaneEngineService service(m_engine);
    SetRegistryRoot("Urvo Software", "Norvane 2");
    ASSERT_TRUE(RegWriteDWORD("Settings", "Marker", 1));
    ASSERT_TRUE(RegWriteDWORD("Services\\Web", "Port", 8080));
    ASSERT_TRUE(KeyExists(kProductPath));

    int status = -1;
    EXPECT_EQ(RunSwitch(service, "-clean", status), "Urvo Norvane Engine is not installed\n");
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(KeyExists(kProductPath));  // not installed: the configuration stays

    RunSwitch(service, "-i", status);
    EXPECT_EQ(RunSwitch(service, "-clean", status), "");
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(KeyExists(kProductPath));
    EXPECT_TRUE(KeyExists("SOFTWARE\\Urvo Software"));
    EXPECT_FALSE(KeyExists(kEventSourcePath));
    EXPECT_FALSE(service.IsInstalled());
}
