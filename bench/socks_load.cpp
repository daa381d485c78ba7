// The short-connection load of bench/socks.sh: CLIENTS threads, each opening connection after
// connection for SECONDS, every one fetching PATH from the origin on 127.0.0.1:ORIGIN-PORT
// with "GET PATH HTTP/1.0" and reading the answer to its end:
//
//   socks_load direct ORIGIN-PORT PATH CLIENTS SECONDS
//   socks_load socks5 ORIGIN-PORT PATH CLIENTS SECONDS PROXY-PORT
//
// socks5 goes through the SOCKS 5 server on 127.0.0.1:PROXY-PORT as curl does: the greeting
// (no authentication), its answer, the CONNECT request (target by address), its answer, then
// the request. A connection counts when its answer is complete (at least MIN-BYTES bytes,
// the last argument, default 1); anything else is an error. Prints one line:
//
//   RESULT <microseconds> <connections> <bytes> <errors>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Options {
    bool socks = false;
    int originPort = 0;
    std::string path;
    int clients = 16;
    int seconds = 10;
    int proxyPort = 0;
    long minBytes = 1;
};

std::atomic<long> g_connections{0}, g_bytes{0}, g_errors{0};

int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(port));
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const std::string& bytes) {
    return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

bool ReceiveExactly(int fd, char* buffer, size_t count) {
    size_t got = 0;
    while (got < count) {
        const ssize_t n = recv(fd, buffer + got, count - got, 0);
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

// One connection; the answer's byte count, or -1.
long OneConnection(const Options& o) {
    const int fd = Connect(o.socks ? o.proxyPort : o.originPort);
    if (fd < 0)
        return -1;
    char buffer[65536];
    bool ok = true;
    if (o.socks) {
        const std::string greeting = {5, 1, 0};
        const std::string connectRequest = {5, 1, 0, 1, 127, 0, 0, 1,
                                            static_cast<char>(o.originPort >> 8),
                                            static_cast<char>(o.originPort & 0xFF)};
        ok = SendAll(fd, greeting) && ReceiveExactly(fd, buffer, 2) && buffer[0] == 5 &&
             buffer[1] == 0 && SendAll(fd, connectRequest) && ReceiveExactly(fd, buffer, 10) &&
             buffer[0] == 5 && buffer[1] == 0;
    }
    long total = 0;
    if (ok && SendAll(fd, "GET " + o.path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n")) {
        for (;;) {
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n < 0) {
                ok = false;
                break;
            }
            if (n == 0)
                break;
            total += n;
        }
    }
    close(fd);
    return ok && total >= o.minBytes ? total : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s direct|socks5 ORIGIN-PORT PATH CLIENTS SECONDS [PROXY-PORT [MIN-BYTES]]\n",
                     argv[0]);
        return 2;
    }
    Options o;
    o.socks = std::strcmp(argv[1], "socks5") == 0;
    o.originPort = std::atoi(argv[2]);
    o.path = argv[3];
    o.clients = std::atoi(argv[4]);
    o.seconds = std::atoi(argv[5]);
    if (argc > 6)
        o.proxyPort = std::atoi(argv[6]);
    if (argc > 7)
        o.minBytes = std::atol(argv[7]);

    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(o.seconds);
    std::vector<std::thread> clients;
    for (int i = 0; i < o.clients; ++i) {
        clients.emplace_back([&] {
            while (std::chrono::steady_clock::now() < end) {
                const long got = OneConnection(o);
                if (got < 0) {
                    ++g_errors;
                } else {
                    ++g_connections;
                    g_bytes += got;
                }
            }
        });
    }
    for (std::thread& t : clients)
        t.join();
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    std::printf("RESULT %lld %ld %ld %ld\n", static_cast<long long>(us), g_connections.load(),
                g_bytes.load(), g_errors.load());
    return 0;
}
