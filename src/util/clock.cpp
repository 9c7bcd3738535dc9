#include "util/clock.h"

long long FileTimeToUnixSeconds(const FILETIME& utc) {
  ULARGE_INTEGER value;
  value.LowPart = utc.dwLowDateTime;
  value.HighPart = utc.dwHighDateTime;
  // 100 ns ticks between 1601-01-01 and 1970-01-01.
  const unsigned long long kEpochDelta = 116444736000000000ULL;
  if (value.QuadPart < kEpochDelta) return -static_cast<long long>((kEpochDelta - value.QuadPart) / 10000000ULL);
  return static_cast<long long>((value.QuadPart - kEpochDelta) / 10000000ULL);
}

long long UnixSecondsNow(SYSTEMTIME* local) {
  SYSTEMTIME wallClock;
  GetLocalTime(&wallClock);
  SYSTEMTIME utc;
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &wallClock, &utc)) GetSystemTime(&utc);
  FILETIME ft;
  SystemTimeToFileTime(&utc, &ft);
  if (local) *local = wallClock;
  return FileTimeToUnixSeconds(ft);
}
