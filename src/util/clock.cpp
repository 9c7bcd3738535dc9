#include "util/clock.h"

#include <cstdio>

#include "log/agent_log.h"

long long FileTimeToUnixSeconds(const FILETIME& utc) {
  ULARGE_INTEGER value;
  value.LowPart = utc.dwLowDateTime;
  value.HighPart = utc.dwHighDateTime;
  // 100 ns ticks between 1601-01-01 and 1970-01-01.
  const unsigned long long kEpochDelta = 116444736000000000ULL;
  if (value.QuadPart < kEpochDelta) return -static_cast<long long>((kEpochDelta - value.QuadPart) / 10000000ULL);
  return static_cast<long long>((value.QuadPart - kEpochDelta) / 10000000ULL);
}

int GetTimeInSeconds() {
  // Local wall-clock time converted back to UTC through the time-zone rules,
  // so the result does not depend on the machine's zone or daylight saving.
  SYSTEMTIME local;
  GetLocalTime(&local);
  SYSTEMTIME utc;
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc)) GetSystemTime(&utc);
  FILETIME ft;
  SystemTimeToFileTime(&utc, &ft);
  char date[64];
  snprintf(date, sizeof(date), "%04d-%02d-%02d %02d:%02d:%02d", local.wYear, local.wMonth, local.wDay,
           local.wHour, local.wMinute, local.wSecond);
  LogDebug("GetTimeInSeconds : retDate :: %s\n", date);
  int seconds = static_cast<int>(FileTimeToUnixSeconds(ft));
  LogInfo("GetTimeInSeconds : Time in Second : %d\n", seconds);
  return seconds;
}
