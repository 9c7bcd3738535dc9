// The progress meter of one download: told the bytes so far and the time,
// it decides whether the log hears of it, with what text, and whether the
// agent's record of the deployment's progress is due. Pure: the caller
// reads the clock and does the writing (download_progress.h).
#pragma once

#include <string>

// A body as it starts.
struct ProgressStart {
  std::wstring urlPath;  // as the request sent it
  bool lengthKnown = false;
  unsigned long long length = 0;     // the whole body, when known
  unsigned long long resumedAt = 0;  // bytes already there from an earlier run
};

// What the meter answers to one reading.
struct ProgressNote {
  // The log line, without its line end; empty when there is nothing to say.
  std::string line;
  // The agent's record is due (the first reading, then at most every 5 s).
  bool record = false;
};

class ProgressMeter {
 public:
  // Times are milliseconds of any clock that only goes forward.
  static const unsigned long long kFloorMs = 2000;     // never two lines closer
  static const unsigned long long kCeilingMs = 30000;  // never longer silent
  static const unsigned long long kRateSpanMs = 10000;
  static const unsigned long long kRecordEveryMs = 5000;

  // A new body: what is said counts from here. The record's pace goes on
  // from body to body.
  void Begin(const ProgressStart& start, unsigned long long nowMs);
  // `done` bytes of the whole body are there at `nowMs`. A line comes at
  // each whole 10% step and at least every 30 s, never within 2 s of the
  // body's start or of the last line.
  ProgressNote Update(unsigned long long done, unsigned long long nowMs);
  // The record of the last reading: "<file index>/<file count> <done>/<length>",
  // "?" for an unknown length.
  std::string RecordValue(int fileIndex, int fileCount) const;

 private:
  struct Sample {
    unsigned long long ms;
    unsigned long long bytes;
  };
  static const int kSamples = 12;  // one a second at most: over 10 s of them

  void Sampled(unsigned long long done, unsigned long long nowMs);
  // Bytes a second over the last 10 s, from the samples.
  unsigned long long Rate(unsigned long long done, unsigned long long nowMs) const;
  std::string Line(unsigned long long done, unsigned long long nowMs) const;

  ProgressStart start_;
  std::string urlText_;  // the path as the line shows it
  unsigned long long done_ = 0;
  unsigned long long lastLineMs_ = 0;
  unsigned lastStep_ = 0;
  bool resumeSaid_ = false;
  bool recorded_ = false;
  unsigned long long lastRecordMs_ = 0;
  Sample samples_[kSamples] = {};
  int newest_ = 0;
  int count_ = 0;
};

// --- pure pieces, exposed for tests ---
// Binary units with one decimal: "512 B", "1.5 KiB", "3.0 MiB", "1.2 GiB".
std::string HumanBytes(unsigned long long bytes);
// "512.0 KiB/s" below 1 MiB a second, else "1.5 MiB/s".
std::string HumanRate(unsigned long long bytesPerSecond);
// "h:mm:ss".
std::string ClockText(unsigned long long seconds);
