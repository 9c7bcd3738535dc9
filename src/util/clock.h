// The seconds clock that every stored time value of the deployment uses.
#pragma once

#include <windows.h>

#include <string>

// Whole seconds since 1970-01-01 00:00 UTC as a signed 32-bit number.
// Logs the reading (debug: the local date, info: the seconds).
int GetTimeInSeconds();

// Seconds since 1970 for a UTC file time (pure; used by the clock and tests).
long long FileTimeToUnixSeconds(const FILETIME& utc);
