#pragma once
// One log line on its way to the log manager thread: the text and the file it goes to.
// Made by the writers (engine/LogWriters.h) or CLogManager::PostLogEntry; once posted, the log
// manager owns it and deletes it after writing it (or, for entries that can no longer be
// written, when the manager ends).
//
// A derived entry may carry what its line is made of instead of the text, and make the text
// in Compose when the log thread first asks for it (GetText), so the posting thread does not
// spend its time on formatting. GetText is then for one thread at a time.
//
// The manager queues entries by their own link (m_next), so queuing a line allocates nothing.

#include "engine/LogFile.h"
#include "platform/framework/Object.h"

#include <string>
#include <utility>

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
