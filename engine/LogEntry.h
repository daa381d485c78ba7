#pragma once
// One finished log line on its way to the log manager thread: the text and the file it goes to.
// Made by CLogManager::PostLogEntry; from then on the log manager owns it and deletes it after
// writing it (or, for entries that can no longer be written, when the manager ends).

#include "engine/LogFile.h"
#include "platform/framework/Object.h"

#include <string>
#include <utility>

class CLogEntry : public CObject {
    DECLARE_DYNAMIC(CLogEntry)
public:
    CLogEntry(CLogFileRef file, std::string text) : m_file(std::move(file)), m_text(std::move(text)) {}

    const CLogFileRef& GetFile() const { return m_file; }
    const std::string& GetText() const { return m_text; }

private:
    CLogFileRef m_file;
    std::string m_text;
};
