#include "log/seconds_clock.h"

#include <cstdio>

#include "log/agent_log.h"
#include "util/clock.h"

int GetTimeInSeconds() {
  SYSTEMTIME local;
  int seconds = static_cast<int>(UnixSecondsNow(&local));
  char date[64];
  snprintf(date, sizeof(date), "%04d-%02d-%02d %02d:%02d:%02d", local.wYear, local.wMonth, local.wDay, local.wHour,
           local.wMinute, local.wSecond);
  LogDebug("GetTimeInSeconds : retDate :: %s\n", date);
  LogInfo("GetTimeInSeconds : Time in Second : %d\n", seconds);
  return seconds;
}
