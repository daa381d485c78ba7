#include "engine/LogManager.h"

#include "engine/LogFormat.h"

#include <memory>

using namespace LogFormat;

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

void CLogManager::Stop() { PostThreadMessage(WM_QUIT, 0, 0); }

BOOL CLogManager::WaitForStop(DWORD timeoutMs) {
    return WaitForExit(timeoutMs) == WAIT_OBJECT_0 ? TRUE : FALSE;
}

BOOL CLogManager::PostLogEntry(const CLogFileRef& file, std::string line) {
    if (!file)
        return FALSE;
    auto entry = std::make_unique<CLogEntry>(file, std::move(line));
    CLogEntry* posted = entry.get();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.insert(posted);
    }
    entry.release();
    if (PostThreadMessage(kWriteEntryMessage, 0, reinterpret_cast<std::intptr_t>(posted)))
        return TRUE;
    if (TakePending(posted))
        delete posted;
    return FALSE;
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
    if (msg.message == kWriteEntryMessage)
        WriteEntry(reinterpret_cast<CLogEntry*>(msg.lParam));
}

bool CLogManager::TakePending(CLogEntry* entry) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pending.erase(entry) != 0;
}
