#include "platform/service/ServiceProcess.h"

#include "platform/service/ControlEndpoint.h"
#include "platform/service/ControlProtocol.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Everything below runs between fork and exec, where only async-signal-safe calls are allowed:
// all memory it touches was prepared before the fork.

void CloseFrom(int first) {
#ifdef SYS_close_range
    if (syscall(SYS_close_range, static_cast<unsigned>(first), ~0U, 0) == 0)
        return;
#endif
    for (int fd = first; fd < 65536; ++fd)
        close(fd);
}

[[noreturn]] void ExecDetached(const char* program, char* const argv[], char* const envp[],
                               int endpointFd, int startFd) {
    if (setsid() < 0)
        _exit(127);
    pid_t pid = fork();
    if (pid != 0)
        _exit(pid < 0 ? 127 : 0);  // the middle process ends, so init adopts the program

    // Move the handed descriptors out of the way before placing them at 3 and 4.
    int endpoint = fcntl(endpointFd, F_DUPFD, 16);
    int start = fcntl(startFd, F_DUPFD, 16);
    int null = open("/dev/null", O_RDWR);
    if (endpoint < 0 || start < 0 || null < 0)
        _exit(127);
    if (dup2(null, 0) < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0 ||
        dup2(endpoint, ControlProtocol::kEndpointFd) < 0 ||
        dup2(start, ControlProtocol::kStartFd) < 0)
        _exit(127);
    CloseFrom(ControlProtocol::kStartFd + 1);

    struct sigaction dfl{};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (chdir("/") != 0)
        _exit(127);

    execve(program, argv, envp);
    int error = errno;
    auto message = ControlProtocol::EncodeStartMessage(
        {ControlProtocol::kStartExecFailed, static_cast<DWORD>(error)});
    ssize_t ignored = write(ControlProtocol::kStartFd, message.data(), message.size());
    (void)ignored;
    _exit(127);
}

}  // namespace

DWORD SpawnDetachedProgram(const std::string& program, int endpointFd, int startFd,
                           const std::vector<std::pair<std::string, std::string>>& environment) {
    std::vector<std::string> envStrings;
    for (char** e = environ; e && *e; ++e) {
        std::string entry(*e);
        bool replaced = false;
        for (const auto& [name, value] : environment)
            replaced = replaced || entry.compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced)
            envStrings.push_back(std::move(entry));
    }
    for (const auto& [name, value] : environment)
        envStrings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : envStrings)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string argv0 = program;
    char* argv[] = {argv0.data(), nullptr};

    pid_t pid = fork();
    if (pid < 0)
        return ErrorFromErrno(errno);
    if (pid == 0)
        ExecDetached(program.c_str(), argv, envp.data(), endpointFd, startFd);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno == ECHILD)  // someone reaps children for us (SIGCHLD ignored)
            return ERROR_SUCCESS;
        if (errno != EINTR)
            return ERROR_PROCESS_ABORTED;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return ERROR_PROCESS_ABORTED;
    return ERROR_SUCCESS;
}
