#include "transport/pacing.h"

#include <cstdint>

DWORD WindowPacingSleepMs(long long elapsedMs) {
  if (elapsedMs < 0) elapsedMs = 0;
  return elapsedMs < 900 ? static_cast<DWORD>(1000 - elapsedMs) : 100;
}

DWORD BlockPacingSleepMs(long long elapsedMs) {
  if (elapsedMs < 0) elapsedMs = 0;
  return elapsedMs <= 449 ? static_cast<DWORD>(600 - elapsedMs) : 100;
}

long long WallClockElapsedMs(const SYSTEMTIME& earlier, const SYSTEMTIME& later) {
  const int first = earlier.wHour * 3600 + earlier.wMinute * 60 + earlier.wSecond;
  const int second = later.wHour * 3600 + later.wMinute * 60 + later.wSecond;
  // The seconds of the day do not fit 16 bits, but their difference over a
  // window does, and 16-bit arithmetic keeps it right across the wrap.
  const int16_t seconds = static_cast<int16_t>(static_cast<uint16_t>(second - first));
  return static_cast<long long>(seconds) * 1000 + (static_cast<int>(later.wMilliseconds) - earlier.wMilliseconds);
}
