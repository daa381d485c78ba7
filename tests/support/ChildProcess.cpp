#include "support/ChildProcess.h"

#include <cerrno>
#include <grp.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

pid_t StartTestProcess(const std::string& testName, const std::vector<std::string>& env) {
    std::vector<std::string> args = {"/proc/self/exe", "--gtest_filter=" + testName,
                                     "--gtest_also_run_disabled_tests"};
    std::vector<std::string> vars(env);
    for (char** e = environ; *e; ++e)
        vars.emplace_back(*e);  // after `env`: the first of two equal names wins
    std::vector<char*> argv, envp;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& v : vars)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), envp.data()) != 0)
        return -1;
    return pid;
}

int WaitTestProcess(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool DropRootRights() {
    if (geteuid() != 0)
        return true;
    return setgroups(0, nullptr) == 0 && setgid(kNobodyId) == 0 && setuid(kNobodyId) == 0;
}
