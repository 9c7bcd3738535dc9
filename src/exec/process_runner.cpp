#include "exec/process_runner.h"

#include <windows.h>

#include <string>

#include "exec/child_process.h"
#include "log/agent_log.h"
#include "util/handles.h"
#include "util/text.h"

namespace {

using namespace child_process;

const char kWho[] = "executeFileEx";

// One run: folder, start, wait, folder back. Texts are UTF-8 and reach the
// system through the wide functions, so any path works.
int RunChild(const char* workingFolder, const char* commandLine, std::string* remarks, DWORD timeoutMs,
             int timeoutMinutesForLog, int show) {
  LogDebug("@@@@@@@@ Inside executeFileEx Method @@@@@@@@ \n");
  std::wstring savedFolder;
  int prepared = PrepareRun(kWho, workingFolder, commandLine, &savedFolder, remarks);
  if (prepared != 0) return prepared;

  UniqueHandleNull job = CreateChildJob(kWho);
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  if (show) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
  }
  std::wstring folder = workingFolder ? ChangeUtf8ToWideStr(workingFolder) : std::wstring();
  auto create = [&](wchar_t* line, DWORD flags, PROCESS_INFORMATION* created) {
    return CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, flags, nullptr,
                          workingFolder ? folder.c_str() : nullptr, &startup, created);
  };
  UniqueProcessInfo process;
  int result = StartChild(kWho, commandLine, CREATE_NO_WINDOW | CREATE_DEFAULT_ERROR_MODE | CREATE_UNICODE_ENVIRONMENT,
                          create, &job, &process);
  if (result != 0) {
    LogInfo("executeFileEx : Failed to Create the Process for the application \n");
  } else {
    LogInfo("execute : Process successfully created for application %s \n", commandLine);
    if (timeoutMs != 0) {
      ChildWait wait;
      wait.who = kWho;
      wait.exitCodeText = "Exit code for the application";
      wait.job = job.get();
      wait.child = process.get().hProcess;
      wait.timeoutMs = timeoutMs;
      wait.timeoutMinutesForLog = timeoutMinutesForLog;
      wait.commandLine = commandLine;
      result = WaitForChild(wait);
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
