// The progress meter on a fake clock: when a download's progress is logged,
// what the line says, and when the agent's record is due.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transport/progress_meter.h"
#include "util/text.h"

namespace {

const unsigned long long KiB = 1024;
const unsigned long long MiB = 1024 * KiB;
const unsigned long long GiB = 1024 * MiB;
// A reading with this many bytes starts the same body again.
const unsigned long long kNewBody = ~0ULL;

struct Reading {
  unsigned long long done;
  unsigned long long ms;
  const char* line;   // after "Download progress : "; "" for none
  bool record;
  const char* value;  // the record as file 2 of 8; null: not looked at
};

struct Case {
  const char* what;
  const char* urlPath;
  bool lengthKnown;
  unsigned long long length;
  unsigned long long resumedAt;
  std::vector<Reading> readings;
};

}  // namespace

TEST(ProgressMeter, SpeaksByStepsFloorAndCeiling) {
  const Case cases[] = {
      {"whole 10% steps, never two lines within 2 s; the record at most every 5 s, from body to body",
       "/f", true, 100 * MiB, 0,
       {{10 * MiB, 1000, "", true, "2/8 10485760/104857600"},
        {20 * MiB, 2000, "/f 20.0 MiB of 100.0 MiB (20%), 10.0 MiB/s, about 0:00:08 left", false, nullptr},
        {30 * MiB, 3000, "", false, nullptr},
        {39 * MiB, 4000, "/f 39.0 MiB of 100.0 MiB (39%), 9.8 MiB/s, about 0:00:07 left", false, nullptr},
        {39 * MiB + MiB / 2, 5000, "", false, nullptr},
        {42 * MiB, 6000, "/f 42.0 MiB of 100.0 MiB (42%), 7.0 MiB/s, about 0:00:09 left", true, nullptr},
        {kNewBody, 7000, "", false, nullptr},
        {1 * MiB, 7500, "", false, nullptr},
        {2 * MiB, 11000, "", true, "2/8 2097152/104857600"}}},
      {"a body done within 2 s says nothing",
       "/f", true, 100 * MiB, 0,
       {{50 * MiB, 1000, "", true, nullptr}, {100 * MiB, 1999, "", false, nullptr}}},
      {"at least every 30 s, the rate over the last 10 s",
       "/f", true, 1000 * MiB, 0,
       {{100 * MiB, 10000, "/f 100.0 MiB of 1000.0 MiB (10%), 10.0 MiB/s, about 0:01:30 left", true, nullptr},
        {110 * MiB, 20000, "", true, nullptr},
        {120 * MiB, 30000, "", true, nullptr},
        {130 * MiB, 39999, "", true, nullptr},
        {130 * MiB, 40000, "/f 130.0 MiB of 1000.0 MiB (13%), 1.0 MiB/s, about 0:14:30 left", false, nullptr}}},
      {"a resume counts from what was there and says so once",
       "/f", true, 100 * MiB, 50 * MiB,
       {{55 * MiB, 2000, "", true, nullptr},
        {60 * MiB, 4000, "/f 60.0 MiB of 100.0 MiB (60%), 2.5 MiB/s, about 0:00:16 left, resumed at 50.0 MiB", false,
         nullptr},
        {75 * MiB, 8000, "/f 75.0 MiB of 100.0 MiB (75%), 3.1 MiB/s, about 0:00:08 left", true, nullptr}}},
      {"an unknown length: what arrived and the rate, every 30 s",
       "/u", false, 0, 0,
       {{10 * MiB, 10000, "", true, "2/8 10485760/?"},
        {20 * MiB, 20000, "", true, nullptr},
        {30 * MiB, 30000, "/u 30.0 MiB, 1.0 MiB/s", true, nullptr}}},
      {"a stall claims no time left",
       "/f", true, 100 * MiB, 0,
       {{10 * MiB, 2000, "/f 10.0 MiB of 100.0 MiB (10%), 5.0 MiB/s, about 0:00:18 left", true, nullptr},
        {10 * MiB, 32000, "/f 10.0 MiB of 100.0 MiB (10%), 0.0 KiB/s", true, nullptr}}},
      {"a server that sends more than it announced never goes past 100%",
       "/f", true, 10 * MiB, 0,
       {{5 * MiB, 1000, "", true, nullptr},
        {12 * MiB, 2000, "/f 10.0 MiB of 10.0 MiB (100%), 5.0 MiB/s, about 0:00:00 left", false, nullptr},
        {13 * MiB, 6000, "", true, "2/8 10485760/10485760"}}},
      {"binary units with one decimal, h:mm:ss",
       "/g", true, 2 * GiB, 0,
       {{3 * GiB / 2, 2000, "/g 1.5 GiB of 2.0 GiB (75%), 768.0 MiB/s, about 0:00:01 left", true, nullptr}}},
      {"bytes and KiB/s",
       "/b", true, 1000, 0,
       {{600, 2000, "/b 600 B of 1000 B (60%), 0.3 KiB/s, about 0:00:02 left", true, nullptr}}},
      {"hours",
       "/h", true, 1 * GiB, 0,
       {{20 * KiB, 2000, "", true, nullptr},
        {300 * KiB, 30000, "/h 300.0 KiB of 1.0 GiB (0%), 10.0 KiB/s, about 29:07:08 left", true, nullptr}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ProgressStart start{ChangeUtf8ToWideStr(c.urlPath), c.lengthKnown, c.length, c.resumedAt};
    ProgressMeter meter;
    meter.Begin(start, 0);
    for (const Reading& r : c.readings) {
      SCOPED_TRACE(r.ms);
      if (r.done == kNewBody) {
        meter.Begin(start, r.ms);
        continue;
      }
      const ProgressNote note = meter.Update(r.done, r.ms);
      EXPECT_EQ(note.line, *r.line ? "Download progress : " + std::string(r.line) : std::string());
      EXPECT_EQ(note.record, r.record);
      if (r.value) {
        EXPECT_EQ(meter.RecordValue(2, 8), r.value);
      }
    }
  }
}
