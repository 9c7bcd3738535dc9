// What a deployment leaves for the server besides its exit code and remark:
// the tracking values and, for the log collection, the start of the current
// installation attempt.
#pragma once

#include <windows.h>

#include <string>

// Writes OfficeInstallFlow = flow and LastKQDataModifiedTime = now.
void RecordTrackingValues(int flow);
// Remembers the local date and the UTC file time of this attempt's start.
void RecordInstallationStart();

struct InstallationStart {
  std::string date;  // local date, yyyymmdd
  ULONGLONG fileTime = 0;  // UTC, 100 ns since 1601
};
const InstallationStart& GetInstallationStart();

// --- pure, exposed for tests ---
// The tracking key for the process's WOW64 state.
std::string TrackingKeyPath(bool wow64);
// The installation start date text, "%04d%02d%02d".
std::string InstallationDateText(const SYSTEMTIME& local);
