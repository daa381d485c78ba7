#pragma once
// Threads with message queues.
//
// Every thread can own a FIFO message queue addressed by a 32-bit thread id. Ids are handed out
// from a process-wide counter and never reused, so a message posted to a thread that has ended
// fails (GetLastError() == ERROR_INVALID_THREAD_ID) instead of reaching a newer thread. A
// CThread's queue exists from the moment the object is constructed, so messages may be posted
// to it before it starts; any other thread gets a queue the first time it asks for its id or
// reads its queue, and loses it when it ends. A CThread runs on a system thread that may have
// served an earlier CThread (kept parked for a short while); each run starts with its own
// queue, its own id and the per-thread values of a new thread.
//
// Thread timers are kept by the queue that owns them and are delivered as WM_TIMER with the
// timer id in wParam. A timer is never pending more than once: however late its thread reads
// its queue, one WM_TIMER stands for every period that passed. A due timer takes its place in
// the queue by its due time, so a busy queue delays timers but never starves them.

#include "platform/kernel/Sync.h"
#include "platform/kernel/Types.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_USER = 0x0400;

// Posted messages beyond this many waiting in one queue are refused (a stuck reader must not
// make its queue grow without bound).
inline constexpr std::size_t kMaxQueuedMessages = 65536;
inline constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;

struct ThreadMessage {
    UINT message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

// The calling thread's id (creating its queue on first use). Never 0.
DWORD GetCurrentThreadId();

// Queues a message for the thread `threadId`. Returns false, with GetLastError() set to
// ERROR_INVALID_THREAD_ID when that thread has ended (or never existed), or to
// ERROR_NOT_ENOUGH_QUOTA when its queue is full.
bool PostThreadMessage(DWORD threadId, UINT message, std::uintptr_t wParam, std::intptr_t lParam);

// Like PostThreadMessage, except that nothing is added while a message with the same number and
// wParam is still waiting in that queue (the waiting one keeps its place and its lParam); true in
// both cases. A notice posted this way is "outstanding" exactly until its thread takes it.
bool PostThreadMessageOnce(DWORD threadId, UINT message, std::uintptr_t wParam,
                           std::intptr_t lParam);

// Removes the messages numbered `first`..`last` with this wParam that still wait in the queue
// of `threadId` (for instance, notices about a handle that has just been closed). Returns how
// many were removed; 0 also when that thread has ended.
std::size_t WithdrawThreadMessages(DWORD threadId, UINT first, UINT last, std::uintptr_t wParam);

// Queues `call` to run on thread `threadId`: it runs inside that thread's GetMessage,
// GetMessageTimeout or PeekMessage, in queue order with the thread's messages, and is never
// returned as a message. An exception it throws is swallowed. Fails like PostThreadMessage; a
// call that is still waiting when its thread ends is destroyed without running (outside any
// lock of this layer, so its destructor may post or lock).
bool PostThreadCall(DWORD threadId, std::function<void()> call);

// Posts WM_QUIT with `exitCode` in wParam to the calling thread.
void PostQuitMessage(int exitCode);

// Takes the next message of the calling thread's queue, waiting as long as it takes. Returns
// false when the message is WM_QUIT (it is still stored in `msg`).
bool GetMessage(ThreadMessage& msg);

// Like GetMessage but waits at most `timeoutMs`: WAIT_OBJECT_0 with `msg` filled, or
// WAIT_TIMEOUT. A WM_QUIT is returned like any other message.
DWORD GetMessageTimeout(ThreadMessage& msg, DWORD timeoutMs);

// Looks at the next message without waiting; removes it when `remove`. False when none waits.
bool PeekMessage(ThreadMessage& msg, bool remove);

// Starts a periodic timer on thread `threadId` and returns its id (process-wide unique, never
// 0), or 0 when that thread has ended. SetTimer does the same for the calling thread.
DWORD SetThreadTimer(DWORD threadId, DWORD periodMs);
DWORD SetTimer(DWORD periodMs);

// Stops a timer from any thread; a WM_TIMER of it that is not yet read is withdrawn. Returns
// false when no such timer runs.
bool KillTimer(DWORD timerId);

// A thread that also waits for descriptors of its own (its sockets' events) installs a waiter
// for its queue: whenever the thread would sleep for its next message, it calls
// `wait(timeoutMs)` instead (INFINITE: no deadline), which must return once `wakeFd` is
// readable, when the time-out passed, or after it did some of the thread's own work (which may
// post to the queue). Posts from other threads (and timers they start) signal `wakeFd`, an
// eventfd of the caller's that must stay open while the waiter is installed, while the thread
// is in `wait`; `wait` reads it empty. The waiter stays until RemoveQueueWaiter or the end of
// the thread.
void InstallQueueWaiter(std::function<void(DWORD timeoutMs)> wait, int wakeFd);
void RemoveQueueWaiter();

// Registers `reset`, which sets one of the calling layer's per-thread values back to what a new
// system thread starts with. System threads are reused: one that has served a CThread may serve
// the next, and runs every registered reset in between.
void RegisterThreadStateReset(void (*reset)());

// Base of every thread object. Derived classes override InitInstance (set-up on the new
// thread; returning false skips Run), Run (by default the message loop) and ExitInstance (its
// result is the thread's exit code; by default the WM_QUIT code), and handle their messages in
// OnThreadMessage.
//
// The object must outlive its thread unless m_bAutoDelete is set, in which case the thread
// gives the object up after ExitInstance (Delete) and nobody else may delete it. A thread ends
// when Run returns; its queue is closed at that moment and later posts fail.
class CThread {
    struct State;
    std::shared_ptr<State> m_state;  // first: the id below is read from it

public:
    CThread();
    virtual ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // Starts the thread. False (GetLastError() set) when the system could not create one, or
    // when it was already started.
    bool CreateThread();

    DWORD ThreadId() const { return m_nThreadID; }
    bool PostThreadMessage(UINT message, std::uintptr_t wParam, std::intptr_t lParam) const;

    // Waits until the thread has ended: WAIT_OBJECT_0 (also when it never started) or
    // WAIT_TIMEOUT. Must not be used on an auto-delete thread, whose object may be gone.
    DWORD WaitForExit(DWORD timeoutMs = INFINITE) const;
    bool HasStarted() const;
    bool HasEnded() const;
    int ExitCode() const;

    // The event set once the thread has ended (and, for auto-delete threads, after the object
    // was deleted). Shared so a waiter can keep it after the object is gone.
    std::shared_ptr<CEvent> EndedEvent() const;

    bool m_bAutoDelete = false;

protected:
    // Called last on the thread of an auto-delete object, after its queue was closed: gives the
    // object up. By default it deletes the object. A class whose objects other threads may
    // hold counted references to (CObject::AddRef) gives up the thread's reference instead, so
    // the object goes with its last holder. Nothing of the object is touched afterwards.
    virtual void Delete() { delete this; }

    virtual bool InitInstance() { return true; }
    virtual int Run();
    virtual int ExitInstance();
    // Called with each message before dispatch; returning true consumes it.
    virtual bool PreTranslateMessage(ThreadMessage&) { return false; }
    virtual void OnThreadMessage(const ThreadMessage&) {}
    // Called on the thread when a message handler threw; the loop goes on afterwards.
    virtual void OnMessageException() {}

    // Reads and dispatches one message. Returns false when the message was WM_QUIT.
    bool PumpMessage();

    ThreadMessage m_msgCur;
    const DWORD m_nThreadID;

private:
    static void Main(CThread* self, std::shared_ptr<State> state);
};
