#pragma once
// One log line on its way to the log manager thread: the text and the file it goes to.
// Made by the writers (engine/LogWriters.h) or CLogManager::PostLogEntry; once posted, the log
// manager owns it and deletes it after writing it (or, for entries that can no longer be
// written, when the manager ends).
//
// A derived entry may carry what its line is made of instead of the text, and make the text
// in Compose when the log thread first asks for it (GetText or AppendTextTo), so the posting
// thread does not spend its time on formatting. Both are then for one thread at a time.
//
// The manager queues entries by their own link (m_next), so queuing a line allocates nothing.

#include "engine/LogFile.h"
#include "platform/framework/Object.h"

#include <cstddef>
#include <string>
#include <utility>

// Memory for log entries that are posted by the thousand: a busy service posts its lines from
// one thread while the log thread frees them, and a block freed into another thread's heap
// takes that heap's lock. Blocks of up to kBlockSize bytes are therefore not freed but handed
// back to the posting threads: each thread keeps a few, and passes or takes a batch at a time
// through a shared, bounded store. Larger requests go to the heap as usual. Any thread may
// allocate and free; a block may be freed on another thread than the one that allocated it.
namespace LogEntryMemory {

inline constexpr std::size_t kBlockSize = 320;

// `bytes` of storage aligned for any object (as operator new gives).
void* Allocate(std::size_t bytes);
// Gives back a block from Allocate (null is ignored).
void Free(void* block) noexcept;

}  // namespace LogEntryMemory

class CLogEntry : public CObject {
    DECLARE_DYNAMIC(CLogEntry)
public:
    CLogEntry(CLogFileRef file, std::string text)
        : m_file(std::move(file)), m_text(std::move(text)), m_composed(true) {}

    const CLogFileRef& GetFile() const { return m_file; }
    const std::string& GetText() const {
        if (!m_composed) {
            Compose(&m_text);
            m_composed = true;
        }
        return m_text;
    }
    // Appends the text to `out`: the log thread gathers lines so. An entry that composes its
    // text may write it there directly, keeping none of its own.
    virtual void AppendTextTo(std::string& out) const { out += GetText(); }

protected:
    // An entry whose text Compose makes.
    explicit CLogEntry(CLogFileRef file) : m_file(std::move(file)) {}
    virtual void Compose(std::string* text) const { (void)text; }

private:
    friend class CLogManager;

    CLogFileRef m_file;
    mutable std::string m_text;
    mutable bool m_composed = false;
    CLogEntry* m_next = nullptr;  // the next entry in the manager's queue; the manager's alone
};
