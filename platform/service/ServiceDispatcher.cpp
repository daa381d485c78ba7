#include "platform/service/ServiceDispatcher.h"

#include "platform/kernel/Clock.h"
#include "platform/service/ControlEndpoint.h"
#include "platform/service/ControlProtocol.h"
#include "platform/service/ServiceRecords.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <list>
#include <memory>
#include <mutex>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr DWORD kHoldLimitMs = 30000;      // a control waits this long for a start to finish
constexpr DWORD kRequestReadLimitMs = 5000;  // a controller has this long to send its request
constexpr DWORD kMainEndWaitMs = 30000;    // after STOPPED, the main function has this long
constexpr std::size_t kMaxConnections = 64;

// The write end of the SIGTERM self-pipe, read by the signal handler.
std::atomic<int> g_signalWrite{-1};

void OnTerminateSignal(int) {
    int saved = errno;
    int fd = g_signalWrite.load();
    if (fd >= 0) {
        char byte = 1;
        ssize_t ignored = write(fd, &byte, 1);
        (void)ignored;
    }
    errno = saved;
}

// Connections whose stop was accepted: kept open, unread, until the process ends, so their
// controllers learn of the end by end of stream. Never closed, never freed.
std::vector<int>& ParkedConnections() {
    static auto* parked = new std::vector<int>;
    return *parked;
}

bool GetIntVariable(const char* name, int& value) {
    const char* text = std::getenv(name);
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < 0 || parsed > 1 << 20)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

bool IsUnixSocket(int fd, bool listening) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode))
        return false;
    int domain = 0, accepting = 0;
    socklen_t size = sizeof domain;
    if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) != 0 || domain != AF_UNIX)
        return false;
    size = sizeof accepting;
    if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &size) != 0)
        return false;
    return (accepting != 0) == listening;
}

struct PendingControl {
    std::uint64_t connection = 0;  // 0: from a signal, nobody to answer
    DWORD control = 0;
    bool fromSignal = false;
    std::uint64_t since = 0;
};

struct ControlResult {
    std::uint64_t connection = 0;
    DWORD error = 0;
    SERVICE_STATUS status;
    bool park = false;
};

class CDispatcher : public std::enable_shared_from_this<CDispatcher> {
public:
    CDispatcher(std::string name, LPSERVICE_MAIN_FUNCTION main, SERVICE_STATUS_HANDLE handle)
        : m_name(std::move(name)), m_main(main), m_handle(handle) {
        m_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        m_status.dwCurrentState = SERVICE_START_PENDING;
    }

    const std::string& Name() const { return m_name; }
    SERVICE_STATUS_HANDLE Handle() const { return m_handle; }

    // Runs the whole dispatch on the calling thread; false (error set) before the service's
    // main function was started.
    bool Dispatch(CUniqueFd listener, CUniqueFd startChannel);

    void RegisterHandler(LPHANDLER_FUNCTION handler) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_handler = handler;
        m_cv.notify_all();
    }

    void ReportStatus(const SERVICE_STATUS& status) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_status = status;
        if (status.dwCurrentState == SERVICE_STOPPED)
            m_stopped = true;
        m_cv.notify_all();
    }

private:
    void ServeEndpoint();
    void RunControls(std::unique_lock<std::mutex>& lock);
    void PostResult(const PendingControl& control, DWORD error, bool park);
    void Wake();

    const std::string m_name;
    const LPSERVICE_MAIN_FUNCTION m_main;
    const SERVICE_STATUS_HANDLE m_handle;

    std::mutex m_mutex;
    std::condition_variable m_cv;
    LPHANDLER_FUNCTION m_handler = nullptr;
    SERVICE_STATUS m_status;
    bool m_stopped = false;
    bool m_mainReturned = false;
    bool m_quit = false;
    std::list<PendingControl> m_pending;
    std::deque<ControlResult> m_results;

    CUniqueFd m_listener;
    CUniqueFd m_wake;  // eventfd: results or quit for the endpoint thread
    int m_signalRead = -1;
    std::vector<std::string> m_argStorage;
    std::vector<char*> m_argv;
};

// The dispatcher of this process, if one runs, and the counter that makes handles unique.
std::mutex g_currentMutex;
std::shared_ptr<CDispatcher> g_current;
SERVICE_STATUS_HANDLE g_nextHandle = 1;

std::shared_ptr<CDispatcher> CurrentDispatcher() {
    std::lock_guard<std::mutex> lock(g_currentMutex);
    return g_current;
}

void CDispatcher::Wake() {
    std::uint64_t one = 1;
    ssize_t ignored = write(m_wake.Get(), &one, sizeof one);
    (void)ignored;
}

void CDispatcher::PostResult(const PendingControl& control, DWORD error, bool park) {
    if (control.connection == 0)
        return;
    m_results.push_back({control.connection, error, m_status, park});
    Wake();
}

bool CDispatcher::Dispatch(CUniqueFd listener, CUniqueFd startChannel) {
    m_listener = std::move(listener);
    m_wake.Reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    int signalPipe[2];
    if (!m_wake.IsValid() || pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        SetLastError(ERROR_OUTOFMEMORY);
        return false;
    }
    m_signalRead = signalPipe[0];
    g_signalWrite = signalPipe[1];
    struct sigaction action{}, previous{};
    action.sa_handler = OnTerminateSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, &previous);

    const std::string endpointPath = ServiceEndpointPath(m_name);
    const EndpointIdentity endpointIdentity = EndpointIdentityOf(endpointPath);

    m_argStorage = {m_name};
    m_argv = {m_argStorage[0].data(), nullptr};

    std::thread endpointThread;
    std::thread serviceThread;
    bool started = false;
    try {
        endpointThread = std::thread(&CDispatcher::ServeEndpoint, this);
        auto self = shared_from_this();
        serviceThread = std::thread([self] {
            self->m_main(1, self->m_argv.data());
            std::lock_guard<std::mutex> lock(self->m_mutex);
            self->m_mainReturned = true;
            self->m_cv.notify_all();
        });
        started = true;
    } catch (const std::system_error&) {
        SetLastError(ERROR_SERVICE_NO_THREAD);
    }

    if (started) {
        auto message = ControlProtocol::EncodeStartMessage(
            {ControlProtocol::kStartConnected, static_cast<DWORD>(getpid())});
        SendAll(startChannel.Get(), message.data(), message.size(), 5000);
    }
    startChannel.Reset();

    std::unique_lock<std::mutex> lock(m_mutex);
    if (started) {
        RunControls(lock);
        // The service said it stopped (or its main function ended): give the main function the
        // time to finish its tail before the process goes on to exit.
        m_cv.wait_for(lock, std::chrono::milliseconds(kMainEndWaitMs),
                      [this] { return m_mainReturned; });
        if (!m_stopped) {
            m_status.dwCurrentState = SERVICE_STOPPED;
            m_stopped = true;
        }
    }
    for (const PendingControl& control : m_pending)
        PostResult(control, ERROR_SERVICE_NOT_ACTIVE, false);
    m_pending.clear();
    const bool mainEnded = m_mainReturned;
    m_quit = true;
    Wake();
    lock.unlock();

    if (endpointThread.joinable())
        endpointThread.join();
    if (serviceThread.joinable()) {
        if (mainEnded)
            serviceThread.join();
        else
            serviceThread.detach();  // it holds its own reference to this object
    }
    m_listener.Reset();
    RemoveEndpoint(endpointPath, endpointIdentity);

    sigaction(SIGTERM, &previous, nullptr);
    close(g_signalWrite.exchange(-1));
    close(m_signalRead);
    m_signalRead = -1;

    if (started)
        ServiceRecords::RemoveIfMarked(m_name);
    return started;
}

void CDispatcher::RunControls(std::unique_lock<std::mutex>& lock) {
    while (!m_stopped && !m_mainReturned) {
        const std::uint64_t now = GetTickCount64();
        std::uint64_t nextExpiry = UINT64_MAX;
        bool delivered = false;
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            DWORD control = it->control;
            if (it->fromSignal)
                control = (m_status.dwControlsAccepted & SERVICE_ACCEPT_SHUTDOWN)
                              ? SERVICE_CONTROL_SHUTDOWN
                              : SERVICE_CONTROL_STOP;
            DWORD verdict = m_handler ? JudgeServiceControl(control, m_status) : ERROR_IO_PENDING;
            if (verdict == ERROR_IO_PENDING) {
                std::uint64_t expiry = it->since + kHoldLimitMs;
                if (now < expiry) {
                    nextExpiry = std::min(nextExpiry, expiry);
                    ++it;
                    continue;
                }
                verdict = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
            }
            PendingControl pending = *it;
            it = m_pending.erase(it);
            if (verdict != ERROR_SUCCESS) {
                PostResult(pending, verdict, false);
                continue;
            }
            LPHANDLER_FUNCTION handler = m_handler;
            lock.unlock();
            try {
                handler(control);
            } catch (...) {
                // A handler that throws has still handled the control; the dispatcher goes on.
            }
            lock.lock();
            PostResult(pending, ERROR_SUCCESS,
                       control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN);
            delivered = true;
            break;  // the handler may have changed the status: judge the rest afresh
        }
        if (delivered)
            continue;
        if (nextExpiry == UINT64_MAX)
            m_cv.wait(lock);
        else
            m_cv.wait_for(lock, std::chrono::milliseconds(nextExpiry - now));
    }
}

void CDispatcher::ServeEndpoint() {
    struct Connection {
        std::uint64_t id;
        CUniqueFd fd;
        BYTE request[ControlProtocol::kRequestSize];
        std::size_t got = 0;
        std::uint64_t deadline;
        bool waiting = false;
    };
    std::list<Connection> connections;
    std::uint64_t nextId = 1;

    auto reply = [](int fd, DWORD error, const SERVICE_STATUS& status) {
        auto bytes = ControlProtocol::EncodeReply({error, status});
        SendAll(fd, bytes.data(), bytes.size(), 1000);
    };
    auto snapshot = [this] {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_status;
    };

    for (;;) {
        std::vector<pollfd> fds = {{m_wake.Get(), POLLIN, 0},
                                   {m_signalRead, POLLIN, 0},
                                   {m_listener.Get(), POLLIN, 0}};
        std::vector<Connection*> polled;
        std::uint64_t nextDeadline = UINT64_MAX;
        for (Connection& c : connections) {
            if (c.waiting)
                continue;  // nothing to read until the answer; a hang-up is met when answering
            fds.push_back({c.fd.Get(), POLLIN, 0});
            polled.push_back(&c);
            nextDeadline = std::min(nextDeadline, c.deadline);
        }
        std::uint64_t now = GetTickCount64();
        int timeout = nextDeadline == UINT64_MAX
                          ? -1
                          : static_cast<int>(nextDeadline > now ? nextDeadline - now : 0);
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR)
            break;

        if (fds[0].revents) {
            std::uint64_t count;
            ssize_t ignored = read(m_wake.Get(), &count, sizeof count);
            (void)ignored;
            std::deque<ControlResult> results;
            bool quit;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                results.swap(m_results);
                quit = m_quit;
            }
            for (const ControlResult& result : results) {
                auto it = std::find_if(connections.begin(), connections.end(),
                                       [&](const Connection& c) { return c.id == result.connection; });
                if (it == connections.end())
                    continue;
                reply(it->fd.Get(), result.error, result.status);
                if (result.park && result.error == ERROR_SUCCESS)
                    ParkedConnections().push_back(it->fd.Release());
                connections.erase(it);
            }
            if (quit)
                break;
        }
        if (fds[1].revents) {
            char drain[64];
            while (read(m_signalRead, drain, sizeof drain) > 0) {
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            bool queued = std::any_of(m_pending.begin(), m_pending.end(),
                                      [](const PendingControl& p) { return p.fromSignal; });
            if (!queued) {
                m_pending.push_back({0, 0, true, GetTickCount64()});
                m_cv.notify_all();
            }
        }
        if (fds[2].revents) {
            for (;;) {
                CUniqueFd accepted(accept4(m_listener.Get(), nullptr, nullptr,
                                           SOCK_CLOEXEC | SOCK_NONBLOCK));
                if (!accepted.IsValid())
                    break;
                if (!PeerMayControl(accepted.Get())) {
                    reply(accepted.Get(), ERROR_ACCESS_DENIED, snapshot());
                    continue;
                }
                if (connections.size() >= kMaxConnections)
                    continue;  // closed unanswered; the controller sees a failed exchange
                Connection c{nextId++, std::move(accepted), {}, 0,
                             GetTickCount64() + kRequestReadLimitMs, false};
                connections.push_back(std::move(c));
            }
        }
        now = GetTickCount64();
        for (std::size_t i = 0; i < polled.size(); ++i) {
            Connection& c = *polled[i];
            if (fds[3 + i].revents) {
                ssize_t n = recv(c.fd.Get(), c.request + c.got, sizeof c.request - c.got, 0);
                if (n <= 0) {
                    if (n == 0 || (errno != EAGAIN && errno != EINTR))
                        c.deadline = 0;  // gone: dropped below
                } else {
                    c.got += static_cast<std::size_t>(n);
                }
            }
            if (c.got == sizeof c.request) {
                auto request = ControlProtocol::DecodeRequest(c.request, c.got);
                if (request && request->op == ControlProtocol::kOpControl) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_pending.push_back({c.id, request->argument, false, now});
                    m_cv.notify_all();
                    c.waiting = true;
                    continue;
                }
                reply(c.fd.Get(),
                      !request ? ERROR_INVALID_DATA
                      : request->op == ControlProtocol::kOpQueryStatus ? ERROR_SUCCESS
                                                                       : ERROR_INVALID_PARAMETER,
                      snapshot());
                c.deadline = 0;
            }
        }
        connections.remove_if([now](const Connection& c) { return !c.waiting && c.deadline <= now; });
    }
}

}  // namespace

DWORD JudgeServiceControl(DWORD control, const SERVICE_STATUS& status) {
    if (control == 0 || control > SERVICE_USER_CONTROL_LAST)
        return ERROR_INVALID_PARAMETER;
    switch (status.dwCurrentState) {
    case SERVICE_START_PENDING:
        return ERROR_IO_PENDING;
    case SERVICE_STOPPED:
        return ERROR_SERVICE_NOT_ACTIVE;
    case SERVICE_STOP_PENDING:
        return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    default:
        break;
    }
    DWORD needed = 0;
    switch (control) {
    case SERVICE_CONTROL_STOP:
        needed = SERVICE_ACCEPT_STOP;
        break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
        needed = SERVICE_ACCEPT_PAUSE_CONTINUE;
        break;
    case SERVICE_CONTROL_SHUTDOWN:
        needed = SERVICE_ACCEPT_SHUTDOWN;
        break;
    case SERVICE_CONTROL_PARAMCHANGE:
        needed = SERVICE_ACCEPT_PARAMCHANGE;
        break;
    default:
        return ERROR_SUCCESS;  // interrogate and the service's own codes always reach it
    }
    return (status.dwControlsAccepted & needed) ? ERROR_SUCCESS : ERROR_INVALID_SERVICE_CONTROL;
}

BOOL StartServiceCtrlDispatcher(const SERVICE_TABLE_ENTRY* table) {
    int endpointFd = -1, startFd = -1;
    const char* nameText = std::getenv(ControlProtocol::kEnvServiceName);
    std::string name = nameText ? nameText : "";
    bool handed = !name.empty() && GetIntVariable(ControlProtocol::kEnvEndpointFd, endpointFd) &&
                  GetIntVariable(ControlProtocol::kEnvStartFd, startFd) &&
                  endpointFd != startFd && endpointFd > 2 && startFd > 2;
    unsetenv(ControlProtocol::kEnvServiceName);
    unsetenv(ControlProtocol::kEnvEndpointFd);
    unsetenv(ControlProtocol::kEnvStartFd);
    // The start channel must be the manager's: a socket pair made by root or by our own user.
    if (!handed || !IsUnixSocket(endpointFd, true) || !IsUnixSocket(startFd, false) ||
        !PeerMayControl(startFd)) {
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return FALSE;
    }
    LPSERVICE_MAIN_FUNCTION main = nullptr;
    for (const SERVICE_TABLE_ENTRY* entry = table; entry && entry->lpServiceName; ++entry)
        if (!main && strcasecmp(entry->lpServiceName, name.c_str()) == 0 && entry->lpServiceProc)
            main = entry->lpServiceProc;
    if (!main) {
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return FALSE;
    }

    std::shared_ptr<CDispatcher> dispatcher;
    {
        std::lock_guard<std::mutex> lock(g_currentMutex);
        if (g_current) {
            SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
            return FALSE;
        }
        dispatcher = std::make_shared<CDispatcher>(name, main, g_nextHandle++);
        g_current = dispatcher;
    }
    fcntl(endpointFd, F_SETFD, FD_CLOEXEC);
    fcntl(endpointFd, F_SETFL, fcntl(endpointFd, F_GETFL) | O_NONBLOCK);
    fcntl(startFd, F_SETFD, FD_CLOEXEC);
    bool ok = dispatcher->Dispatch(CUniqueFd(endpointFd), CUniqueFd(startFd));
    {
        std::lock_guard<std::mutex> lock(g_currentMutex);
        g_current.reset();
    }
    return ok ? TRUE : FALSE;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandler(const char* serviceName,
                                                 LPHANDLER_FUNCTION handler) {
    auto dispatcher = CurrentDispatcher();
    if (!dispatcher || !serviceName || !handler ||
        strcasecmp(serviceName, dispatcher->Name().c_str()) != 0) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return 0;
    }
    dispatcher->RegisterHandler(handler);
    return dispatcher->Handle();
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status) {
    auto dispatcher = CurrentDispatcher();
    if (!dispatcher || handle == 0 || dispatcher->Handle() != handle || !status) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    dispatcher->ReportStatus(*status);
    return TRUE;
}
