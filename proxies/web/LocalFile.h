#pragma once
// A file of the proxy's own that the web session sends to a client: the engine's resources
// on the internal host, and the files under a service's ServerRoot for relative requests.
//
// The session's SendLocalFile is: Open; on failure the file-access-denied error page; on
// success send BuildHead(now), then the file's bytes from GetHandle() (the socket layer's
// SendFile), then Close and log kLogServedFile with GetPath().

#include <cstdint>
#include <string>
#include <string_view>

// True when `relative` may name a file below a folder: segments separated by "/", none of
// them empty, "." or "..", and no "\", ":" or control character (NUL included) anywhere.
bool IsServablePath(std::string_view relative);

class CLocalFile {
public:
    CLocalFile() = default;
    ~CLocalFile();
    CLocalFile(const CLocalFile&) = delete;
    CLocalFile& operator=(const CLocalFile&) = delete;

    // Opens `relative` below `folder` (a relative folder is taken from the engine's current
    // folder, which is its program's folder) for reading, without blocking. Refused (false)
    // unless the folder is not empty, IsServablePath(relative) holds, and the file is a
    // regular file whose canonical path lies inside the folder's. An open file is closed
    // first.
    bool Open(const std::string& folder, const std::string& relative);
    bool IsOpen() const { return m_handle >= 0; }
    void Close();

    // The open file's handle (a platform/kernel file handle), -1 when closed. Stays owned here.
    int GetHandle() const { return m_handle; }
    // Bytes in the file when it was opened.
    std::uint64_t GetSize() const { return m_size; }
    // folder "/" relative, as the log names the file.
    const std::string& GetPath() const { return m_path; }

    // "HTTP/1.0 200 Document Follows" with the Date (`now`, seconds since 1970 UTC), the
    // server name, the MIME type of the file's name and its size.
    std::string BuildHead(std::int64_t now) const;

private:
    int m_handle = -1;
    std::uint64_t m_size = 0;
    std::string m_path;
};
