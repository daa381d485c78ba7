#include "platform/kernel/Clock.h"
#include "platform/registry/Registry.h"
#include "platform/service/ControlEndpoint.h"
#include "platform/service/ServiceControlManager.h"
#include "support/TempDir.h"
#include "support/SocketTestKit.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr const char* kServicesKey = "SYSTEM\\CurrentControlSet\\Services";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// True when the process has ended (gone, or a zombie nobody has reaped yet).
bool ProcessEnded(pid_t pid) {
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    std::string::size_type paren = stat.rfind(')');
    return stat.empty() || paren == std::string::npos || paren + 2 >= stat.size() ||
           stat[paren + 2] == 'Z' || stat[paren + 2] == 'X';
}

class ServiceControlManager : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("NORVANE_FIXTURE_LOG", LogPath().c_str(), 1);
        setenv("NORVANE_FIXTURE_SERVICE", "Fixture", 1);
        m_manager = OpenSCManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(m_manager, nullptr);
    }

    void TearDown() override {
        // A test that failed half-way may leave its service running.
        pid_t pid = ServicePid();
        if (pid > 0 && !ProcessEnded(pid))
            kill(pid, SIGKILL);
        if (m_manager)
            CloseServiceHandle(m_manager);
        for (const char* name : {"NORVANE_FIXTURE_LOG", "NORVANE_FIXTURE_SERVICE",
                                 "NORVANE_FIXTURE_MODE", "NORVANE_FIXTURE_STOP_DELAY_MS",
                                 "NORVANE_FIXTURE_START_DELAY_MS"})
            unsetenv(name);
    }

    std::string LogPath() const { return m_state.Path() + "/fixture.log"; }
    std::string Log() const { return ReadFile(LogPath()); }

    pid_t ServicePid() const {
        std::string log = Log();
        std::string::size_type at = log.rfind(" pid ");
        return at == std::string::npos ? 0 : static_cast<pid_t>(std::atoi(log.c_str() + at + 5));
    }

    SC_HANDLE Create(const char* name = "Fixture", const char* program = NORVANE_SERVICE_FIXTURE,
                     DWORD startType = SERVICE_DEMAND_START) {
        return CreateService(m_manager, name, "Fixture Display", SERVICE_ALL_ACCESS,
                             SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL, program,
                             nullptr, nullptr, nullptr, nullptr, nullptr);
    }

    DWORD State(SC_HANDLE service) {
        SERVICE_STATUS status;
        return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
    }

    TempStateDir m_state;
    SC_HANDLE m_manager = nullptr;
};

std::string RawValue(const std::string& key, const char* name, DWORD& type) {
    HKEY handle = nullptr;
    std::string data;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, key.c_str(), KEY_READ, &handle) == ERROR_SUCCESS) {
        RegQueryValueEx(handle, name, &type, &data);
        RegCloseKey(handle);
    }
    return data;
}

}  // namespace

TEST_F(ServiceControlManager, RecordsAreCreatedOpenedAndDeleted) {
    CScHandle service(Create());
    ASSERT_TRUE(service);

    const std::string key = std::string(kServicesKey) + "\\Fixture";
    DWORD type = 0;
    EXPECT_EQ(RawValue(key, "Type", type), std::string("\x10\0\0\0", 4));
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(RawValue(key, "Start", type), std::string("\x03\0\0\0", 4));
    EXPECT_EQ(RawValue(key, "ErrorControl", type), std::string("\x01\0\0\0", 4));
    EXPECT_EQ(RawValue(key, "ImagePath", type), std::string(NORVANE_SERVICE_FIXTURE) + '\0');
    EXPECT_EQ(type, REG_EXPAND_SZ);
    EXPECT_EQ(RawValue(key, "DisplayName", type), std::string("Fixture Display") + '\0');
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(RawValue(key, "ObjectName", type), std::string("LocalSystem") + '\0');

    EXPECT_EQ(Create(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_EXISTS);
    EXPECT_EQ(Create("FIXTURE"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_EXISTS);

    CScHandle opened(OpenService(m_manager, "fIXTURE", SERVICE_QUERY_CONFIG));
    ASSERT_TRUE(opened);
    QUERY_SERVICE_CONFIG config;
    ASSERT_TRUE(QueryServiceConfig(opened.Get(), &config));
    EXPECT_EQ(config.dwServiceType, SERVICE_WIN32_OWN_PROCESS);
    EXPECT_EQ(config.dwStartType, SERVICE_DEMAND_START);
    EXPECT_EQ(config.dwErrorControl, SERVICE_ERROR_NORMAL);
    EXPECT_EQ(config.lpBinaryPathName, NORVANE_SERVICE_FIXTURE);
    EXPECT_EQ(config.lpDisplayName, "Fixture Display");
    EXPECT_EQ(config.lpServiceStartName, "LocalSystem");
    EXPECT_EQ(State(service.Get()), SERVICE_STOPPED);

    EXPECT_EQ(OpenService(m_manager, "Nope", SERVICE_QUERY_CONFIG), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);

    EXPECT_TRUE(DeleteService(service.Get()));
    EXPECT_EQ(OpenService(m_manager, "Fixture", SERVICE_QUERY_CONFIG), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_FALSE(DeleteService(service.Get()));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    HKEY gone = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, key.c_str(), KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
}

TEST_F(ServiceControlManager, HandlesAllowOnlyWhatTheyWereOpenedFor) {
    CScHandle created(Create());
    CScHandle readOnly(OpenService(m_manager, "Fixture", SERVICE_QUERY_STATUS));
    ASSERT_TRUE(readOnly);
    SERVICE_STATUS status;
    EXPECT_TRUE(QueryServiceStatus(readOnly.Get(), &status));
    QUERY_SERVICE_CONFIG config;
    EXPECT_FALSE(QueryServiceConfig(readOnly.Get(), &config));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(StartService(readOnly.Get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(ControlService(readOnly.Get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeleteService(readOnly.Get()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    CScHandle generic(OpenService(m_manager, "Fixture", GENERIC_READ));
    EXPECT_TRUE(QueryServiceConfig(generic.Get(), &config));

    CScHandle readManager(OpenSCManager(nullptr, nullptr, GENERIC_READ));
    ASSERT_TRUE(readManager);
    EXPECT_EQ(CreateService(readManager.Get(), "Other", nullptr, SERVICE_ALL_ACCESS,
                            SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                            "/bin/true", nullptr, nullptr, nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    // A service handle is no manager handle, and a closed handle is no handle at all.
    EXPECT_EQ(OpenService(readOnly.Get(), "Fixture", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SC_HANDLE closed = OpenService(m_manager, "Fixture", SERVICE_QUERY_STATUS);
    EXPECT_TRUE(CloseServiceHandle(closed));
    EXPECT_FALSE(CloseServiceHandle(closed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(OpenSCManager("elsewhere", nullptr, GENERIC_READ), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(ServiceControlManager, BadNamesAndSettingsAreRefused) {
    for (const char* name : {"", ".", "..", "a/b", "a\\b", "tab\there"}) {
        EXPECT_EQ(Create(name), nullptr) << name;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME) << name;
    }
    EXPECT_EQ(Create(std::string(257, 'n').c_str()), nullptr);
    EXPECT_EQ(Create("Relative", "bin/true"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Create("Boot", "/bin/true", SERVICE_BOOT_START), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CreateService(m_manager, "Driver", nullptr, SERVICE_ALL_ACCESS,
                            SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                            "/bin/true", nullptr, nullptr, nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    // Nothing of a refused service was left behind.
    EXPECT_EQ(OpenService(m_manager, "Relative", SERVICE_QUERY_CONFIG), nullptr);
}

TEST_F(ServiceControlManager, KeysThatAreNoRecordsAreNoServices) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE,
                             "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\X",
                             KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(OpenService(m_manager, "EventLog", SERVICE_QUERY_CONFIG), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_EQ(Create("EventLog"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_EXISTS);
}

TEST_F(ServiceControlManager, ConfigurationChangesOnlyWhatIsGiven) {
    CScHandle service(Create());
    ASSERT_TRUE(ChangeServiceConfig(service.Get(),
                                    SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS,
                                    SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr, nullptr,
                                    nullptr, nullptr, nullptr, nullptr, nullptr));
    QUERY_SERVICE_CONFIG config;
    ASSERT_TRUE(QueryServiceConfig(service.Get(), &config));
    EXPECT_EQ(config.dwServiceType, 0x110u);
    EXPECT_EQ(config.dwStartType, SERVICE_DEMAND_START);
    EXPECT_EQ(config.lpDisplayName, "Fixture Display");
    ASSERT_TRUE(ChangeServiceConfig(service.Get(), SERVICE_NO_CHANGE, SERVICE_AUTO_START,
                                    SERVICE_ERROR_IGNORE, nullptr, nullptr, nullptr, nullptr,
                                    nullptr, nullptr, "New Display"));
    ASSERT_TRUE(QueryServiceConfig(service.Get(), &config));
    EXPECT_EQ(config.dwServiceType, 0x110u);
    EXPECT_EQ(config.dwStartType, SERVICE_AUTO_START);
    EXPECT_EQ(config.dwErrorControl, SERVICE_ERROR_IGNORE);
    EXPECT_EQ(config.lpDisplayName, "New Display");
    EXPECT_EQ(config.lpBinaryPathName, NORVANE_SERVICE_FIXTURE);
    EXPECT_FALSE(ChangeServiceConfig(service.Get(), SERVICE_NO_CHANGE, 7, SERVICE_NO_CHANGE,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(ServiceControlManager, StartRunsTheProgramDetachedAndStopWaitsForItsEnd) {
    setenv("NORVANE_FIXTURE_STOP_DELAY_MS", "400", 1);
    CScHandle service(Create());
    ASSERT_TRUE(StartService(service.Get(), 0, nullptr)) << GetLastError();
    EXPECT_NE(Log().find("started with 0 arguments, stdin not a terminal"), std::string::npos);
    ASSERT_TRUE(WaitUntil([&] { return ServicePid() > 0; }));
    const pid_t pid = ServicePid();
    ASSERT_GT(pid, 0);
    EXPECT_NE(getsid(pid), getsid(0));  // a session of its own
    ASSERT_TRUE(WaitUntil([&] { return State(service.Get()) == SERVICE_RUNNING; }));

    EXPECT_FALSE(StartService(service.Get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_ALREADY_RUNNING);

    SERVICE_STATUS status;
    EXPECT_TRUE(ControlService(service.Get(), 200, &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
    EXPECT_FALSE(ControlService(service.Get(), SERVICE_CONTROL_SHUTDOWN, &status));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    ASSERT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_NE(Log().find("handler returns"), std::string::npos);
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    EXPECT_TRUE(WaitUntil([&] { return ProcessEnded(pid); }));
    EXPECT_NE(Log().find("dispatcher returned"), std::string::npos);
    EXPECT_FALSE(EndpointIdentityOf(ServiceEndpointPath("Fixture")).valid);
    EXPECT_EQ(State(service.Get()), SERVICE_STOPPED);
    EXPECT_FALSE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);

    // Straight after a stop, a start works.
    ASSERT_TRUE(StartService(service.Get(), 0, nullptr)) << GetLastError();
    EXPECT_TRUE(WaitUntil([&] { return ServicePid() != pid; }));
    ASSERT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
}

TEST_F(ServiceControlManager, SigtermStopsTheServiceThroughItsHandler) {
    CScHandle service(Create());
    ASSERT_TRUE(StartService(service.Get(), 0, nullptr)) << GetLastError();
    ASSERT_TRUE(WaitUntil([&] { return State(service.Get()) == SERVICE_RUNNING; }));
    const pid_t pid = ServicePid();
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    EXPECT_TRUE(WaitUntil([&] { return ProcessEnded(pid); }));
    EXPECT_NE(Log().find("control 5"), std::string::npos);
    EXPECT_NE(Log().find("dispatcher returned"), std::string::npos);
    EXPECT_EQ(State(service.Get()), SERVICE_STOPPED);
}

TEST_F(ServiceControlManager, ARunningServiceIsDeletedWhenItStops) {
    CScHandle service(Create());
    ASSERT_TRUE(StartService(service.Get(), 0, nullptr)) << GetLastError();
    ASSERT_TRUE(DeleteService(service.Get()));
    EXPECT_FALSE(DeleteService(service.Get()));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_EQ(Create(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
    CScHandle again(OpenService(m_manager, "Fixture", SERVICE_ALL_ACCESS));
    ASSERT_TRUE(again);  // still there while it runs
    SERVICE_STATUS status;
    ASSERT_TRUE(ControlService(again.Get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(WaitUntil([&] {
        CScHandle probe(OpenService(m_manager, "Fixture", SERVICE_QUERY_CONFIG));
        return !probe && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    }));
    // A record marked by a service that died without removing it goes at the next look.
    const pid_t first = ServicePid();
    CScHandle recreated(Create());
    ASSERT_TRUE(recreated);
    ASSERT_TRUE(StartService(recreated.Get(), 0, nullptr));
    ASSERT_TRUE(DeleteService(recreated.Get()));
    ASSERT_TRUE(WaitUntil([&] { return ServicePid() != first; }));
    const pid_t pid = ServicePid();
    kill(pid, SIGKILL);
    EXPECT_TRUE(WaitUntil([&] {
        CScHandle probe(OpenService(m_manager, "Fixture", SERVICE_QUERY_CONFIG));
        return !probe && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    }));
}

TEST_F(ServiceControlManager, ProgramsThatCannotRunOrNeverConnectFailTheStart) {
    const std::string missing = m_state.Path() + "/missing";
    const std::string plain = m_state.Path() + "/plain";
    const std::string text = m_state.Path() + "/text";
    std::ofstream(plain) << "data";
    std::ofstream(text) << "not a program\n";
    chmod(text.c_str(), 0700);
    struct Case {
        const char* name;
        std::string program;
        DWORD error;
    };
    for (const Case& c : {Case{"Missing", missing, ERROR_FILE_NOT_FOUND},
                          Case{"Plain", plain, ERROR_ACCESS_DENIED},
                          Case{"Text", text, ERROR_BAD_EXE_FORMAT}}) {
        CScHandle service(Create(c.name, c.program.c_str()));
        ASSERT_TRUE(service);
        EXPECT_FALSE(StartService(service.Get(), 0, nullptr));
        EXPECT_EQ(GetLastError(), c.error) << c.name;
        EXPECT_FALSE(EndpointIdentityOf(ServiceEndpointPath(c.name)).valid) << c.name;
    }
    setenv("NORVANE_FIXTURE_MODE", "exit", 1);
    CScHandle quitter(Create());
    EXPECT_FALSE(StartService(quitter.Get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_REQUEST_TIMEOUT);
    EXPECT_FALSE(EndpointIdentityOf(ServiceEndpointPath("Fixture")).valid);

    CScHandle disabled(Create("Disabled", "/bin/true", SERVICE_DISABLED));
    EXPECT_FALSE(StartService(disabled.Get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DISABLED);
    const char* args[] = {"x"};
    EXPECT_FALSE(StartService(disabled.Get(), 1, args));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(ServiceControlManager, AStaleEndpointIsReplacedAndLongStatePathsWork) {
    // A state folder whose endpoint path is longer than a socket address can hold.
    const std::string deep = m_state.Path() + "/" + std::string(60, 'd') + "/" + std::string(60, 'e');
    setenv("NORVANE_STATE_DIR", deep.c_str(), 1);
    CScHandle manager(OpenSCManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    CScHandle service(CreateService(manager.Get(), "Fixture", nullptr, SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                    SERVICE_ERROR_NORMAL, NORVANE_SERVICE_FIXTURE, nullptr,
                                    nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(service);
    const std::string endpoint = ServiceEndpointPath("Fixture");
    ASSERT_GT(endpoint.size(), sizeof(sockaddr_un::sun_path));

    // Before any start there is not even a run folder: the service simply does not run.
    EXPECT_EQ(State(service.Get()), SERVICE_STOPPED);
    SERVICE_STATUS status;
    EXPECT_FALSE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);

    // Leave a dead socket file where the endpoint goes.
    ASSERT_EQ(PrepareServiceRunDirectory(), ERROR_SUCCESS);
    {
        CUniqueFd listener;
        ASSERT_EQ(ListenEndpoint(endpoint, listener), ERROR_SUCCESS);
    }
    ASSERT_TRUE(EndpointIdentityOf(endpoint).valid);

    ASSERT_TRUE(StartService(service.Get(), 0, nullptr)) << GetLastError();
    ASSERT_TRUE(WaitUntil([&] { return State(service.Get()) == SERVICE_RUNNING; }));
    ASSERT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
}
