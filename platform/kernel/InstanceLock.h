#pragma once
// The single-instance lock: one holder per name and state folder, across processes.
//
// The lock is an open-file-description lock on $NORVANE_STATE_DIR/run/<name>.lock. It belongs
// to the open file, not to a thread, and the kernel drops it when the holder's process ends
// however it ends, so a crashed engine never blocks the next start. Two state folders give two
// independent locks of the same name.

#include <string>

class CInstanceLock {
public:
    enum class Result { Acquired, AlreadyExists, Failed };

    CInstanceLock() = default;
    ~CInstanceLock() { Release(); }
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // Takes the lock `name` without waiting. AlreadyExists when another holder has it (this
    // process included); Failed when the lock file cannot be created.
    Result TryAcquire(const std::string& name);

    // Lets go of the lock, if held.
    void Release();

    bool IsHeld() const { return m_fd >= 0; }

    // True when some holder has the lock `name` now. Never takes the lock, and never creates
    // the lock file or its folder (a missing file means nobody holds it).
    static bool IsHeldByAnyone(const std::string& name);

    // $NORVANE_STATE_DIR/run/<name>.lock
    static std::string LockPath(const std::string& name);

private:
    int m_fd = -1;
};
