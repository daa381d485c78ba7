#pragma once
// Runs one test case of this test program in a process of its own: the program is started
// again (exec, so nothing of this process's state is shared) with --gtest_filter naming the
// case, which is normally a DISABLED_ one that only makes sense as such a helper.

#include <string>
#include <sys/types.h>
#include <vector>

// Starts the test `suite.name` with `env` ("NAME=value" entries) added to this process's
// environment. Returns the child's pid, or -1.
pid_t StartTestProcess(const std::string& testName, const std::vector<std::string>& env = {});

// Waits for a process from StartTestProcess; its exit code, or -1 when it did not exit
// normally.
int WaitTestProcess(pid_t pid);

// Drops root rights to the user and group "nobody" (65534) when running as root; returns
// false when that failed. Does nothing for other users.
bool DropRootRights();
inline constexpr unsigned kNobodyId = 65534;
