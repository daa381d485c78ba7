#include "platform/kernel/File.h"

#include "platform/kernel/Paths.h"

#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <limits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool IsRegularFile(const std::string& name, struct stat& st) {
    return stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The canonical form of an existing path, or "" (errno set).
std::string CanonicalPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved)
        return {};
    std::string result(resolved);
    std::free(resolved);
    return result;
}

// The path an open descriptor refers to now, or "".
std::string PathOfDescriptor(int fd) {
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    std::string path(PATH_MAX, '\0');
    ssize_t n = readlink(link.c_str(), path.data(), path.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= path.size())
        return {};
    path.resize(static_cast<std::size_t>(n));
    return path;
}

// True when `path` names something strictly below the folder `root`.
bool IsBelow(const std::string& path, const std::string& root) {
    const std::string prefix = root == "/" ? root : root + "/";
    return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

int OpenConfinedFile(const std::string& folder, const std::string& relative) {
    if (folder.empty() || relative.empty() || relative.find('\0') != std::string::npos ||
        folder.find('\0') != std::string::npos) {
        errno = ENOENT;
        return INVALID_FILE_HANDLE;
    }
    const std::string root = CanonicalPath(folder);
    struct stat st{};
    if (root.empty() || stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        errno = ENOENT;
        return INVALID_FILE_HANDLE;
    }
    const std::string path = root + (root == "/" ? "" : "/") + relative;
    const std::string canonical = CanonicalPath(path);
    if (canonical.empty())
        return INVALID_FILE_HANDLE;
    if (!IsBelow(canonical, root)) {
        errno = EACCES;
        return INVALID_FILE_HANDLE;
    }
    int fd = open(canonical.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return INVALID_FILE_HANDLE;
    int error = 0;
    if (fstat(fd, &st) != 0)
        error = errno;
    else if (!S_ISREG(st.st_mode) || !IsBelow(PathOfDescriptor(fd), root))
        error = EACCES;
    else if (flock(fd, LOCK_SH | LOCK_NB) != 0)
        error = EBUSY;
    if (error != 0) {
        close(fd);
        errno = error;
        return INVALID_FILE_HANDLE;
    }
    return fd;
}

namespace {

// The open flags of an access and a creation disposition (false: not valid, or no name;
// errno set); `truncate` says whether the file is to be emptied once opened.
bool OpenFlags(const std::string& name, DWORD desiredAccess, DWORD creationDisposition,
               int& flags, bool& truncate) {
    const bool read = desiredAccess & GENERIC_READ;
    const bool append = desiredAccess & FILE_APPEND_DATA;
    const bool write = (desiredAccess & GENERIC_WRITE) || append;
    flags = O_CLOEXEC | (read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY);
    if (append)
        flags |= O_APPEND;
    truncate = false;
    switch (creationDisposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT; truncate = write; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING:
        if (!write) {
            errno = EINVAL;
            return false;
        }
        truncate = true;
        break;
    default: errno = EINVAL; return false;
    }
    if (name.empty()) {
        errno = ENOENT;
        return false;
    }
    return true;
}

}  // namespace

int OpenFile(const std::string& name, DWORD desiredAccess, DWORD shareMode,
             DWORD creationDisposition) {
    int flags = 0;
    bool truncate = false;
    if (!OpenFlags(name, desiredAccess, creationDisposition, flags, truncate))
        return INVALID_FILE_HANDLE;
    int fd = open(name.c_str(), flags, kPrivateFileMode);
    if (fd < 0)
        return INVALID_FILE_HANDLE;
    struct stat st{};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
        close(fd);
        errno = error;
        return INVALID_FILE_HANDLE;
    }
    // The share check comes before any truncation, so a refused open changes nothing.
    if (flock(fd, (shareMode & (FILE_SHARE_READ | FILE_SHARE_WRITE) ? LOCK_SH : LOCK_EX) |
                      LOCK_NB) != 0) {
        close(fd);
        errno = EBUSY;
        return INVALID_FILE_HANDLE;
    }
    if (truncate && ftruncate(fd, 0) != 0) {
        int error = errno;
        close(fd);
        errno = error;
        return INVALID_FILE_HANDLE;
    }
    return fd;
}

int OpenFileForWriting(const std::string& name, DWORD creationDisposition) {
    int flags = 0;
    bool truncate = false;
    if (!OpenFlags(name, GENERIC_WRITE, creationDisposition, flags, truncate))
        return INVALID_FILE_HANDLE;
    // A folder is refused by the open itself (write access).
    const int fd = open(name.c_str(), flags | (truncate ? O_TRUNC : 0), kPrivateFileMode);
    return fd < 0 ? INVALID_FILE_HANDLE : fd;
}

bool CloseFile(int handle) { return handle >= 0 && close(handle) == 0; }

std::int64_t ReadFileAt(int handle, void* buffer, std::size_t count, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) {
        errno = EINVAL;
        return -1;
    }
    for (;;) {
        ssize_t n = pread(handle, buffer, count, static_cast<off_t>(offset));
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

namespace {

// Writes all `count` bytes through `writeSome(pointer, size, done)`, which writes part of them
// and answers like write(2); retried on EINTR.
template <class WriteSome>
std::int64_t WriteAll(const void* bytes, std::size_t count, WriteSome writeSome) {
    const char* p = static_cast<const char*>(bytes);
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = writeSome(p + done, count - done, done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0) {
            errno = ENOSPC;
            return -1;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(count);
}

}  // namespace

std::int64_t WriteFileAt(int handle, const void* bytes, std::size_t count, std::uint64_t offset) {
    return WriteAll(bytes, count, [&](const char* p, std::size_t size, std::size_t done) -> ssize_t {
        if (offset + done > static_cast<std::uint64_t>(INT64_MAX)) {
            errno = EFBIG;
            return -1;
        }
        return pwrite(handle, p, size, static_cast<off_t>(offset + done));
    });
}

std::int64_t AppendFile(int handle, const void* bytes, std::size_t count) {
    return WriteAll(bytes, count, [&](const char* p, std::size_t size, std::size_t) {
        return write(handle, p, size);
    });
}

std::int64_t FileSizeOf(int handle) {
    struct stat st;
    return fstat(handle, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

bool SetFileLength(int handle, std::uint64_t length) {
    return length <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) &&
           ftruncate(handle, static_cast<off_t>(length)) == 0;
}

bool FileExists(const std::string& name) {
    struct stat st;
    return IsRegularFile(name, st);
}

std::int64_t FileSizeOf(const std::string& name) {
    struct stat st;
    return IsRegularFile(name, st) ? static_cast<std::int64_t>(st.st_size) : -1;
}

bool RemoveFile(const std::string& name) {
    struct stat st;
    return IsRegularFile(name, st) && unlink(name.c_str()) == 0;
}

bool MoveFileNoReplace(const std::string& from, const std::string& to) {
    return renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

bool MoveFileReplacing(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0;
}

bool SyncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int rc;
    do {
        rc = fsync(fd);
    } while (rc != 0 && errno == EINTR);
    const int error = errno;
    close(fd);
    errno = error;
    return rc == 0;
}

bool CopyFileTo(const std::string& source, const std::string& target) {
    int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat st;
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(in);
        return false;
    }
    int out = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode);
    if (out < 0) {
        close(in);
        return false;
    }
    bool ok = true;
    char block[65536];
    for (std::uint64_t offset = 0;;) {
        std::int64_t n = ReadFileAt(in, block, sizeof block, offset);
        if (n == 0)
            break;
        if (n < 0 || WriteFileAt(out, block, static_cast<std::size_t>(n), offset) < 0) {
            ok = false;
            break;
        }
        offset += static_cast<std::uint64_t>(n);
    }
    if (close(out) != 0)
        ok = false;
    close(in);
    if (!ok)
        unlink(target.c_str());
    return ok;
}
