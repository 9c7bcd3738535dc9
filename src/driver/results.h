// What a deployment leaves for the server besides its exit code and remark:
// the tracking values and, for the log collection, the start of the current
// installation attempt.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "driver/flow_state.h"

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

// After a success: reads what Click-to-Run now reports, logs it and every
// difference from what this run asked for, and records
// "InstalledOfficeVersion" and "InstalledOfficeVerified" under KQTracking.
OfficeVerificationResult RecordInstalledOffice();

// The run's closing line: its exit code and meaning, the source that
// installed, this run's remark and the check of the installed Office.
void LogRunSummary(int exitCode, const FlowState& state, const std::string& remark);

// --- pure, exposed for tests ---
// The meanings of the exit codes, the one table the README's copies.
struct ExitCodeMeaning {
  int code;
  const char* meaning;
};
const std::vector<ExitCodeMeaning>& ExitCodeMeanings();
// The meaning of a code outside the table.
extern const char kOtherExitCodeMeaning[];
const char* MeaningOfExitCode(int code);
// The closing line's text, without its line end.
std::string RunSummaryText(int exitCode, InstallSource source, const std::string& remark,
                           const std::optional<OfficeVerificationResult>& verification);
