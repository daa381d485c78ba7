#include "platform/net/SocketStartup.h"

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

bool SocketStartup() {
    std::signal(SIGPIPE, SIG_IGN);
    int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return false;
    close(probe);
    return true;
}
