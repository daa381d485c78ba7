#include "engine/LogManager.h"

#include "engine/LogFormat.h"
#include "platform/kernel/Clock.h"

#include <algorithm>
#include <memory>
#include <string>

using namespace LogFormat;

namespace {

// How long the log thread lets lines gather after a wake, and the most it writes at once.
constexpr DWORD kGatherMs = 1;
constexpr std::size_t kMaxGatheredBytes = 64 * 1024;

}  // namespace

CLogManager::~CLogManager() {
    // The thread uses the pending set: it must be gone before the set is.
    if (HasStarted() && !HasEnded()) {
        Stop();
        WaitForExit(INFINITE);
    }
    for (CLogEntry* entry : m_pending)
        delete entry;
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
            m_pending.insert(entry.release());
            return HasEnded() ? FALSE : TRUE;
        }
        if (m_waiting.size() >= kMaxQueuedMessages)
            return FALSE;
        m_pending.insert(posted);
        m_waiting.push_back(posted);
        wake = !m_wakePosted;
        m_wakePosted = true;
    }
    entry.release();
    // Only the line that finds the queue empty wakes the thread; later ones ride on that wake.
    if (!wake || PostThreadMessage(kWriteEntryMessage, 0, 0))
        return TRUE;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_wakePosted = false;
        auto it = std::find(m_waiting.begin(), m_waiting.end(), posted);
        if (it != m_waiting.end())
            m_waiting.erase(it);
    }
    if (TakePending(posted))
        delete posted;
    return FALSE;
}

void CLogManager::WriteWaiting() {
    // A busy engine posts lines faster than one wake and one write each could keep up with:
    // the thread gathers for a moment first, then writes each file's run of lines at once.
    Sleep(kGatherMs);
    std::deque<CLogEntry*> batch;
    {
        // The batch is taken out of the pending set here, under the one lock: a lock per
        // line would have the posting threads and this one take turns at it.
        std::lock_guard<std::mutex> lock(m_mutex);
        batch.swap(m_waiting);
        m_wakePosted = false;  // a line posted from here on sends a new wake
        std::erase_if(batch, [this](CLogEntry* entry) { return m_pending.erase(entry) == 0; });
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
    std::size_t next = 0;
    try {
        while (next < batch.size()) {
            std::unique_ptr<CLogEntry> owned(batch[next++]);
            if (owned->GetFile() != file) {
                writeRun();
                file = owned->GetFile();
            }
            run += owned->GetText();
            ++lines;
            if (run.size() >= kMaxGatheredBytes)
                writeRun();
        }
        writeRun();
    } catch (...) {
        // The batch left the pending set above: the entries not reached are freed here.
        for (; next < batch.size(); ++next)
            delete batch[next];
        throw;
    }
}

void CLogManager::WriteEntry(CLogEntry* entry) {
    if (!TakePending(entry))
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

bool CLogManager::TakePending(CLogEntry* entry) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pending.erase(entry) != 0;
}
