#include "exec/process_runner.h"

#include <windows.h>

#include <string>

#include "exec/error_text.h"
#include "log/agent_log.h"
#include "util/handles.h"
#include "util/text.h"

namespace {

const DWORD kCurrentFolderBufferChars = 4096;
// After a kill we wait this long for the tree to be really gone, so the next
// attempt does not meet a dying setup still holding its files.
const DWORD kTerminationSettleMs = 10000;
const DWORD kStartRetryPauseMs = 200;

void SetRemarks(std::string* remarks, long code) {
  std::string text = GetErrorMessageText(code);
  if (remarks) *remarks = text;
}

// A job object holds the child and everything it starts, so a child killed
// at its time-out takes its whole tree with it. The job is not kill-on-close:
// a child that ends normally (or is not waited for) leaves its own children
// running, as setup programs expect. Breakaway stays allowed so a child that
// starts helpers outside its job (needed before Windows 8, where jobs do not
// nest) still can.
UniqueHandleNull CreateChildJob() {
  UniqueHandleNull job(CreateJobObjectW(nullptr, nullptr));
  if (!job) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
  ZeroMemory(&limits, sizeof(limits));
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
    job.reset();
  }
  return job;
}

// Waits (bounded) until the job has no process left.
void WaitForEmptyJob(HANDLE job, DWORD budgetMs) {
  DWORD start = GetTickCount();
  for (;;) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info;
    ZeroMemory(&info, sizeof(info));
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof(info), nullptr)) return;
    if (info.ActiveProcesses == 0) return;
    if (GetTickCount() - start >= budgetMs) return;
    Sleep(20);
  }
}

// Ends the child at its time-out: the whole job when the child is in one,
// else the child alone. Returns 0 or the system's error code.
DWORD TerminateChild(HANDLE job, HANDLE process) {
  if (job) {
    if (TerminateJobObject(job, 0)) {
      WaitForSingleObject(process, kTerminationSettleMs);
      WaitForEmptyJob(job, kTerminationSettleMs);
      return 0;
    }
    LogError("executeFileEx : Terminating the job of the process failed with error code : %lu \n", GetLastError());
  }
  if (!TerminateProcess(process, 0)) {
    DWORD error = GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
  }
  WaitForSingleObject(process, kTerminationSettleMs);
  return 0;
}

DWORD LastErrorOr(DWORD fallback) {
  DWORD error = GetLastError();
  return error ? error : fallback;
}

// Remembers the current folder so the run can put it back. 0 or the error.
int SaveCurrentFolder(std::wstring* saved, std::string* remarks) {
  wchar_t buffer[kCurrentFolderBufferChars];
  DWORD length = GetCurrentDirectoryW(kCurrentFolderBufferChars, buffer);
  if (length == 0) {
    DWORD error = LastErrorOr(ERROR_GEN_FAILURE);
    LogError("executeFileEx: Failed to get the CurrentWorkingDirectory \n");
    LogErrorCode(static_cast<long>(error));
    SetRemarks(remarks, static_cast<long>(error));
    return static_cast<int>(error);
  }
  if (length > kCurrentFolderBufferChars) {
    LogError("executeFileEx : CurrentWorkingDirectory Buffer overflow. Need to allocate the length for %d chars \n",
             static_cast<int>(length));
    SetRemarks(remarks, static_cast<long>(length));
    return static_cast<int>(length);
  }
  saved->assign(buffer, length);
  return 0;
}

// Makes the working folder current. 0 or the error.
int EnterWorkingFolder(const char* workingFolder, const std::wstring& savedFolder, const char* commandLine,
                       std::string* remarks) {
  LogInfo("executeFileEx : Current Working Directory : %s \n", ChangeWideToUtf8Str(savedFolder).c_str());
  LogInfo("executeFileEx : Executing Application Source : %s \n", commandLine);
  LogInfo("executeFileEx : Set Working Directory : %s \n", workingFolder);
  if (SetCurrentDirectoryW(ChangeUtf8ToWideStr(workingFolder).c_str())) return 0;
  DWORD error = LastErrorOr(ERROR_PATH_NOT_FOUND);
  LogError("executeFileEx : Failed to set the WorkingDirectory %s \n ", workingFolder);
  LogErrorCode(static_cast<long>(error));
  SetRemarks(remarks, static_cast<long>(error));
  return static_cast<int>(error);
}

// Starts the child hidden and, when a job exists, inside it before it can
// start anything itself. 0 or the error; `job` is dropped when the child
// cannot join it.
int StartChild(const char* workingFolder, const char* commandLine, int show, UniqueHandleNull* job,
               UniqueProcessInfo* process) {
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  if (show) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
  }
  std::wstring mutableLine = ChangeUtf8ToWideStr(commandLine);
  std::wstring folder = workingFolder ? ChangeUtf8ToWideStr(workingFolder) : std::wstring();
  DWORD flags = CREATE_NO_WINDOW | CREATE_DEFAULT_ERROR_MODE | CREATE_UNICODE_ENVIRONMENT |
                (*job ? CREATE_SUSPENDED : 0);
  // A start that fails for an internal reason of the system (seen on a
  // loaded machine) is tried once more after a short pause, so a passing
  // hiccup does not fail the step.
  BOOL started = FALSE;
  DWORD error = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    started = CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, FALSE, flags, nullptr,
                             workingFolder ? folder.c_str() : nullptr, &startup, process->put());
    if (started) break;
    error = LastErrorOr(ERROR_GEN_FAILURE);
    if (error != ERROR_INTERNAL_ERROR) break;
    Sleep(kStartRetryPauseMs);
  }
  if (!started) {
    LogInfo("executeFileEx : Failed to Create the Process for the application \n");
    return static_cast<int>(error);
  }
  if (!*job) return 0;
  if (!AssignProcessToJobObject(job->get(), process->get().hProcess)) {
    // Happens when we run inside a job that does not allow nesting or
    // breakaway (before Windows 8): the run goes on without the tree kill.
    LogError("executeFileEx : The process could not be placed in a job (%lu); at a time-out only the process "
             "itself is stopped \n",
             GetLastError());
    job->reset();
  }
  if (ResumeThread(process->get().hThread) == static_cast<DWORD>(-1)) {
    int error = static_cast<int>(LastErrorOr(ERROR_GEN_FAILURE));
    LogError("executeFileEx : The process could not be resumed, error code : %d \n", error);
    TerminateProcess(process->get().hProcess, 0);
    return error;
  }
  return 0;
}

// Waits for the child; at the time-out its tree is stopped and the result
// is 258. Otherwise the child's exit code, or the error of the wait.
int WaitForChild(HANDLE job, HANDLE child, DWORD timeoutMs, int timeoutMinutesForLog, const char* commandLine) {
  DWORD wait = WaitForSingleObject(child, timeoutMs);
  if (wait == WAIT_OBJECT_0) {
    DWORD exitCode = 0;
    if (GetExitCodeProcess(child, &exitCode)) {
      LogInfo("executeFileEx : Exit code for the application : %d \n", static_cast<int>(exitCode));
      return static_cast<int>(exitCode);
    }
    int error = static_cast<int>(LastErrorOr(ERROR_GEN_FAILURE));
    LogInfo("executeFileEx : Unable to find the exit code for the application and the error code is : %d \n", error);
    return error;
  }
  if (wait == WAIT_TIMEOUT) {
    LogInfo("executeFileEx : Terminating the Process for application %s as time is exceeded %d Minutes \n",
            commandLine, timeoutMinutesForLog);
    DWORD terminateError = TerminateChild(job, child);
    if (terminateError == 0) {
      LogInfo("executeFileEx : The process has been successfully terminated ..! \n");
    } else {
      LogError("executeFileEx : The process termination is failed with error code : %d \n",
               static_cast<int>(terminateError));
    }
    return WAIT_TIMEOUT;
  }
  int error = static_cast<int>(LastErrorOr(ERROR_GEN_FAILURE));
  LogError("executeFileEx : WaitForSingleObject Failed with error code %d \n", error);
  return error;
}

// One run: folder, start, wait, folder back. Texts are UTF-8 and reach the
// system through the wide functions, so any path works.
int RunChild(const char* workingFolder, const char* commandLine, std::string* remarks, DWORD timeoutMs,
             int timeoutMinutesForLog, int show) {
  LogDebug("@@@@@@@@ Inside executeFileEx Method @@@@@@@@ \n");
  std::wstring savedFolder;
  if (workingFolder) {
    int error = SaveCurrentFolder(&savedFolder, remarks);
    if (error != 0) return error;
  }
  if (!commandLine || !*commandLine) {
    // Nothing to run is a caller error, never a success.
    LogError("executeFileEx : No command line given, nothing is run \n");
    SetRemarks(remarks, ERROR_INVALID_PARAMETER);
    return ERROR_INVALID_PARAMETER;
  }
  if (workingFolder) {
    int error = EnterWorkingFolder(workingFolder, savedFolder, commandLine, remarks);
    if (error != 0) return error;
  }

  UniqueHandleNull job = CreateChildJob();
  if (!job) {
    LogError("executeFileEx : No job object for the process (%lu); at a time-out only the process itself is stopped \n",
             GetLastError());
  }
  UniqueProcessInfo process;
  int result = StartChild(workingFolder, commandLine, show, &job, &process);
  if (result == 0) {
    LogInfo("execute : Process successfully created for application %s \n", commandLine);
    if (timeoutMs != 0) {
      result = WaitForChild(job.get(), process.get().hProcess, timeoutMs, timeoutMinutesForLog, commandLine);
    }
  }
  SetRemarks(remarks, result);
  process.reset();
  if (workingFolder) SetCurrentDirectoryW(savedFolder.c_str());
  LogInfo("executeFileEx : Remarks from the CreateProcess is %s for the executable %s \n",
          remarks ? remarks->c_str() : "", commandLine);
  LogDebug("@@@@@@@@ End Of executeFileEx Method @@@@@@@@ \n");
  return result;
}

// Minutes to milliseconds without wrapping: a huge or negative time-out
// becomes the longest finite wait rather than a short one.
DWORD MinutesToMs(int minutes) {
  if (minutes == 0) return 0;
  unsigned long long ms = static_cast<unsigned long long>(static_cast<unsigned>(minutes)) * 60000ULL;
  if (minutes < 0 || ms >= INFINITE) return INFINITE - 1;
  return static_cast<DWORD>(ms);
}

}  // namespace

int executeFileEx(const char* workingFolder, const char* commandLine, std::string* remarks, int timeoutMinutes,
                  int show) {
  return RunChild(workingFolder, commandLine, remarks, MinutesToMs(timeoutMinutes), timeoutMinutes, show);
}

int executeFileExWithTimeoutMs(const char* workingFolder, const char* commandLine, std::string* remarks,
                               unsigned long timeoutMs, int show) {
  return RunChild(workingFolder, commandLine, remarks, timeoutMs, static_cast<int>(timeoutMs / 60000), show);
}

int executeFileName(const char* workingFolder, const char* commandLine, std::string* remarks, int timeoutMinutes,
                    int show) {
  LogDebug("@@@@@@@@ Inside execute Method @@@@@@@@ \n");
  int result = executeFileEx(workingFolder, commandLine, remarks, timeoutMinutes, show);
  LogDebug("@@@@@@@@ End Of execute Method @@@@@@@@ \n");
  return result;
}

int NormalizeSetupResult(int result) {
  switch (result) {
    case 0:
    case 1508:  // changes take effect after a browser restart
    case 1641:  // a restart was started
    case 3010:  // a restart is needed
      return 0;
    default:
      return result;
  }
}

int executeFileNormalized(const char* workingFolder, const char* commandLine, std::string* remarks,
                          int timeoutMinutes, int show) {
  return NormalizeSetupResult(executeFileName(workingFolder, commandLine, remarks, timeoutMinutes, show));
}
