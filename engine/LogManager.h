#pragma once
// The log manager: the one thread that writes every log file of the engine, so that session
// and service threads never wait for a disk. Writers (engine/LogWriters.h) build a whole line
// and post it here; the thread appends each line to its file, in the order posted.
//
// Entries wait in the manager's own queue; thread message WM_USER + 1 wakes the thread, which
// then writes every entry waiting. Only the entry that finds the queue empty posts a wake, so a
// burst of lines costs one wake-up. The queue links the entries themselves (CLogEntry's link),
// so posting a line allocates nothing beyond the entry. A wake may carry in lParam an entry
// still waiting in the queue, written first; an lParam that is not one of them is ignored
// without being touched, so a stray message never reaches freed memory. Entries that can no
// longer be written (posted after WM_QUIT, or to a manager whose thread never ran) are kept
// on a list of their own and freed when the manager goes, so a queued line never leaks.
//
// Lifetime: one manager is a member of the engine object, whose shut-down calls Stop and then
// a bounded WaitForStop. It is not an auto-delete thread. The destructor stops a running thread
// and waits for it.

#include "engine/LogEntry.h"
#include "engine/LogFile.h"
#include "platform/kernel/Thread.h"
#include "platform/kernel/Types.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class CLogManager : public CThread {
public:
    CLogManager() = default;
    ~CLogManager() override;

    // Starts the log thread. FALSE when it could not be created or was started before.
    BOOL Start();
    // Tells the log thread to quit: entries posted before are still written, later ones not.
    void Stop();
    // Waits for the log thread to end after Stop: TRUE when it has ended (or never started).
    BOOL WaitForStop(DWORD timeoutMs);

    // Queues `line` for `file`; callable from any thread, never waits for the disk. FALSE,
    // with nothing queued, when `file` is null, the log thread has ended, or its queue is full.
    BOOL PostLogEntry(const CLogFileRef& file, std::string line);
    // The same for an entry made by the caller (for its file), which may compose its text
    // on the log thread.
    BOOL PostLogEntry(std::unique_ptr<CLogEntry> entry);

    // On the log thread: writes the entry's whole text to its file with one write, then
    // deletes the entry. An entry that is not waiting in this manager's queue is ignored.
    void WriteEntry(CLogEntry* entry);

    // Lines that could not be written (write errors), for diagnostics.
    std::uint64_t GetFailedWrites() const;

protected:
    int ExitInstance() override;
    void OnThreadMessage(const ThreadMessage& msg) override;

private:
    // Entries in posted order, linked through CLogEntry::m_next; the manager's mutex guards it.
    class EntryQueue {
    public:
        void Push(CLogEntry* entry);
        // Takes `entry` out (a walk: only for the rare paths); false when it is not queued.
        bool Remove(CLogEntry* entry);
        // Hands the whole queue over as a chain and leaves it empty.
        CLogEntry* TakeAll();
        std::size_t Size() const { return m_size; }
        // Deletes every entry of a chain.
        static void DeleteChain(CLogEntry* first);

    private:
        CLogEntry* m_head = nullptr;
        CLogEntry* m_tail = nullptr;
        std::size_t m_size = 0;
    };

    // Takes `entry` out of the waiting queue; FALSE when it was not there.
    bool TakeWaiting(CLogEntry* entry);
    // On the log thread: writes every entry waiting, in the order posted, each file's run of
    // consecutive lines with one write, after letting lines gather for a moment.
    void WriteWaiting();

    mutable std::mutex m_mutex;
    EntryQueue m_waiting;     // posted, not yet taken by the log thread
    EntryQueue m_unwritable;  // posted after Stop: never written, freed with the manager
    bool m_wakePosted = false;         // a wake for m_waiting is on its way to the thread
    bool m_stopped = false;            // Stop was called: later lines are never written
    std::uint64_t m_failedWrites = 0;
};
