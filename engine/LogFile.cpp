#include "engine/LogFile.h"

#include "engine/LogFormat.h"
#include "foundation/Format.h"
#include "foundation/RegistryStore.h"
#include "platform/kernel/File.h"
#include "platform/kernel/Paths.h"

#include <algorithm>

using namespace LogFormat;

std::atomic<long> CLogFile::s_openAuditLogs{0};

CLogFileRef CLogFile::Open(const std::string& folder, const std::string& name) {
    if (folder.empty() || !IsSafeName(name))
        return nullptr;
    // A folder that cannot be made shows as a failed open below.
    MakeDirectories(folder);
    std::string path = FormatText(kLogFileName, folder.c_str(), name.c_str());
    int handle = OpenFile(path, GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS);
    if (handle == INVALID_FILE_HANDLE)
        return nullptr;
    return CLogFileRef(new CLogFile(handle, std::move(path)));
}

CLogFileRef CLogFile::OpenInSettingFolder(const char* valueName, const char* defaultFolder,
                                          const std::string& name) {
    std::string folder = RegReadString(kSettingsKey, valueName, defaultFolder);
    std::replace(folder.begin(), folder.end(), '\\', '/');
    // A stored NUL would cut the path short in the system call; such a folder is refused.
    if (folder.find('\0') != std::string::npos)
        return nullptr;
    return Open(folder, name);
}

CLogFileRef CLogFile::OpenServiceLog(const std::string& name) {
    return OpenInSettingFolder(kLogFolderValue, kLogFolderDefault, name);
}

CLogFileRef CLogFile::OpenAuditLog(const std::string& name) {
    CLogFileRef file = OpenInSettingFolder(kAuditFolderValue, kAuditFolderDefault, name);
    if (file) {
        file->m_audit = true;
        s_openAuditLogs.fetch_add(1, std::memory_order_relaxed);
    }
    return file;
}

CLogFile::~CLogFile() {
    if (m_audit)
        s_openAuditLogs.fetch_sub(1, std::memory_order_relaxed);
    CloseFile(m_handle);
}

BOOL CLogFile::Append(std::string_view text) {
    return AppendFile(m_handle, text.data(), text.size()) == static_cast<std::int64_t>(text.size());
}
