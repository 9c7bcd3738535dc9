// Size-driven rotation of the agent log. Armed by InitializeAgentLog before
// the log opens and stopped by CloseAgentLog.
//
// When the live log has reached the threshold it is copied to backup 1 and
// emptied in place (the agent log keeps it open for appending), older backups
// move up one number, and the one beyond the kept generations is dropped.
// Backups are named <base><N><extension> beside the live file, where base is
// the file name up to its extension: rzprereqhandler1.log is the newest.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct LogRotationSettings {
  std::string folder;
  std::string fileName;
  int generations = 5;  // the live file plus generations - 1 backups
  unsigned long long thresholdBytes = 2000000;
  unsigned periodMs = 900000;
  bool timerOn = true;
};

// With the timer on, creates the timer queue and runs the first check at once
// (LoggerTimerMethod), which arms the next one; with the timer off, runs one
// check only. A rotation started earlier is stopped first, so rotation can be
// started again after StopLogRotation.
void StartLogRotation(const LogRotationSettings& settings);
// Ends the checks: deletes the timer queue and waits for a check that is
// running, so none runs once this returns. Calling it again does nothing.
void StopLogRotation();

// The period of the next check while a timer is armed; 0 when none is (the
// timer is off, or rotation stopped).
unsigned ArmedRotationPeriodMs();

// One check, then a one-shot timer that calls LoggerTimerRoutine after the
// period; re-arming only after the check means checks never overlap. Returns
// 0, or the error of CreateTimerQueueTimer (no further checks happen then).
int LoggerTimerMethod(const LogRotationSettings* settings);
// The timer callback; `settings` is the LogRotationSettings it was armed with.
void CALLBACK LoggerTimerRoutine(void* settings, BOOLEAN timerFired);

// Rotates folder\fileName when CheckLogSizeReached says so. Returns 0 or the
// result of RotateSpecificLogs.
int RotateLoggerForEverRunningProcess(const std::string& folder, const std::string& fileName, int generations,
                                      unsigned long long thresholdBytes);
// 1 when the file holds thresholdBytes or more, else 0. A file that cannot be
// opened counts as below the threshold.
int CheckLogSizeReached(const std::string& path, unsigned long long thresholdBytes);
// The number of entries in folder whose name starts with base (the pattern
// "<folder>\<base>*.*"): the live file, every backup, and anything else that
// shares the prefix. -1 when nothing matches or the listing fails.
int FindNoOfRepeatedFileNames(const std::string& folder, const std::string& base);
// Rotates each of the ";"-separated file names in folder by copy and
// truncate, keeping `generations` files per name. A failed copy or delete is
// logged and leaves its files as they were; the other steps still run.
// Returns 0.
int RotateSpecificLogs(const std::string& folder, const std::string& fileNames, int generations,
                       const std::string& extension);

// --- pure pieces, exposed for tests ---
// One step of a rotation. Numbers are backup numbers; the live file has none.
struct RotationStep {
  enum Kind { kDeleteBackup, kMoveBackup, kCopyLive };
  Kind kind;
  int from;  // kDeleteBackup, kMoveBackup
  int to;    // kMoveBackup, kCopyLive
  bool operator==(const RotationStep& other) const {
    return kind == other.kind && from == other.from && to == other.to;
  }
};
// The steps, in order, for a folder holding `entryCount` entries that share
// the log's prefix (the live file included), keeping `generations` files.
// Empty when the count is unknown (below 1).
std::vector<RotationStep> PlanLogRotation(int entryCount, int generations);
