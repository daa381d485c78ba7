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

bool CCacheDownload::Open(const std::string& path, const CWWWResponse& response,
                          SContentFile file) {
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

    m_path = path;
    if (file.handle.IsValid()) {
        m_file = std::move(file.handle);
        m_heldLength = file.length;
        return true;
    }
    // A file already there (a spare the cache renamed to this name) is written over and cut
    // to the body's length when it is complete: no creation, which would hold the folder's
    // lock, and its blocks are used again instead of being freed and allocated anew.
    m_file.Reset(OpenFileForWriting(path, OPEN_EXISTING));
    m_heldLength = std::numeric_limits<std::uint64_t>::max();
    if (!m_file.IsValid() && errno == ENOENT) {
        m_file.Reset(OpenFileForWriting(path, CREATE_ALWAYS));
        m_heldLength = 0;
    }
    if (!m_file.IsValid()) {
        m_error = errno;
        m_path.clear();
        return false;
    }
    return true;
}

bool CCacheDownload::Write(const void* bytes, std::size_t count) {
    if (!MayTake(count))
        return false;
    const bool written = count == 0 || WriteFileAt(m_file.Get(), bytes, count, m_written) ==
                                           static_cast<std::int64_t>(count);
    return Took(count, written ? 0 : errno != 0 ? errno : EIO);
}

bool CCacheDownload::Wrote(std::size_t count, int error) {
    return MayTake(count) && Took(count, error);
}

bool CCacheDownload::MayTake(std::size_t count) {
    if (!IsOpen())
        return false;
    const std::uint64_t limit = m_expected ? *m_expected : kMaxStoredSize;
    if (count == 0 || (m_lengthTrusted && count <= limit - m_written))
        return true;
    m_errorText = !m_lengthTrusted ? kCacheLengthUntrustedText
                  : m_expected     ? kCacheBodyOutgrewLengthText
                                   : kCacheBodyTooLargeText;
    Discard();
    return false;
}

bool CCacheDownload::Took(std::size_t count, int error) {
    if (error != 0) {
        m_error = error;
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
    if (m_written < m_heldLength && !SetFileLength(m_file.Get(), m_written)) {
        m_error = errno != 0 ? errno : EIO;
        Discard();
        return std::nullopt;
    }
    SCompletedDownload result;
    if (!ParseHTTPDate(m_lastModified, result.lastModified))
        result.lastModified = now;
    result.contentType = m_hasContentType ? m_contentType : GetMimeType(requestPath);
    result.size = static_cast<DWORD>(m_written);
    result.file.handle = std::move(m_file);
    result.file.length = m_written;
    m_path.clear();
    return result;
}

void CCacheDownload::Discard() {
    if (!IsOpen())
        return;
    m_file.Reset();
    RemoveFile(m_path);
    m_path.clear();
}
