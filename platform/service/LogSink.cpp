#include "platform/service/LogSink.h"

#include "platform/kernel/Paths.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <syslog.h>
#include <unistd.h>

void SyslogWrite(const std::string& ident, int priority, const std::string& text) {
    // openlog keeps the pointer it is given, so the ident lives in storage that outlasts every
    // call and only changes under the lock.
    static std::mutex* lock = new std::mutex;
    static std::string* current = new std::string;
    std::lock_guard<std::mutex> guard(*lock);
    if (*current != ident || current->empty()) {
        closelog();
        *current = ident;
        openlog(current->c_str(), LOG_PID | LOG_NDELAY, LOG_DAEMON);
    }
    syslog(LOG_DAEMON | priority, "%s", text.c_str());
}

bool AppendLineToFile(const std::string& path, const std::string& line) {
    if (path.empty())
        return false;
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY,
                  kPrivateFileMode);
    if (fd < 0)
        return false;
    const char* at = line.data();
    std::size_t left = line.size();
    bool ok = true;
    while (left > 0) {
        ssize_t n = write(fd, at, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        at += n;
        left -= static_cast<std::size_t>(n);
    }
    return close(fd) == 0 && ok;
}

std::string LocalTimeStamp(bool millis) {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t seconds = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    if (millis) {
        auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
        std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(ms));
    }
    return text;
}

std::string OneLine(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}
