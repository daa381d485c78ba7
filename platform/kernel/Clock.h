#pragma once
// Time for time-outs and idle deadlines. Deadlines are always computed on the 64-bit monotonic
// millisecond clock; the 32-bit tick count exists only for the places that show one (it wraps
// after 49.7 days and must never be compared across a wrap).

#include "platform/kernel/Types.h"

#include <cstdint>

// Milliseconds since an arbitrary fixed point; never goes backwards, never wraps.
std::uint64_t GetTickCount64();

// The low 32 bits of GetTickCount64().
DWORD GetTickCount();

// Suspends the calling thread for at least `ms` milliseconds. Sleep(0) yields.
void Sleep(DWORD ms);

// The wall-clock time broken down in the host's time zone (daylight saving included).
// Months count from 1, wDayOfWeek from 0 = Sunday.
struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

// The current local time. Never fails: a clock the C library cannot break down reads as
// 1970-01-01 00:00:00.
void GetLocalTime(SYSTEMTIME* time);

// The calling thread's last kernel-layer error (see Types.h for the numbers).
DWORD GetLastError();
void SetLastError(DWORD error);
