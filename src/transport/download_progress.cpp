#include "transport/download_progress.h"

#include <windows.h>

#include "agent/registry.h"
#include "log/agent_log.h"

namespace {

const char kRecordName[] = "DownloadProgress";

}  // namespace

void ProgressReporter::Begin(const ProgressStart& start) { meter_.Begin(start, GetTickCount64()); }

void ProgressReporter::Advance(unsigned long long done) {
  const ProgressNote note = meter_.Update(done, GetTickCount64());
  if (!note.line.empty()) {
    LogInfo("%s\n", note.line.c_str());
    ++lines_;
  }
  if (note.record && !recordKey_.empty()) {
    // A failed write is logged by the registry layer; the download goes on.
    const std::string value = meter_.RecordValue(fileIndex_, fileCount_);
    if (writeValue(HKEY_LOCAL_MACHINE, recordKey_.c_str(), kRecordName, value.c_str(), REG_SZ) == ERROR_SUCCESS) {
      recordPresent_ = true;
    }
    ++records_;
  }
}

void ProgressReporter::RemoveRecord() {
  if (!recordPresent_) return;
  deleteValue(HKEY_LOCAL_MACHINE, recordKey_.c_str(), kRecordName);
  recordPresent_ = false;
}
