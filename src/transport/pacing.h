// The arithmetic of bandwidth-limited downloads: how long to pause after a
// window or a block, and the wall-clock difference it is measured with.
// Pure; the download loops do the sleeping.
#pragma once

#include <windows.h>

// Window method: after R x 1000 bytes, sleep out the rest of the second
// when the window took less than 900 ms, else 100 ms.
DWORD WindowPacingSleepMs(long long elapsedMs);
// Block method: after each R x 500-byte request, sleep out the rest of 600 ms
// when the block took at most 449 ms, else 100 ms.
DWORD BlockPacingSleepMs(long long elapsedMs);
// Milliseconds from `earlier` to `later` (local wall-clock readings): the
// difference of the seconds of the day, taken in 16 bits, times 1000, plus
// the difference of the milliseconds.
long long WallClockElapsedMs(const SYSTEMTIME& earlier, const SYSTEMTIME& later);
