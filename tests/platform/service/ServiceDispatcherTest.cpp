#include "platform/kernel/Clock.h"
#include "platform/service/ControlEndpoint.h"
#include "platform/service/ServiceDispatcher.h"
#include "support/ServiceChannels.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kName = "DispatchTest";

// The service run by the dispatcher in these tests; plain functions reach it through here.
struct TestService {
    std::mutex mutex;
    std::condition_variable cv;
    SERVICE_STATUS_HANDLE handle = 0;
    std::vector<DWORD> controls;
    std::vector<std::thread::id> handlerThreads;
    bool stopRequested = false;
    bool reportStopped = true;
    DWORD startDelayMs = 0;
    DWORD stopDelayMs = 0;
    DWORD accepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    std::atomic<bool> stopHandlerReturned{false};
};
TestService* g_service = nullptr;

void Report(DWORD state) {
    SERVICE_STATUS status;
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = g_service->accepted;
    SetServiceStatus(g_service->handle, &status);
}

void TestHandler(DWORD control) {
    {
        std::lock_guard<std::mutex> lock(g_service->mutex);
        g_service->controls.push_back(control);
        g_service->handlerThreads.push_back(std::this_thread::get_id());
    }
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        Sleep(g_service->stopDelayMs);
        Report(SERVICE_STOP_PENDING);
        std::lock_guard<std::mutex> lock(g_service->mutex);
        g_service->stopRequested = true;
        g_service->stopHandlerReturned = true;
        g_service->cv.notify_all();
    } else {
        Report(SERVICE_RUNNING);
    }
}

void TestMain(DWORD argc, char** argv) {
    ASSERT_EQ(argc, 1u);
    ASSERT_STREQ(argv[0], kName);
    g_service->handle = RegisterServiceCtrlHandler("dispatchtest", TestHandler);
    if (g_service->handle == 0)
        return;
    Sleep(g_service->startDelayMs);
    Report(SERVICE_RUNNING);
    std::unique_lock<std::mutex> lock(g_service->mutex);
    g_service->cv.wait(lock, [] { return g_service->stopRequested; });
    lock.unlock();
    if (g_service->reportStopped)
        Report(SERVICE_STOPPED);
}

const SERVICE_TABLE_ENTRY kTable[] = {{"Other", TestMain}, {kName, TestMain}, {nullptr, nullptr}};

class ServiceDispatcher : public ::testing::Test {
protected:
    void SetUp() override { g_service = &m_service; }
    void TearDown() override {
        if (m_dispatch.joinable())
            m_dispatch.join();
        g_service = nullptr;
    }

    // Starts the dispatcher on its own thread (the "main thread" of these tests).
    void StartDispatch() {
        ASSERT_TRUE(m_channels.Ready());
        m_dispatch = std::thread([this] {
            m_dispatchThread = std::this_thread::get_id();
            m_result = StartServiceCtrlDispatcher(kTable);
            m_dispatchReturned = true;
        });
        ASSERT_EQ(m_channels.WaitConnected(), static_cast<DWORD>(getpid()));
    }

    DWORD Control(DWORD control) {
        auto reply = SendServiceRequest(kName, ControlProtocol::kOpControl, control);
        return reply ? reply->error : 0xFFFFFFFF;
    }

    TempStateDir m_state;
    TestService m_service;
    CHandedChannels m_channels{kName};
    std::thread m_dispatch;
    std::thread::id m_dispatchThread;
    std::atomic<BOOL> m_result{FALSE};
    std::atomic<bool> m_dispatchReturned{false};
};

}  // namespace

TEST(ServiceDispatcherJudge, ControlsFollowTheManagersRules) {
    SERVICE_STATUS status;
    status.dwCurrentState = SERVICE_RUNNING;
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    EXPECT_EQ(JudgeServiceControl(SERVICE_CONTROL_STOP, status), ERROR_SUCCESS);
    EXPECT_EQ(JudgeServiceControl(SERVICE_CONTROL_PAUSE, status), ERROR_INVALID_SERVICE_CONTROL);
    EXPECT_EQ(JudgeServiceControl(SERVICE_CONTROL_CONTINUE, status), ERROR_INVALID_SERVICE_CONTROL);
    EXPECT_EQ(JudgeServiceControl(SERVICE_CONTROL_SHUTDOWN, status), ERROR_INVALID_SERVICE_CONTROL);
    EXPECT_EQ(JudgeServiceControl(SERVICE_CONTROL_PARAMCHANGE, status),
              ERROR_INVALID_SERVICE_CONTROL);
    EXPECT_EQ(JudgeServiceControl(SERVICE_CONTROL_INTERROGATE, status), ERROR_SUCCESS);
    EXPECT_EQ(JudgeServiceControl(11, status), ERROR_SUCCESS);
    EXPECT_EQ(JudgeServiceControl(128, status), ERROR_SUCCESS);
    EXPECT_EQ(JudgeServiceControl(255, status), ERROR_SUCCESS);
    EXPECT_EQ(JudgeServiceControl(0, status), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(JudgeServiceControl(256, status), ERROR_INVALID_PARAMETER);
    status.dwControlsAccepted = SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
    EXPECT_EQ(JudgeServiceControl(SERVICE_CONTROL_PAUSE, status), ERROR_SUCCESS);
    EXPECT_EQ(JudgeServiceControl(SERVICE_CONTROL_SHUTDOWN, status), ERROR_SUCCESS);
    EXPECT_EQ(JudgeServiceControl(SERVICE_CONTROL_STOP, status), ERROR_INVALID_SERVICE_CONTROL);
    status.dwCurrentState = SERVICE_START_PENDING;
    EXPECT_EQ(JudgeServiceControl(SERVICE_CONTROL_SHUTDOWN, status), ERROR_IO_PENDING);
    status.dwCurrentState = SERVICE_STOP_PENDING;
    EXPECT_EQ(JudgeServiceControl(SERVICE_CONTROL_SHUTDOWN, status),
              ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    status.dwCurrentState = SERVICE_STOPPED;
    EXPECT_EQ(JudgeServiceControl(SERVICE_CONTROL_INTERROGATE, status), ERROR_SERVICE_NOT_ACTIVE);
}

TEST(ServiceDispatcherStart, AProgramNotStartedByTheManagerIsRefused) {
    TempStateDir state;
    unsetenv(ControlProtocol::kEnvServiceName);
    EXPECT_FALSE(StartServiceCtrlDispatcher(kTable));
    EXPECT_EQ(GetLastError(), ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    EXPECT_EQ(RegisterServiceCtrlHandler(kName, TestHandler), 0u);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    SERVICE_STATUS status;
    EXPECT_FALSE(SetServiceStatus(1, &status));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(ServiceDispatcherStart, HandedDescriptorsMustBeTheManagersChannels) {
    TempStateDir state;
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    auto attempt = [](int endpoint, int start, const char* name) {
        setenv(ControlProtocol::kEnvServiceName, name, 1);
        setenv(ControlProtocol::kEnvEndpointFd, std::to_string(endpoint).c_str(), 1);
        setenv(ControlProtocol::kEnvStartFd, std::to_string(start).c_str(), 1);
        BOOL result = StartServiceCtrlDispatcher(kTable);
        EXPECT_EQ(std::getenv(ControlProtocol::kEnvEndpointFd), nullptr);  // always consumed
        return result == FALSE && GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT;
    };
    EXPECT_TRUE(attempt(pipeFds[0], pair[0], kName));  // not a socket
    EXPECT_TRUE(attempt(pair[1], pair[0], kName));     // not a listening socket
    EXPECT_TRUE(attempt(pair[0], pair[0], kName));     // the same descriptor twice
    setenv(ControlProtocol::kEnvEndpointFd, "3x", 1);
    setenv(ControlProtocol::kEnvStartFd, "4", 1);
    setenv(ControlProtocol::kEnvServiceName, kName, 1);
    EXPECT_FALSE(StartServiceCtrlDispatcher(kTable));
    // Descriptors refused are left alone.
    EXPECT_EQ(fcntl(pipeFds[0], F_GETFD), 0);
    for (int fd : {pipeFds[0], pipeFds[1], pair[0], pair[1]})
        close(fd);
}

TEST_F(ServiceDispatcher, AServiceNotInTheTableIsRefused) {
    setenv(ControlProtocol::kEnvServiceName, "Missing", 1);
    EXPECT_FALSE(StartServiceCtrlDispatcher(kTable));
    EXPECT_EQ(GetLastError(), ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
}

TEST_F(ServiceDispatcher, ControlsReachTheHandlerOnTheDispatchingThread) {
    m_service.stopDelayMs = 300;
    StartDispatch();
    ASSERT_TRUE(WaitForServiceState(kName, SERVICE_RUNNING));

    EXPECT_EQ(Control(200), ERROR_SUCCESS);
    EXPECT_EQ(Control(SERVICE_CONTROL_INTERROGATE), ERROR_SUCCESS);
    EXPECT_EQ(Control(SERVICE_CONTROL_PAUSE), ERROR_INVALID_SERVICE_CONTROL);
    EXPECT_EQ(Control(0), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Control(300), ERROR_INVALID_PARAMETER);
    auto bad = SendServiceRequest(kName, 9, 0);
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->error, ERROR_INVALID_PARAMETER);

    // The stop's answer comes only once the handler has returned.
    auto reply = SendServiceRequest(kName, ControlProtocol::kOpControl, SERVICE_CONTROL_STOP);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->error, ERROR_SUCCESS);
    EXPECT_TRUE(m_service.stopHandlerReturned);
    EXPECT_NE(reply->status.dwCurrentState, SERVICE_RUNNING);

    m_dispatch.join();
    EXPECT_TRUE(m_result);
    std::lock_guard<std::mutex> lock(m_service.mutex);
    EXPECT_EQ(m_service.controls,
              (std::vector<DWORD>{200, SERVICE_CONTROL_INTERROGATE, SERVICE_CONTROL_STOP}));
    for (auto id : m_service.handlerThreads)
        EXPECT_EQ(id, m_dispatchThread);
    // The endpoint went with the dispatcher.
    EXPECT_FALSE(EndpointIdentityOf(ServiceEndpointPath(kName)).valid);
    EXPECT_FALSE(SendServiceRequest(kName, ControlProtocol::kOpQueryStatus, 0));
}

TEST_F(ServiceDispatcher, AControlDuringTheStartWaitsForIt) {
    m_service.startDelayMs = 500;
    StartDispatch();
    const std::uint64_t sent = GetTickCount64();
    EXPECT_EQ(Control(SERVICE_CONTROL_STOP), ERROR_SUCCESS);
    EXPECT_GE(GetTickCount64() - sent, 300u);
    m_dispatch.join();
    EXPECT_EQ(m_service.controls, std::vector<DWORD>{SERVICE_CONTROL_STOP});
}

TEST_F(ServiceDispatcher, SigtermArrivesAsTheShutdownControl) {
    StartDispatch();
    ASSERT_TRUE(WaitForServiceState(kName, SERVICE_RUNNING));
    raise(SIGTERM);
    m_dispatch.join();
    EXPECT_TRUE(m_result);
    EXPECT_EQ(m_service.controls, std::vector<DWORD>{SERVICE_CONTROL_SHUTDOWN});
}

TEST_F(ServiceDispatcher, SigtermIsAStopForAServiceThatTakesNoShutdown) {
    m_service.accepted = SERVICE_ACCEPT_STOP;
    StartDispatch();
    ASSERT_TRUE(WaitForServiceState(kName, SERVICE_RUNNING));
    raise(SIGTERM);
    m_dispatch.join();
    EXPECT_EQ(m_service.controls, std::vector<DWORD>{SERVICE_CONTROL_STOP});
}

TEST_F(ServiceDispatcher, AMainFunctionThatEndsWithoutStoppedEndsTheDispatch) {
    m_service.reportStopped = false;
    StartDispatch();
    ASSERT_TRUE(WaitForServiceState(kName, SERVICE_RUNNING));
    EXPECT_EQ(Control(SERVICE_CONTROL_STOP), ERROR_SUCCESS);
    m_dispatch.join();
    EXPECT_TRUE(m_result);
}

TEST_F(ServiceDispatcher, AControllerOfAnotherUserIsRefused) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    StartDispatch();
    ASSERT_TRUE(WaitForServiceState(kName, SERVICE_RUNNING));
    // Open the way to the endpoint so that only the credential check stands.
    const std::string path = ServiceEndpointPath(kName);
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    for (std::string dir = ServiceRunDirectory(); dir.size() >= m_state.Path().size();
         dir = dir.substr(0, dir.rfind('/')))
        ASSERT_EQ(chmod(dir.c_str(), 0711), 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.c_str(), path.size());
    auto request = ControlProtocol::EncodeRequest({ControlProtocol::kOpControl, 1});

    pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(10);
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            _exit(11);
        // The refusal may come before the request is sent, so a failed send is no failure.
        ssize_t sent = send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        (void)sent;
        BYTE reply[ControlProtocol::kReplySize];
        std::size_t got = 0;
        while (got < sizeof reply) {
            ssize_t n = read(fd, reply + got, sizeof reply - got);
            if (n <= 0)
                _exit(13);
            got += static_cast<std::size_t>(n);
        }
        _exit(reply[4] == ERROR_ACCESS_DENIED && reply[5] == 0 ? 0 : 14);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10 setuid, 11 connect, 13 read, 14 reply";
    EXPECT_TRUE(m_service.controls.empty());
    EXPECT_EQ(Control(SERVICE_CONTROL_STOP), ERROR_SUCCESS);
}
