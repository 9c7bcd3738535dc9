// Where the progress meter of a download speaks: the agent log, and, for a
// deployment's downloads, the DownloadProgress value the agent reads
// ("<file index>/<file count> <done bytes>/<total bytes or ?>", REG_SZ).
// Fed by the transfer's body loop; one per deployment, or one per body when
// the caller gives none.
#pragma once

#include <string>

#include "transport/progress_meter.h"

class ProgressReporter {
 public:
  // From now on DownloadProgress is also written under `key`
  // (HKEY_LOCAL_MACHINE), at most every 5 s.
  void RecordUnder(const std::string& key) { recordKey_ = key; }
  // The file the next bodies belong to: its place in the list, 1 of 1
  // outside a list.
  void SetFile(int index, int count) {
    fileIndex_ = index;
    fileCount_ = count;
  }
  // A body starts; `start.resumedAt` bytes of it are already there.
  void Begin(const ProgressStart& start);
  // `done` bytes of the whole body are there. Cheap when the meter has
  // nothing to say: one clock reading.
  void Advance(unsigned long long done);
  // Deletes the DownloadProgress this reporter wrote; nothing when it wrote
  // none.
  void RemoveRecord();

  unsigned lines() const { return lines_; }
  unsigned records() const { return records_; }

 private:
  ProgressMeter meter_;
  std::string recordKey_;
  int fileIndex_ = 1;
  int fileCount_ = 1;
  bool recordPresent_ = false;
  unsigned lines_ = 0;
  unsigned records_ = 0;
};
