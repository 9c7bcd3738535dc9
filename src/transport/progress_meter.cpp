#include "transport/progress_meter.h"

#include "util/text.h"

namespace {

const unsigned long long kKiB = 1024;
const unsigned long long kSampleEveryMs = 1000;

unsigned long long Since(unsigned long long earlier, unsigned long long later) {
  return later > earlier ? later - earlier : 0;
}

// `value` in tenths of `unit`, rounded.
unsigned long long Tenths(unsigned long long value, unsigned long long unit) { return (value * 10 + unit / 2) / unit; }

std::string Decimal(unsigned long long tenths, const char* unit) {
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " " + unit;
}

std::string TwoDigits(unsigned long long value) { return (value < 10 ? "0" : "") + std::to_string(value); }

unsigned Percent(unsigned long long done, unsigned long long length) {
  if (done >= length) return 100;
  // Lengths beyond what a hundredfold holds are far beyond any real file.
  return static_cast<unsigned>(done <= ~0ULL / 100 ? done * 100 / length : done / (length / 100));
}

}  // namespace

std::string HumanBytes(unsigned long long bytes) {
  if (bytes < kKiB) return std::to_string(bytes) + " B";
  // A unit is left once its value would round to 1024.0 of it.
  const char* const units[] = {"KiB", "MiB", "GiB"};
  unsigned long long unit = kKiB;
  for (int i = 0; i < 2; ++i, unit *= kKiB) {
    if (Tenths(bytes, unit) < 10240) return Decimal(Tenths(bytes, unit), units[i]);
  }
  return Decimal(Tenths(bytes, unit), units[2]);
}

std::string HumanRate(unsigned long long bytesPerSecond) {
  if (Tenths(bytesPerSecond, kKiB) < 10240) return Decimal(Tenths(bytesPerSecond, kKiB), "KiB/s");
  return Decimal(Tenths(bytesPerSecond, kKiB * kKiB), "MiB/s");
}

std::string ClockText(unsigned long long seconds) {
  return std::to_string(seconds / 3600) + ":" + TwoDigits(seconds / 60 % 60) + ":" + TwoDigits(seconds % 60);
}

void ProgressMeter::Begin(const ProgressStart& start, unsigned long long nowMs) {
  start_ = start;
  urlText_ = ChangeWideToUtf8Str(start.urlPath);
  // An announced length of nothing tells as little as none.
  if (start_.length == 0) start_.lengthKnown = false;
  done_ = start_.lengthKnown && start_.resumedAt > start_.length ? start_.length : start_.resumedAt;
  lastLineMs_ = nowMs;
  lastStep_ = start_.lengthKnown ? Percent(done_, start_.length) / 10 : 0;
  resumeSaid_ = start_.resumedAt == 0;
  // The rate counts only what arrives from now on.
  samples_[0] = Sample{nowMs, done_};
  newest_ = 0;
  count_ = 1;
}

void ProgressMeter::Sampled(unsigned long long done, unsigned long long nowMs) {
  if (Since(samples_[newest_].ms, nowMs) < kSampleEveryMs) return;
  newest_ = (newest_ + 1) % kSamples;
  samples_[newest_] = Sample{nowMs, done};
  if (count_ < kSamples) ++count_;
}

unsigned long long ProgressMeter::Rate(unsigned long long done, unsigned long long nowMs) const {
  // The newest sample at least 10 s old, else the oldest there is.
  const int oldest = (newest_ - count_ + 1 + kSamples) % kSamples;
  Sample base = samples_[oldest];
  for (int i = 0; i < count_; ++i) {
    const Sample& sample = samples_[(oldest + i) % kSamples];
    if (Since(sample.ms, nowMs) >= kRateSpanMs) base = sample;
  }
  const unsigned long long span = Since(base.ms, nowMs);
  return span == 0 || done < base.bytes ? 0 : (done - base.bytes) * 1000 / span;
}

std::string ProgressMeter::Line(unsigned long long done, unsigned long long nowMs) const {
  const unsigned long long rate = Rate(done, nowMs);
  std::string line = "Download progress : " + urlText_ + " " + HumanBytes(done);
  if (start_.lengthKnown) {
    line += " of " + HumanBytes(start_.length) + " (" + std::to_string(Percent(done, start_.length)) + "%)";
  }
  line += ", " + HumanRate(rate);
  // Nothing arriving gives no time to claim.
  if (start_.lengthKnown && rate != 0) {
    line += ", about " + ClockText((start_.length - done + rate - 1) / rate) + " left";
  }
  if (!resumeSaid_) line += ", resumed at " + HumanBytes(start_.resumedAt);
  return line;
}

ProgressNote ProgressMeter::Update(unsigned long long done, unsigned long long nowMs) {
  // A server that sends more than it announced never takes the meter past
  // the whole.
  if (start_.lengthKnown && done > start_.length) done = start_.length;
  done_ = done;
  ProgressNote note;
  if (!recorded_ || Since(lastRecordMs_, nowMs) >= kRecordEveryMs) {
    recorded_ = true;
    lastRecordMs_ = nowMs;
    note.record = true;
  }
  Sampled(done, nowMs);
  const unsigned long long quiet = Since(lastLineMs_, nowMs);
  if (quiet < kFloorMs) return note;
  const unsigned step = start_.lengthKnown ? Percent(done, start_.length) / 10 : 0;
  if (quiet < kCeilingMs && step <= lastStep_) return note;
  note.line = Line(done, nowMs);
  lastLineMs_ = nowMs;
  lastStep_ = step;
  resumeSaid_ = true;
  return note;
}

std::string ProgressMeter::RecordValue(int fileIndex, int fileCount) const {
  return std::to_string(fileIndex) + "/" + std::to_string(fileCount) + " " + std::to_string(done_) + "/" +
         (start_.lengthKnown ? std::to_string(start_.length) : std::string("?"));
}
