// Steps shared by the program runners of this folder: the local runner and
// the runs with a borrowed token. Each step writes its messages under the
// name of the runner that calls it (`who`), so the log reads as that
// runner's own.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "util/handles.h"

namespace child_process {

// Sets `remarks` (when given) to GetErrorMessageText of the code.
void SetRemarks(std::string* remarks, long code);
// GetLastError(), or `fallback` when the system left it at 0, so a failure
// never reads as success.
DWORD LastErrorOr(DWORD fallback);

// The steps before a start: with a working folder (UTF-8), the current
// folder is remembered in `savedFolder` (4096-character buffer) and the
// working folder made current. A missing command line is a caller error
// (87): nothing to run is never a success. 0, or the failure with the
// remarks set from it: the system's error, or the needed length when the
// current folder does not fit the buffer.
int PrepareRun(const char* who, const char* workingFolder, const char* commandLine, std::wstring* savedFolder,
               std::string* remarks);

// Minutes to milliseconds without wrapping: a huge or negative time-out
// becomes the longest finite wait rather than a short one; 0 stays 0.
DWORD MinutesToMs(int minutes);

// A job for one child, so a child killed at its time-out takes its whole
// tree with it; empty (and logged) when the system gives none.
UniqueHandleNull CreateChildJob(const char* who);

// Creates the process for the mutable wide command line with the creation
// flags; a CreateProcess call. Returns non-zero on success, else leaves the
// error in GetLastError().
using ProcessCreator = std::function<BOOL(wchar_t* commandLine, DWORD flags, PROCESS_INFORMATION* process)>;
// Starts the child through `create` and, when a job exists, inside it before
// it can start anything itself. A start that fails with an internal error is
// tried once more. 0 or the system's error; `job` is dropped when the child
// cannot join it. The caller logs a failed start in its own words.
int StartChild(const char* who, const char* commandLine, DWORD flags, const ProcessCreator& create,
               UniqueHandleNull* job, UniqueProcessInfo* process);

// A wait for a started child, and the texts its log lines carry.
struct ChildWait {
  const char* who = "";
  // The exit code's line reads "<who> : <exitCodeText> : %d".
  const char* exitCodeText = "";
  // The child's job, null when it has none.
  HANDLE job = nullptr;
  HANDLE child = nullptr;
  DWORD timeoutMs = 0;
  // The time-out as the stop line names it, in minutes.
  int timeoutMinutesForLog = 0;
  const char* commandLine = "";
};
// Waits for the child at most wait.timeoutMs. Returns its exit code, 258
// after it was stopped at the time-out (its whole job when it has one), or
// the system's error of the wait or of reading the exit code.
int WaitForChild(const ChildWait& wait);

}  // namespace child_process
