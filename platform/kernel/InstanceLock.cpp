#include "platform/kernel/InstanceLock.h"

#include "platform/kernel/Paths.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct flock WholeFileLock(short type) {
    struct flock lock{};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    lock.l_pid = 0;  // must be 0 for open-file-description locks
    return lock;
}

}  // namespace

std::string CInstanceLock::LockPath(const std::string& name) {
    return StateDirectory() + "/run/" + name + ".lock";
}

CInstanceLock::Result CInstanceLock::TryAcquire(const std::string& name) {
    if (m_fd >= 0)
        return Result::AlreadyExists;
    if (!IsSafeName(name) || !MakeDirectories(StateDirectory() + "/run"))
        return Result::Failed;
    int fd = open(LockPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kPrivateFileMode);
    if (fd < 0)
        return Result::Failed;
    // Each open() is its own description, so a second TryAcquire in this process conflicts
    // with the first just as another process would.
    struct flock lock = WholeFileLock(F_WRLCK);
    if (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        int error = errno;
        close(fd);
        return (error == EAGAIN || error == EACCES) ? Result::AlreadyExists : Result::Failed;
    }
    m_fd = fd;
    return Result::Acquired;
}

void CInstanceLock::Release() {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
}

bool CInstanceLock::IsHeldByAnyone(const std::string& name) {
    if (!IsSafeName(name))
        return false;
    int fd = open(LockPath(name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    // F_OFD_GETLK reports a conflicting lock without taking one. A read lock is enough to
    // ask with and works on a descriptor opened read-only.
    struct flock lock = WholeFileLock(F_RDLCK);
    bool held = fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    close(fd);
    return held;
}
