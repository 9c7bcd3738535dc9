// What a deployment leaves for the server besides its exit code and remark:
// the tracking values and, for the log collection, the start of the current
// installation attempt.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "driver/flow_state.h"

// Writes OfficeInstallFlow = flow and LastKQDataModifiedTime = now under the
// tracking key.
void RecordTrackingValues(const std::string& trackingKey, int flow);
// Remembers the local date and the UTC file time of this attempt's start.
void RecordInstallationStart();

struct InstallationStart {
  std::string date;  // local date, yyyymmdd
  ULONGLONG fileTime = 0;  // UTC, 100 ns since 1601
};
const InstallationStart& GetInstallationStart();

// --- pure, exposed for tests ---
// The agent's tracking key for the process's WOW64 state.
std::string TrackingKeyPath(const reg_path::AgentKeys& keys, bool wow64);
// The installation start date text, "%04d%02d%02d".
std::string InstallationDateText(const SYSTEMTIME& local);

// After a success: reads what Click-to-Run now reports, logs it and every
// difference from what this run asked for, and records
// "InstalledOfficeVersion" and "InstalledOfficeVerified" under the tracking
// key. What was asked for comes from `office`.
OfficeVerificationResult RecordInstalledOffice(const std::string& trackingKey, const OfficeState& office);

// The run's closing line: its exit code and what it means from the step
// that gave it, the source that installed, this run's remark and the check of
// the installed Office.
void LogRunSummary(int exitCode, const FlowState& state, const std::string& remark);

// --- pure, exposed for tests ---
// The meanings of the exit codes by the step that gave them: the one table
// the closing line and the README's copy come from. A row with `other` holds
// for every code of its step that has no row of its own.
struct ExitCodeMeaning {
  RunStep step;
  bool other;
  int code;
  const char* meaning;
};
const std::vector<ExitCodeMeaning>& ExitCodeMeanings();
// The step as the README's table names it.
const char* StepName(RunStep step);
std::string MeaningOfExitCode(RunStep step, int code);
// The closing line's text, without its line end.
std::string RunSummaryText(int exitCode, RunStep step, InstallSource source, const std::string& remark,
                           const std::optional<OfficeVerificationResult>& verification);
