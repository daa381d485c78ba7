#include "proxies/web/LocalFile.h"

#include "platform/kernel/File.h"
#include "proxies/web/MimeTypes.h"
#include "proxies/web/ResponseHead.h"

bool IsServablePath(std::string_view relative) {
    if (relative.empty())
        return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = relative.find('/', start);
        const std::string_view segment = relative.substr(start, slash - start);
        if (segment.empty() || segment == "." || segment == "..")
            return false;
        for (char c : segment) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte == 0x7F || c == '\\' || c == ':')
                return false;
        }
        if (slash == std::string_view::npos)
            return true;
        start = slash + 1;
    }
}

CLocalFile::~CLocalFile() { Close(); }

bool CLocalFile::Open(const std::string& folder, const std::string& relative) {
    Close();
    if (folder.empty() || !IsServablePath(relative))
        return false;
    const int handle = OpenConfinedFile(folder, relative);
    if (handle == INVALID_FILE_HANDLE)
        return false;
    const std::int64_t size = FileSizeOf(handle);
    m_handle = handle;
    m_size = size > 0 ? static_cast<std::uint64_t>(size) : 0;
    m_path = folder + (folder.back() == '/' ? "" : "/") + relative;
    return true;
}

void CLocalFile::Close() {
    if (m_handle >= 0)
        CloseFile(m_handle);
    m_handle = -1;
    m_size = 0;
    m_path.clear();
}

std::string CLocalFile::BuildHead(std::int64_t now) const {
    const std::string type = GetMimeType(m_path);
    return BuildDocumentHead({.now = now,
                              .contentType = type,
                              .lastModified = std::nullopt,
                              .contentLength = m_size});
}
