#include "engine/LogManager.h"

#include "engine/LogFormat.h"
#include "platform/kernel/Clock.h"

#include <memory>
#include <string>

using namespace LogFormat;

namespace {

// How long the log thread lets lines gather after a wake, and the most it writes at once.
constexpr DWORD kGatherMs = 1;
constexpr std::size_t kMaxGatheredBytes = 64 * 1024;

}  // namespace

CLogManager::~CLogManager() {
    // The thread uses the queues: it must be gone before they are.
    if (HasStarted() && !HasEnded()) {
        Stop();
        WaitForExit(INFINITE);
    }
    EntryQueue::DeleteChain(m_waiting.TakeAll());
    EntryQueue::DeleteChain(m_unwritable.TakeAll());
}

void CLogManager::EntryQueue::Push(CLogEntry* entry) {
    entry->m_next = nullptr;
    if (m_tail != nullptr)
        m_tail->m_next = entry;
    else
        m_head = entry;
    m_tail = entry;
    ++m_size;
}

bool CLogManager::EntryQueue::Remove(CLogEntry* entry) {
    // Only the addresses are compared: `entry` may be anything a stray message carried.
    CLogEntry* previous = nullptr;
    for (CLogEntry* at = m_head; at != nullptr; previous = at, at = at->m_next) {
        if (at != entry)
            continue;
        (previous != nullptr ? previous->m_next : m_head) = at->m_next;
        if (m_tail == at)
            m_tail = previous;
        at->m_next = nullptr;
        --m_size;
        return true;
    }
    return false;
}

CLogEntry* CLogManager::EntryQueue::TakeAll() {
    CLogEntry* first = m_head;
    m_head = m_tail = nullptr;
    m_size = 0;
    return first;
}

void CLogManager::EntryQueue::DeleteChain(CLogEntry* first) {
    while (first != nullptr) {
        CLogEntry* next = first->m_next;
        delete first;
        first = next;
    }
}

BOOL CLogManager::Start() { return CreateThread() ? TRUE : FALSE; }

void CLogManager::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
    }
    // Whatever waits now was posted before the stop: one last pass writes it ahead of the quit.
    PostThreadMessage(kWriteEntryMessage, 0, 0);
    PostThreadMessage(WM_QUIT, 0, 0);
}

BOOL CLogManager::WaitForStop(DWORD timeoutMs) {
    return WaitForExit(timeoutMs) == WAIT_OBJECT_0 ? TRUE : FALSE;
}

BOOL CLogManager::PostLogEntry(const CLogFileRef& file, std::string line) {
    if (!file)
        return FALSE;
    return PostLogEntry(std::make_unique<CLogEntry>(file, std::move(line)));
}

BOOL CLogManager::PostLogEntry(std::unique_ptr<CLogEntry> entry) {
    if (!entry || !entry->GetFile())
        return FALSE;
    CLogEntry* posted = entry.get();
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopped) {
            // Kept (and freed with the manager) but never written, as a line behind the quit.
            m_unwritable.Push(entry.release());
            return HasEnded() ? FALSE : TRUE;
        }
        if (m_waiting.Size() >= kMaxQueuedMessages)
            return FALSE;
        m_waiting.Push(entry.release());
        wake = !m_wakePosted;
        m_wakePosted = true;
    }
    // Only the line that finds the queue empty wakes the thread; later ones ride on that wake.
    if (!wake || PostThreadMessage(kWriteEntryMessage, 0, 0))
        return TRUE;
    bool taken;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_wakePosted = false;
        taken = m_waiting.Remove(posted);
    }
    // Not found: the log thread took it meanwhile and owns it now.
    if (taken)
        delete posted;
    return FALSE;
}

void CLogManager::WriteWaiting() {
    // A busy engine posts lines faster than one wake and one write each could keep up with:
    // the thread gathers for a moment first, then writes each file's run of lines at once.
    Sleep(kGatherMs);
    CLogEntry* next;
    {
        // The whole queue is taken under the one lock: a lock per line would have the posting
        // threads and this one take turns at it.
        std::lock_guard<std::mutex> lock(m_mutex);
        next = m_waiting.TakeAll();
        m_wakePosted = false;  // a line posted from here on sends a new wake
    }
    CLogFileRef file;
    std::string run;
    std::uint64_t lines = 0;
    const auto writeRun = [&] {
        if (lines != 0 && !file->Append(run)) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_failedWrites += lines;
        }
        run.clear();
        lines = 0;
    };
    try {
        while (next != nullptr) {
            std::unique_ptr<CLogEntry> owned(next);
            next = next->m_next;
            if (owned->GetFile() != file) {
                writeRun();
                file = owned->GetFile();
            }
            owned->AppendTextTo(run);
            ++lines;
            if (run.size() >= kMaxGatheredBytes)
                writeRun();
        }
        writeRun();
    } catch (...) {
        // The batch left the queue above: the entries not reached are freed here.
        EntryQueue::DeleteChain(next);
        throw;
    }
}

void CLogManager::WriteEntry(CLogEntry* entry) {
    if (!TakeWaiting(entry))
        return;
    std::unique_ptr<CLogEntry> owned(entry);
    if (!owned->GetFile()->Append(owned->GetText())) {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_failedWrites;
    }
}

std::uint64_t CLogManager::GetFailedWrites() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failedWrites;
}

int CLogManager::ExitInstance() {
    m_bAutoDelete = false;
    return 0;
}

void CLogManager::OnThreadMessage(const ThreadMessage& msg) {
    if (msg.message != kWriteEntryMessage)
        return;
    if (msg.lParam != 0)
        WriteEntry(reinterpret_cast<CLogEntry*>(msg.lParam));
    WriteWaiting();
}

bool CLogManager::TakeWaiting(CLogEntry* entry) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_waiting.Remove(entry);
}
