#include "exec/child_process.h"

#include "exec/error_text.h"
#include "log/agent_log.h"
#include "util/text.h"

namespace child_process {

namespace {

const DWORD kCurrentFolderBufferChars = 4096;
// After a kill we wait this long for the tree to be really gone, so the next
// attempt does not meet a dying setup still holding its files.
const DWORD kTerminationSettleMs = 10000;
const DWORD kStartRetryPauseMs = 200;

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
DWORD TerminateChild(const char* who, HANDLE job, HANDLE process) {
  if (job) {
    if (TerminateJobObject(job, 0)) {
      WaitForSingleObject(process, kTerminationSettleMs);
      WaitForEmptyJob(job, kTerminationSettleMs);
      return 0;
    }
    LogError("%s : Terminating the job of the process failed with error code : %lu \n", who, GetLastError());
  }
  if (!TerminateProcess(process, 0)) return LastErrorOr(ERROR_GEN_FAILURE);
  WaitForSingleObject(process, kTerminationSettleMs);
  return 0;
}

int SaveCurrentFolder(const char* who, std::wstring* saved, std::string* remarks) {
  wchar_t buffer[kCurrentFolderBufferChars];
  DWORD length = GetCurrentDirectoryW(kCurrentFolderBufferChars, buffer);
  if (length == 0) {
    DWORD error = LastErrorOr(ERROR_GEN_FAILURE);
    LogError("%s: Failed to get the CurrentWorkingDirectory \n", who);
    LogErrorCode(static_cast<long>(error));
    SetRemarks(remarks, static_cast<long>(error));
    return static_cast<int>(error);
  }
  if (length > kCurrentFolderBufferChars) {
    LogError("%s : CurrentWorkingDirectory Buffer overflow. Need to allocate the length for %d chars \n", who,
             static_cast<int>(length));
    SetRemarks(remarks, static_cast<long>(length));
    return static_cast<int>(length);
  }
  saved->assign(buffer, length);
  return 0;
}

int EnterWorkingFolder(const char* who, const char* workingFolder, const std::wstring& savedFolder,
                       const char* commandLine, std::string* remarks) {
  LogInfo("%s : Current Working Directory : %s \n", who, ChangeWideToUtf8Str(savedFolder).c_str());
  LogInfo("%s : Executing Application Source : %s \n", who, commandLine);
  LogInfo("%s : Set Working Directory : %s \n", who, workingFolder);
  if (SetCurrentDirectoryW(ChangeUtf8ToWideStr(workingFolder).c_str())) return 0;
  DWORD error = LastErrorOr(ERROR_PATH_NOT_FOUND);
  LogError("%s : Failed to set the WorkingDirectory %s \n ", who, workingFolder);
  LogErrorCode(static_cast<long>(error));
  SetRemarks(remarks, static_cast<long>(error));
  return static_cast<int>(error);
}

}  // namespace

void SetRemarks(std::string* remarks, long code) {
  std::string text = GetErrorMessageText(code);
  if (remarks) *remarks = text;
}

DWORD LastErrorOr(DWORD fallback) {
  DWORD error = GetLastError();
  return error ? error : fallback;
}

int PrepareRun(const char* who, const char* workingFolder, const char* commandLine, std::wstring* savedFolder,
               std::string* remarks) {
  if (workingFolder) {
    int error = SaveCurrentFolder(who, savedFolder, remarks);
    if (error != 0) return error;
  }
  if (!commandLine || !*commandLine) {
    LogError("%s : No command line given, nothing is run \n", who);
    SetRemarks(remarks, ERROR_INVALID_PARAMETER);
    return ERROR_INVALID_PARAMETER;
  }
  if (!workingFolder) return 0;
  return EnterWorkingFolder(who, workingFolder, *savedFolder, commandLine, remarks);
}

DWORD MinutesToMs(int minutes) {
  if (minutes == 0) return 0;
  unsigned long long ms = static_cast<unsigned long long>(static_cast<unsigned>(minutes)) * 60000ULL;
  if (minutes < 0 || ms >= INFINITE) return INFINITE - 1;
  return static_cast<DWORD>(ms);
}

// The job is not kill-on-close: a child that ends normally (or is not waited
// for) leaves its own children running, as setup programs expect. Breakaway
// stays allowed so a child that starts helpers outside its job (needed
// before Windows 8, where jobs do not nest) still can.
UniqueHandleNull CreateChildJob(const char* who) {
  UniqueHandleNull job(CreateJobObjectW(nullptr, nullptr));
  if (job) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    ZeroMemory(&limits, sizeof(limits));
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits))) job.reset();
  }
  if (!job) {
    LogError("%s : No job object for the process (%lu); at a time-out only the process itself is stopped \n", who,
             GetLastError());
  }
  return job;
}

int StartChild(const char* who, const char* commandLine, DWORD flags, const ProcessCreator& create,
               UniqueHandleNull* job, UniqueProcessInfo* process) {
  std::wstring mutableLine = ChangeUtf8ToWideStr(commandLine);
  if (*job) flags |= CREATE_SUSPENDED;
  // A start that fails for an internal reason of the system (seen on a
  // loaded machine) is tried once more after a short pause, so a passing
  // hiccup does not fail the step.
  BOOL started = FALSE;
  DWORD error = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    started = create(&mutableLine[0], flags, process->put());
    if (started) break;
    error = LastErrorOr(ERROR_GEN_FAILURE);
    if (error != ERROR_INTERNAL_ERROR) break;
    Sleep(kStartRetryPauseMs);
  }
  if (!started) return static_cast<int>(error);
  if (!*job) return 0;
  if (!AssignProcessToJobObject(job->get(), process->get().hProcess)) {
    // Happens when we run inside a job that does not allow nesting or
    // breakaway (before Windows 8), or when the child runs in another
    // session: the run goes on without the tree kill.
    LogError("%s : The process could not be placed in a job (%lu); at a time-out only the process itself is stopped \n",
             who, GetLastError());
    job->reset();
  }
  if (ResumeThread(process->get().hThread) == static_cast<DWORD>(-1)) {
    int resumeError = static_cast<int>(LastErrorOr(ERROR_GEN_FAILURE));
    LogError("%s : The process could not be resumed, error code : %d \n", who, resumeError);
    TerminateProcess(process->get().hProcess, 0);
    return resumeError;
  }
  return 0;
}

int WaitForChild(const ChildWait& run) {
  const char* who = run.who;
  HANDLE child = run.child;
  DWORD wait = WaitForSingleObject(child, run.timeoutMs);
  if (wait == WAIT_OBJECT_0) {
    DWORD exitCode = 0;
    if (GetExitCodeProcess(child, &exitCode)) {
      LogInfo("%s : %s : %d \n", who, run.exitCodeText, static_cast<int>(exitCode));
      return static_cast<int>(exitCode);
    }
    int error = static_cast<int>(LastErrorOr(ERROR_GEN_FAILURE));
    LogInfo("%s : Unable to find the exit code for the application and the error code is : %d \n", who, error);
    return error;
  }
  if (wait == WAIT_TIMEOUT) {
    LogInfo("%s : Terminating the Process for application %s as time is exceeded %d Minutes \n", who, run.commandLine,
            run.timeoutMinutesForLog);
    DWORD terminateError = TerminateChild(who, run.job, child);
    if (terminateError == 0) {
      LogInfo("%s : The process has been successfully terminated ..! \n", who);
    } else {
      LogError("%s : The process termination is failed with error code : %d \n", who, static_cast<int>(terminateError));
    }
    return WAIT_TIMEOUT;
  }
  int error = static_cast<int>(LastErrorOr(ERROR_GEN_FAILURE));
  LogError("%s : WaitForSingleObject Failed with error code %d \n", who, error);
  return error;
}

}  // namespace child_process
