#pragma once
// Helpers for the tests of services, sessions and client machines: an engine made the
// process's engine for the test (real user database, locations, machine map, service manager
// and log manager; its pauses are skipped), a console that records the notices the engine
// queues for it, a settable millisecond clock for idle deadlines, sessions whose counters a
// test sets, and readers of the log files.

#include "engine/NorvaneEngine.h"
#include "engine/access/User.h"
#include "engine/framework/Session.h"
#include "support/QuickEngine.h"
#include "support/SocketTestKit.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Records every queued notice as "op|text1|text2|text3".
class RecordingConsole : public IEngineConsole {
public:
    void QueueMessage(WORD op, const std::string& text1, const std::string& text2,
                      const std::string& text3) override;
    std::string GetClientAddress() const override { return "10.9.9.9"; }
    std::vector<std::string> Messages() const;
    // The notices with that operation code.
    std::vector<std::string> Messages(WORD op) const;
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_messages;
};

// The engine of a test, whose timer's tick (the idle walk over every machine) the test runs
// itself, on its own thread.
class CTestEngine : public CQuickEngine {
public:
    void Tick() {
        if (GetTimerId() == 0)
            SetEngineTimer();
        OnTimer(GetTimerId());
    }
};

// A settable clock for idle deadlines (CSession::SetTickSource) while the object lives.
class FakeClock {
public:
    FakeClock();
    ~FakeClock();
    static void Advance(std::uint64_t ms);
    static std::uint64_t Now();

private:
    static std::atomic<std::uint64_t> s_now;
};

// A session without a thread whose traffic counters the test sets, and which records the codes
// its EndSession ran with.
class CCountingSession : public CSession {
public:
    explicit CCountingSession(std::string address, BOOL remoteSide = FALSE);
    void EndSession(int code) override;
    DWORD GetClientBytesSent() const override { return clientSent; }
    DWORD GetClientBytesReceived() const override { return clientReceived; }
    DWORD GetRemoteBytesSent() const override { return remoteSent; }
    DWORD GetRemoteBytesReceived() const override { return remoteReceived; }
    std::vector<int> EndCodes() const;

    std::atomic<DWORD> clientSent{0}, clientReceived{0}, remoteSent{0}, remoteReceived{0};

private:
    mutable std::mutex m_mutex;
    std::vector<int> m_endCodes;
};

// The state folder, the registry root, a log folder, the engine (made the process's engine)
// with its log manager running and the recording console registered.
class FrameworkTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The engine of the test; a fixture whose engine overrides a seam makes its own.
    virtual std::unique_ptr<CTestEngine> MakeEngine() { return std::make_unique<CTestEngine>(); }

    // Adds a user account to the engine's user database.
    CUser& AddUser(const std::string& name, const std::string& password = "secret");
    // The lines (CR LF cut off) of "<log folder>/<name>.log" once the log thread has written
    // every entry posted for it before the call: a marker line is posted to the file after
    // them and waited for, and left out of the result.
    std::vector<std::string> LogLines(const std::string& name) const;
    // The same for the audit file of the user `name`.
    std::vector<std::string> AuditLines(const std::string& name) const;
    std::string LogFolder() const { return m_logs.Path(); }
    // The engine's machines, counted under the map's lock.
    std::size_t MachineCount() const;

    std::vector<std::string> LinesOf(const std::string& folder, const std::string& name) const;

    TempStateDir m_state;
    TempDir m_logs;
    std::unique_ptr<CTestEngine> m_engine;
    RecordingConsole m_console;
};

// A log line without its leading local time ("%m/%d/%y %H:%M:%S" and a tab); a line without
// one is returned marked "NO TIME STAMP: ".
std::string WithoutTime(const std::string& line);
std::vector<std::string> WithoutTimes(const std::vector<std::string>& lines);

// Polls `ready` until it holds; false after `timeoutMs` (scaled for the build, TimeScale.h).
bool WaitFor(const std::function<bool()>& ready, int timeoutMs = 10000);

// A port on 127.0.0.1 that was free for TCP and UDP a moment ago, below the kernel's ephemeral
// range (a port bound to 0 and let go may be handed to any other socket at once).
std::uint16_t FreeTcpPort();

// A connection to 127.0.0.1:`port` from the loopback address `source` (any 127.x.y.z), so one
// test can play several client machines.
RawPeer ConnectFrom(const std::string& source, std::uint16_t port);

class CService;
// Makes the service's access right grant every session / refuse every session.
void AllowEveryone(CService& service);
void DenyEveryone(CService& service);

// A thread whose message loop runs the socket layer's callbacks (as the engine thread does in
// the engine) while it lives.
class CallbackThread : public CThread {
public:
    CallbackThread();
    ~CallbackThread() override;

protected:
    bool InitInstance() override;
    int ExitInstance() override;
};
