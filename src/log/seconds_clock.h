// The logged reading of the seconds clock.
#pragma once

// Whole seconds since 1970-01-01 00:00 UTC as a signed 32-bit number.
// Logs the reading (debug: the local date, info: the seconds).
int GetTimeInSeconds();
