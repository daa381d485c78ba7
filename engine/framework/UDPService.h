#pragma once
// CUDPService: a service that is a thread of its own. The thread owns the service's datagram
// socket (its read notices arrive as thread message 0x403 and go to OnDatagram; the thread
// watches its sockets itself while it waits for messages, so no dispatcher thread stands
// between a datagram and its notice) and a map of UDP sessions by a 32-bit key (the client's
// address, or whatever key the derived service uses), guarded by the service's session mutex.
//
// Threads. Start and Stop act on the service thread: called from another thread (a console's
// request) they are handed to it and return once it has carried them out (or after
// kServiceControlWaitMs, when it is busy), so the caller sees the running state they left;
// Start starts the thread first when it has not run yet. StartIfEnabled starts the thread, whose start-up starts the socket when the
// service is Enabled. StopAndDelete tells the thread to quit and gives up the caller's
// reference; the thread's end stops the socket, ends the sessions still in the map (code 0)
// and gives up the thread's reference.
//
// Sessions. A service whose sessions live on (the UDP mapping service's clients) takes a place
// for each among its live sessions before it sets it up (CService::TakeSessionPlace: the
// service's ceiling, kMaxUDPSessions, and the client address's share of it; the engine's
// ceiling too for services whose sessions hold sockets). The DNS service's sessions wait only
// for their lookups, which its resolver bounds per client itself. The map holds a counted
// reference to each session (AddSession takes one; the creator gives up its own). A session that ends leaves the map on the service thread
// (ScheduleRemoveSession): ending runs with machine locks held, and the service thread takes
// the service's mutexes before machine locks when it admits sessions, so removing directly
// from another thread could deadlock. Only the service thread changes the map.

#include "engine/framework/Service.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Thread.h"
#include "platform/kernel/Types.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

class CDatagramOutlet;
class CUDPSession;
class X1SocketOwnerWait;

class CUDPService : public CService {
    DECLARE_SERIAL(CUDPService)
public:
    // The thread message that carries an asynchronous host-lookup result to the service's
    // thread (the DNS service's).
    static constexpr UINT kHostLookupMessage = 0x40A;

    CUDPService();
    CUDPService(UINT port, std::string name, std::string description, BOOL critical);
    ~CUDPService() override;

    void StartIfEnabled() override;
    void StopAndDelete() override;
    // On the service thread: nothing when disabled or running; else a datagram socket for the
    // thread, selected for read and write, re-use-address when CriticalService (a failure of
    // that is logged and ignored), bound (a port outside 1-65535 fails with 10022), state 1,
    // "Service started". A failure closes the socket, leaves state 2 and writes
    // "Service failed startup <text>".
    void Start() override;
    // On the service thread: close the socket, state 0, "Service stopped".
    void Stop() override;

    // Enters the session under its key, replacing (and giving up) another session of that key.
    // Null does nothing.
    virtual void AddSession(CUDPSession* session);
    // A UDP service's sessions stay outside the engine's ceiling unless they hold sockets of
    // their own (the UDP mapping service's do).
    bool UsesEngineCeiling() const override { return false; }
    // Removes the session's entry if it holds that session, and gives the session up after the
    // mutex.
    virtual void RemoveSession(CUDPSession* session);
    // The session of that key, or null. The pointer is valid on the service thread until the
    // thread removes the session; other threads use FindSessionRef.
    virtual CUDPSession* FindSession(DWORD key);
    CRef<CUDPSession> FindSessionRef(DWORD key);
    std::size_t GetSessionCount() const;
    // RemoveSession on the service thread: at once when called there (or when the thread
    // does not run), else handed to the thread.
    void ScheduleRemoveSession(CUDPSession* session);

    // Hooks of the service thread.
    virtual void OnServiceThreadStart() {}
    virtual void OnServiceThreadEnd() {}
    // A read notice of one of the thread's datagram sockets (its handle).
    virtual void OnDatagram(int socketHandle) { (void)socketHandle; }
    // An asynchronous host-lookup result (thread message 0x40A).
    virtual void OnHostLookupResult(std::uintptr_t wParam, std::intptr_t lParam) {
        (void)wParam;
        (void)lParam;
    }

    X1Socket& GetSocket() { return m_socket; }
    // Sends from the service's socket for other threads while it is open (null while it is
    // not): Stop revokes it before the socket closes.
    std::shared_ptr<CDatagramOutlet> GetOutlet() const;
    bool IsServiceThread() const { return GetCurrentThreadId() == ThreadId(); }

protected:
    bool InitInstance() override;
    int Run() override;
    int ExitInstance() override;
    void OnThreadMessage(const ThreadMessage& msg) override;

private:
    // Starts the service thread once; false when it could not be made.
    bool StartThread();
    void StartOnThread();
    void StopOnThread();
    // Queues `step` (null: nothing, a marker) on the service thread and waits, bounded, until
    // it has run.
    void RunOnServiceThread(void (CUDPService::*step)());

    // The thread's sockets are watched by the thread itself while it waits for messages.
    std::unique_ptr<X1SocketOwnerWait> m_ownerWait;
    mutable std::mutex m_outletMutex;  // leaf
    std::shared_ptr<CDatagramOutlet> m_outlet;
    mutable CMutex m_sessionsMutex;
    std::map<DWORD, CRef<CUDPSession>> m_sessions;
};
