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

// The calling thread's last kernel-layer error (see Types.h for the numbers).
DWORD GetLastError();
void SetLastError(DWORD error);
