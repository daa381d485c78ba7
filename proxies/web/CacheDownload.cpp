#include "proxies/web/CacheDownload.h"

#include "platform/kernel/File.h"
#include "proxies/web/HTTPDate.h"
#include "proxies/web/MimeTypes.h"
#include "proxies/web/WWWTexts.h"

#include <cerrno>
#include <limits>
#include <system_error>

namespace {

constexpr std::uint64_t kMaxStoredSize = std::numeric_limits<DWORD>::max();

}  // namespace

CCacheDownload::~CCacheDownload() { Discard(); }

bool CCacheDownload::Open(const std::string& path, const CWWWResponse& response) {
    Discard();
    m_error = 0;
    m_errorText.clear();
    m_written = 0;
    m_expected.reset();
    std::uint64_t length = 0;
    const EContentLength lengthHeader = GetContentLength(response.headers, length);
    m_lengthTrusted = lengthHeader != EContentLength::invalid;
    if (lengthHeader == EContentLength::valid)
        m_expected = length;
    m_lastModified = response.headers.Get("Last-Modified");
    m_hasContentType = response.headers.Contains("Content-Type");
    m_contentType = response.headers.Get("Content-Type");

    // A file already there (a spare the cache renamed to this name) is written over and cut
    // to the body's length when it is complete: no creation, which would hold the folder's
    // lock, and its blocks are used again instead of being freed and allocated anew.
    int handle = OpenFile(path, GENERIC_WRITE, 0, OPEN_EXISTING);
    m_overwriting = handle != INVALID_FILE_HANDLE;
    if (handle == INVALID_FILE_HANDLE && errno == ENOENT)
        handle = OpenFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
    if (handle == INVALID_FILE_HANDLE) {
        m_error = errno;
        return false;
    }
    m_handle = handle;
    m_path = path;
    return true;
}

bool CCacheDownload::Write(const void* bytes, std::size_t count) {
    if (!IsOpen())
        return false;
    if (count == 0)
        return true;
    const std::uint64_t limit = m_expected ? *m_expected : kMaxStoredSize;
    if (!m_lengthTrusted || count > limit - m_written) {
        m_errorText = !m_lengthTrusted ? kCacheLengthUntrustedText
                      : m_expected     ? kCacheBodyOutgrewLengthText
                                       : kCacheBodyTooLargeText;
        Discard();
        return false;
    }
    if (WriteFileAt(m_handle, bytes, count, m_written) != static_cast<std::int64_t>(count)) {
        m_error = errno != 0 ? errno : EIO;
        Discard();
        return false;
    }
    m_written += count;
    return true;
}

std::string CCacheDownload::GetErrorText() const {
    if (!m_errorText.empty())
        return m_errorText;
    return m_error == 0 ? std::string() : std::error_code(m_error, std::system_category()).message();
}

std::optional<SCompletedDownload> CCacheDownload::Finish(EEnd end, std::string_view requestPath,
                                                         std::int64_t now) {
    if (!IsOpen())
        return std::nullopt;
    const bool complete = m_lengthTrusted && end != EEnd::abandoned &&
                          (m_expected ? m_written == *m_expected : end == EEnd::serverClosed);
    if (!complete) {
        Discard();
        return std::nullopt;
    }
    if (m_overwriting && !SetFileLength(m_handle, m_written)) {
        m_error = errno != 0 ? errno : EIO;
        Discard();
        return std::nullopt;
    }
    SCompletedDownload result;
    if (!ParseHTTPDate(m_lastModified, result.lastModified))
        result.lastModified = now;
    result.contentType = m_hasContentType ? m_contentType : GetMimeType(requestPath);
    result.size = static_cast<DWORD>(m_written);
    CloseFile(m_handle);
    m_handle = -1;
    m_path.clear();
    return result;
}

void CCacheDownload::Discard() {
    if (!IsOpen())
        return;
    CloseFile(m_handle);
    m_handle = -1;
    RemoveFile(m_path);
    m_path.clear();
}
