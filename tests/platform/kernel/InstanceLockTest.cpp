#include "platform/kernel/InstanceLock.h"
#include "platform/kernel/Paths.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs `body` in a child process and returns its exit status.
template <typename F>
int InChild(F body) {
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(InstanceLockTest, SecondHolderIsRefusedAndTheProbeDoesNotTakeTheLock) {
    TempStateDir state;
    int toChild[2], fromChild[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(fromChild), 0);
    pid_t holder = fork();
    if (holder == 0) {
        CInstanceLock lock;
        char c = lock.TryAcquire("NorvaneEngineApp") == CInstanceLock::Result::Acquired ? 'y' : 'n';
        (void)!write(fromChild[1], &c, 1);
        (void)!read(toChild[0], &c, 1);  // hold until told
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(fromChild[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');

    EXPECT_TRUE(CInstanceLock::IsHeldByAnyone("NorvaneEngineApp"));
    EXPECT_TRUE(CInstanceLock::IsHeldByAnyone("NorvaneEngineApp"));  // probing took nothing
    CInstanceLock second;
    EXPECT_EQ(second.TryAcquire("NorvaneEngineApp"), CInstanceLock::Result::AlreadyExists);
    EXPECT_FALSE(second.IsHeld());
    // Another process fares no better.
    EXPECT_EQ(InChild([] {
                  CInstanceLock lock;
                  return lock.TryAcquire("NorvaneEngineApp") ==
                                 CInstanceLock::Result::AlreadyExists
                             ? 0
                             : 1;
              }),
              0);

    // The holder dies without releasing: the lock is free again.
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_FALSE(CInstanceLock::IsHeldByAnyone("NorvaneEngineApp"));
    EXPECT_EQ(second.TryAcquire("NorvaneEngineApp"), CInstanceLock::Result::Acquired);
    close(toChild[0]);
    close(toChild[1]);
    close(fromChild[0]);
    close(fromChild[1]);
}

TEST(InstanceLockTest, OneProcessCannotTakeItsOwnLockTwice) {
    TempStateDir state;
    CInstanceLock first, second;
    ASSERT_EQ(first.TryAcquire("Twice"), CInstanceLock::Result::Acquired);
    EXPECT_EQ(second.TryAcquire("Twice"), CInstanceLock::Result::AlreadyExists);
    first.Release();
    EXPECT_EQ(second.TryAcquire("Twice"), CInstanceLock::Result::Acquired);
}

TEST(InstanceLockTest, StateFoldersKeepSeparateLocks) {
    TempStateDir a;
    CInstanceLock inA;
    ASSERT_EQ(inA.TryAcquire("NorvaneEngineApp"), CInstanceLock::Result::Acquired);
    TempStateDir b;  // points NORVANE_STATE_DIR elsewhere for its lifetime
    EXPECT_FALSE(CInstanceLock::IsHeldByAnyone("NorvaneEngineApp"));
    CInstanceLock inB;
    EXPECT_EQ(inB.TryAcquire("NorvaneEngineApp"), CInstanceLock::Result::Acquired);
}

TEST(InstanceLockTest, ProbeOfAMissingLockCreatesNothing) {
    TempStateDir state;
    EXPECT_FALSE(CInstanceLock::IsHeldByAnyone("Nobody"));
    EXPECT_NE(access((StateDirectory() + "/run").c_str(), F_OK), 0);
}

TEST(InstanceLockTest, UnsafeNamesAreRefused) {
    TempStateDir state;
    CInstanceLock lock;
    EXPECT_EQ(lock.TryAcquire("../escape"), CInstanceLock::Result::Failed);
    EXPECT_EQ(lock.TryAcquire(""), CInstanceLock::Result::Failed);
}

TEST(PathsTest, ProgramPathNamesThisTestProgram) {
    std::string path = ProgramPath();
    ASSERT_FALSE(path.empty());
    EXPECT_NE(path.find("norvane_tests"), std::string::npos);
    EXPECT_EQ(ProgramDirectory(), path.substr(0, path.rfind('/')));
}

TEST(PathsTest, SafeNames) {
    EXPECT_TRUE(IsSafeName("Web Proxy"));
    for (const char* bad : {"", ".", "..", "a/b", "a\\b", "tab\there"})
        EXPECT_FALSE(IsSafeName(bad)) << bad;
    EXPECT_FALSE(IsSafeName(std::string("nul\0x", 5)));
}

}  // namespace
