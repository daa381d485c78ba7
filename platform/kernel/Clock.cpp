#include "platform/kernel/Clock.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

std::uint64_t GetTickCount64() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

DWORD GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }

void Sleep(DWORD ms) {
    if (ms == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void GetLocalTime(SYSTEMTIME* time) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm parts{};
    if (localtime_r(&seconds, &parts) == nullptr) {
        parts = std::tm{};
        parts.tm_year = 70;
        parts.tm_mday = 1;
        parts.tm_wday = 4;
    }
    time->wYear = static_cast<WORD>(parts.tm_year + 1900);
    time->wMonth = static_cast<WORD>(parts.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(parts.tm_wday);
    time->wDay = static_cast<WORD>(parts.tm_mday);
    time->wHour = static_cast<WORD>(parts.tm_hour);
    time->wMinute = static_cast<WORD>(parts.tm_min);
    // A leap second (60) is folded into the minute's last second.
    time->wSecond = static_cast<WORD>(parts.tm_sec > 59 ? 59 : parts.tm_sec);
    time->wMilliseconds = static_cast<WORD>(millis < 0 ? 0 : millis);
}

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD error) { t_lastError = error; }
