#include "platform/framework/File.h"

#include "platform/kernel/File.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

IMPLEMENT_DYNAMIC(CFileException, CException)

CFileException::CFileException(int error, const std::string& operation, const std::string& path)
    : CException(operation + (path.empty() ? std::string() : " \"" + path + "\"") + ": " +
                 std::strerror(error)),
      m_error(error) {}

CFile::~CFile() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool CFile::Open(const std::string& path, unsigned flags, int* error) {
    Close();
    const DWORD access = (flags & 0x3) == modeWrite       ? GENERIC_WRITE
                         : (flags & 0x3) == modeReadWrite ? GENERIC_READ | GENERIC_WRITE
                                                          : GENERIC_READ;
    const DWORD share = (flags & shareExclusive) ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD disposition = !(flags & modeCreate)       ? OPEN_EXISTING
                              : (flags & modeNoTruncate) ? OPEN_ALWAYS
                                                         : CREATE_ALWAYS;
    const int fd = OpenFile(path, access, share, disposition);
    if (fd == INVALID_FILE_HANDLE) {
        if (error != nullptr)
            *error = errno;
        return false;
    }
    m_fd = fd;
    m_path = path;
    return true;
}

void CFile::Fail(const char* operation) const {
    throw new CFileException(errno, operation, m_path);
}

std::size_t CFile::Read(void* buffer, std::size_t count) {
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(m_fd, out + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail("Cannot read");
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void CFile::Write(const void* data, std::size_t count) {
    const auto* in = static_cast<const char*>(data);
    while (count > 0) {
        const ssize_t n = ::write(m_fd, in, count);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail("Cannot write");
        }
        in += n;
        count -= static_cast<std::size_t>(n);
    }
}

std::uint64_t CFile::Seek(std::int64_t offset, SeekPosition from) {
    const int whence = from == begin ? SEEK_SET : from == current ? SEEK_CUR : SEEK_END;
    const off_t position = ::lseek(m_fd, static_cast<off_t>(offset), whence);
    if (position < 0)
        Fail("Cannot seek in");
    return static_cast<std::uint64_t>(position);
}

std::uint64_t CFile::GetPosition() const {
    const off_t position = ::lseek(m_fd, 0, SEEK_CUR);
    if (position < 0)
        Fail("Cannot seek in");
    return static_cast<std::uint64_t>(position);
}

std::uint64_t CFile::GetLength() const {
    struct stat st {};
    if (::fstat(m_fd, &st) != 0)
        Fail("Cannot read the size of");
    return static_cast<std::uint64_t>(st.st_size);
}

void CFile::SetLength(std::uint64_t length) {
    int rc;
    do {
        rc = ::ftruncate(m_fd, static_cast<off_t>(length));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        Fail("Cannot set the length of");
}

void CFile::Flush() {
    if (m_fd >= 0 && ::fdatasync(m_fd) != 0 && errno != EINVAL)
        Fail("Cannot flush");
}

std::uint32_t CFile::GetMode() const {
    struct stat st {};
    if (::fstat(m_fd, &st) != 0)
        Fail("Cannot read the mode of");
    return static_cast<std::uint32_t>(st.st_mode & 07777);
}

void CFile::SetMode(std::uint32_t mode) {
    if (::fchmod(m_fd, static_cast<mode_t>(mode)) != 0)
        Fail("Cannot set the mode of");
}

void CFile::Rename(const std::string& target) {
    if (!MoveFileReplacing(m_path, target))
        Fail("Cannot rename");
    m_path = target;
}

void CFile::Close() {
    if (m_fd < 0)
        return;
    const int fd = m_fd;
    m_fd = -1;
    // Linux releases the descriptor even when close reports an error, so it is never retried.
    if (::close(fd) != 0 && errno != EINTR)
        Fail("Cannot close");
}
