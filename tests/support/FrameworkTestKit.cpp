#include "support/FrameworkTestKit.h"

#include "engine/LogFile.h"
#include "engine/access/Recipient.h"
#include "engine/access/Right.h"
#include "engine/framework/Service.h"
#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"
#include "foundation/X1SocketNotifyWindow.h"
#include "platform/kernel/Clock.h"
#include "support/TimeScale.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <sstream>

void RecordingConsole::QueueMessage(WORD op, const std::string& text1, const std::string& text2,
                                    const std::string& text3) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.push_back(std::to_string(op) + "|" + text1 + "|" + text2 + "|" + text3);
}

std::vector<std::string> RecordingConsole::Messages() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

std::vector<std::string> RecordingConsole::Messages(WORD op) const {
    const std::string prefix = std::to_string(op) + "|";
    std::vector<std::string> picked;
    for (const std::string& message : Messages())
        if (message.rfind(prefix, 0) == 0)
            picked.push_back(message);
    return picked;
}

void RecordingConsole::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.clear();
}

std::atomic<std::uint64_t> FakeClock::s_now{1000000};

FakeClock::FakeClock() { CSession::SetTickSource(&FakeClock::Now); }
FakeClock::~FakeClock() { CSession::SetTickSource(nullptr); }
void FakeClock::Advance(std::uint64_t ms) { s_now += ms; }
std::uint64_t FakeClock::Now() { return s_now.load(); }

CCountingSession::CCountingSession(std::string address, BOOL remoteSide) {
    SetClientAddress(address, 40000);
    SetHasRemoteSide(remoteSide);
}

void CCountingSession::EndSession(int code) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_endCodes.push_back(code);
    }
    CSession::EndSession(code);
}

std::vector<int> CCountingSession::EndCodes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_endCodes;
}

void FrameworkTest::SetUp() {
    SetRegistryRoot("Urvo Software", "Norvane 2");
    ASSERT_TRUE(RegWriteString("Settings", "LogFileDirectory", m_logs.Path()));
    ASSERT_TRUE(RegWriteString("Settings", "AuditDirectory", m_logs.Path() + "/audit"));
    m_engine = MakeEngine();
    CNorvaneEngine::SetInstance(m_engine.get());
    ASSERT_TRUE(m_engine->GetLogManager().Start());
    m_engine->RegisterConsole(&m_console);
}

void FrameworkTest::TearDown() {
    m_engine->UnregisterConsole(&m_console);
    m_engine->ShutDown(FALSE);
    // Threads the test stopped without waiting (services, sessions) end before the engine goes.
    EXPECT_EQ(m_engine->WaitForThreads(10000), 0u);
    m_engine.reset();
    CNorvaneEngine::SetInstance(nullptr);
}

CUser& FrameworkTest::AddUser(const std::string& name, const std::string& password) {
    auto* user = new CUser(name, name, password, "");
    EXPECT_TRUE(m_engine->GetUserDatabase().AddEntry(user));
    return *user;
}

std::size_t FrameworkTest::MachineCount() const {
    CScopedLock lock(m_engine->GetMachineMap());
    return m_engine->GetMachineMap().GetCount();
}

std::vector<std::string> FrameworkTest::LogLines(const std::string& name) const {
    return LinesOf(m_logs.Path(), name);
}

std::vector<std::string> FrameworkTest::AuditLines(const std::string& name) const {
    return LinesOf(m_logs.Path() + "/audit", name);
}

std::vector<std::string> FrameworkTest::LinesOf(const std::string& folder, const std::string& name) const {
    static std::atomic<int> markers{0};
    const std::string marker = "#marker " + std::to_string(++markers);
    CLogFileRef file = CLogFile::Open(folder, name);
    std::vector<std::string> lines;
    if (!file || !m_engine->GetLogManager().PostLogEntry(file, marker + "\r\n"))
        return lines;
    const std::string path = folder + "/" + name + ".log";
    for (const std::uint64_t deadline = GetTickCount64() + ScaledMs(5000); GetTickCount64() < deadline;) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        if (text.str().find(marker) != std::string::npos) {
            std::string line;
            std::istringstream split(text.str());
            while (std::getline(split, line)) {
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                if (line.rfind("#marker ", 0) != 0)
                    lines.push_back(line);
            }
            return lines;
        }
        Sleep(10);
    }
    ADD_FAILURE() << "the log thread did not write " << path;
    return lines;
}

bool WaitFor(const std::function<bool()>& ready, int timeoutMs) {
    for (const std::uint64_t deadline = GetTickCount64() + ScaledMs(timeoutMs); GetTickCount64() < deadline;) {
        if (ready())
            return true;
        Sleep(5);
    }
    return ready();
}

namespace {

bool CanBind(int type, std::uint16_t port) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

int EphemeralFloor() {
    std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
    int low = 0;
    return range >> low && low > 12000 ? low : 32768;
}

}  // namespace

std::uint16_t FreeTcpPort() {
    // Below the kernel's ephemeral range, so that no outgoing connection of a busy machine
    // takes the port between this probe and the service's bind; free for UDP too, as tests
    // use these ports for datagram services as well.
    static std::mutex mutex;
    static std::mt19937 random(std::random_device{}());
    static std::set<std::uint16_t> handed;
    std::lock_guard<std::mutex> lock(mutex);
    std::uniform_int_distribution<int> pick(10000, EphemeralFloor() - 1);
    for (int attempt = 0; attempt < 500; ++attempt) {
        const auto port = static_cast<std::uint16_t>(pick(random));
        if (!handed.count(port) && CanBind(SOCK_STREAM, port) && CanBind(SOCK_DGRAM, port)) {
            handed.insert(port);
            return port;
        }
    }
    throw std::runtime_error("no free test port");
}

RawPeer ConnectFrom(const std::string& source, std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, source.c_str(), &local.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        throw std::runtime_error("test peer could not bind " + source);
    }
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    remote.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        ::close(fd);
        throw std::runtime_error("test peer could not connect");
    }
    return RawPeer(fd);
}

void AllowEveryone(CService& service) {
    CRight& right = service.GetAccessRights();
    right.RemoveAll();
    right.SetIncludeDefaultRights(0);
    right.AddRecipient(new CRecipient);  // "Everyone", unrestricted
    // The decision admits only enabled user accounts: the sessions of unknown hosts run as Guest.
    CGroupMemberDatabase& users = CNorvaneEngine::Instance().GetUserDatabase();
    if (users.FindUserAccount("Guest") == nullptr)
        users.AddEntry(new CUser("Guest", "Guest", "", ""));
}

void DenyEveryone(CService& service) {
    CRight& right = service.GetAccessRights();
    right.RemoveAll();
    right.SetIncludeDefaultRights(0);
}

CallbackThread::CallbackThread() {
    EXPECT_TRUE(CreateThread());
    // The registration is made by the thread; wait for it.
    EXPECT_TRUE(WaitFor([&] { return X1SocketNotifyWindow::Instance().GetCallbackThread() == ThreadId(); }));
}

CallbackThread::~CallbackThread() {
    PostThreadMessage(WM_QUIT, 0, 0);
    WaitForExit();
}

bool CallbackThread::InitInstance() {
    X1SocketNotifyWindow::Instance().SetCallbackThread(ThreadId());
    return true;
}

int CallbackThread::ExitInstance() {
    X1SocketNotifyWindow::Instance().SetCallbackThread(0);
    return 0;
}

std::string WithoutTime(const std::string& line) {
    static constexpr char kShape[] = "00/00/00 00:00:00\t";
    const std::size_t length = sizeof kShape - 1;
    bool stamped = line.size() >= length;
    for (std::size_t i = 0; stamped && i < length; ++i) {
        const char c = line[i];
        stamped = kShape[i] == '0' ? (c >= '0' && c <= '9') : c == kShape[i];
    }
    return stamped ? line.substr(length) : "NO TIME STAMP: " + line;
}

std::vector<std::string> WithoutTimes(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& line : lines)
        out.push_back(WithoutTime(line));
    return out;
}
