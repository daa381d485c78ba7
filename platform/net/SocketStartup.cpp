#include "platform/net/SocketStartup.h"

#include <csignal>
#include <cstdint>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

bool SocketStartup() {
    std::signal(SIGPIPE, SIG_IGN);
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);  // a refusal leaves the limit as it was
    }
    int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return false;
    close(probe);
    return true;
}

std::size_t DescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return SIZE_MAX;
    return static_cast<std::size_t>(limit.rlim_cur);
}
