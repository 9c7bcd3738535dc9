#include "util/clock.h"

#include <gtest/gtest.h>

TEST(SecondsClock, FileTimeConversionKnownPoints) {
  FILETIME ft;
  ULARGE_INTEGER v;
  v.QuadPart = 116444736000000000ULL;  // 1970-01-01 00:00:00 UTC
  ft.dwLowDateTime = v.LowPart;
  ft.dwHighDateTime = v.HighPart;
  EXPECT_EQ(FileTimeToUnixSeconds(ft), 0);
  v.QuadPart += 1715299200ULL * 10000000ULL;  // 2024-05-10 00:00:00 UTC
  ft.dwLowDateTime = v.LowPart;
  ft.dwHighDateTime = v.HighPart;
  EXPECT_EQ(FileTimeToUnixSeconds(ft), 1715299200);
}

TEST(SecondsClock, MatchesSystemUtcTime) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  long long expected = FileTimeToUnixSeconds(now);
  long long seconds = UnixSecondsNow(nullptr);
  EXPECT_LE(expected, seconds);
  EXPECT_GE(expected + 5, seconds);  // independent of the zone and daylight saving
}
