// Tick counts: milliseconds of a monotonic clock (CLOCK_MONOTONIC), which
// never goes back when the wall clock is set. Safe from any thread.
#pragma once

#include <cstdint>

#include "platform/com/WinTypes.h"

// Milliseconds since an unspecified start; wraps after about 49.7 days like
// the original platform's count, so compare with unsigned subtraction.
DWORD GetTickCount();
// The same count without wrapping.
std::uint64_t GetTickCount64();
