// The seconds clock that every stored time value of the deployment uses:
// whole seconds since 1970-01-01 00:00 UTC. The logged reading the
// deployment takes is GetTimeInSeconds (log/seconds_clock.h).
#pragma once

#include <windows.h>

// Seconds since 1970 for a UTC file time (pure).
long long FileTimeToUnixSeconds(const FILETIME& utc);

// The current time on that scale, read from the local wall-clock time and
// converted back to UTC through the time-zone rules, so the result does not
// depend on the machine's zone or daylight saving. `local` receives the
// wall-clock reading when given.
long long UnixSecondsNow(SYSTEMTIME* local);
