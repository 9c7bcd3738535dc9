#include "exec/process_lookup.h"

#include <tlhelp32.h>

#include <algorithm>
#include <functional>
#include <string>

#include "exec/child_process.h"
#include "log/agent_log.h"
#include "util/handles.h"
#include "util/text.h"

namespace {

// Executable names are compared over this many characters at most.
const size_t kComparedNameChars = 15;

enum class WalkFailure { kNone, kSnapshot, kFirstEntry };

// Walks a fresh snapshot of every process of the machine, from its first
// entry, and returns the id of the first one whose name matches and that
// `accept` takes; 0 when none. A snapshot that cannot be taken or read is
// reported through `failure` and `error`.
DWORD FindMatchingProcess(const char* wantedName, const std::function<bool(const PROCESSENTRY32W&)>& accept,
                          WalkFailure* failure, DWORD* error) {
  *failure = WalkFailure::kNone;
  *error = 0;
  if (!wantedName) return 0;
  const std::wstring wanted = ChangeUtf8ToWideStr(wantedName);
  UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) {
    *failure = WalkFailure::kSnapshot;
    *error = GetLastError();
    return 0;
  }
  PROCESSENTRY32W entry;
  ZeroMemory(&entry, sizeof(entry));
  entry.dwSize = sizeof(entry);
  if (!Process32FirstW(snapshot.get(), &entry)) {
    *failure = WalkFailure::kFirstEntry;
    *error = GetLastError();
    return 0;
  }
  do {
    if (ProcessNameMatches(entry.szExeFile, wanted.c_str()) && accept(entry)) return entry.th32ProcessID;
  } while (Process32NextW(snapshot.get(), &entry));
  return 0;
}

}  // namespace

bool ProcessNameMatches(const wchar_t* processName, const wchar_t* wantedName) {
  int processChars = static_cast<int>(std::min(wcslen(processName), kComparedNameChars));
  int wantedChars = static_cast<int>(std::min(wcslen(wantedName), kComparedNameChars));
  return CompareStringOrdinal(processName, processChars, wantedName, wantedChars, TRUE) == CSTR_EQUAL;
}

DWORD FindOtherProcessByName(const char* executableName) {
  const DWORD self = GetCurrentProcessId();
  WalkFailure failure;
  DWORD error;
  return FindMatchingProcess(
      executableName, [self](const PROCESSENTRY32W& entry) { return entry.th32ProcessID != self; }, &failure, &error);
}

int GetActiveSessionId() {
  using ActiveConsoleSessionFn = DWORD(WINAPI*)();
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto activeConsoleSession = kernel ? reinterpret_cast<ActiveConsoleSessionFn>(reinterpret_cast<void*>(
                                           GetProcAddress(kernel, "WTSGetActiveConsoleSessionId")))
                                     : nullptr;
  if (!activeConsoleSession) {
    LogInfo("GetActiveSessionId : WTSGetActiveConsoleSessionId Function not present in Kernel32.lib\n");
    return 0;
  }
  int session = static_cast<int>(activeConsoleSession());
  LogInfo("GetActiveSessionId : WTSGetActiveConsoleSessionId = %d\n", session);
  return session;
}

DWORD GetProcessID(const char* executableName, int session) {
  GetActiveSessionId();
  auto inSession = [session](const PROCESSENTRY32W& entry) {
    DWORD processSession = 0;
    if (!ProcessIdToSessionId(entry.th32ProcessID, &processSession)) return false;
    if (session == -1) return true;
    LogInfo("GetProcessID : Retrieved Session ID : %d for the process %s \n", static_cast<int>(processSession),
            ChangeWideToUtf8Str(entry.szExeFile).c_str());
    LogInfo("GetProcessID : Compare Session ID : %d \n", session);
    return static_cast<int>(processSession) == session;
  };
  WalkFailure failure;
  DWORD error;
  DWORD pid = FindMatchingProcess(executableName, inSession, &failure, &error);
  if (failure == WalkFailure::kSnapshot) {
    LogError("GetProcessID : CreateToolhelp32Snapshot is failed due to the following error code %d \n",
             static_cast<int>(error));
    return 0;
  }
  if (failure == WalkFailure::kFirstEntry) {
    LogError("GetProcessID : Process32First function failed :%d\n", static_cast<int>(error));
    return 0;
  }
  LogInfo("GetProcessID : Process ID for %s is %d\n", executableName ? executableName : "", static_cast<int>(pid));
  return pid;
}

int GetProcessToken(const char* executableName, int session, HANDLE* token) {
  DWORD pid = GetProcessID(executableName, session);
  UniqueHandleNull process(OpenProcess(MAXIMUM_ALLOWED, FALSE, pid));
  if (!process) {
    DWORD error = child_process::LastErrorOr(ERROR_INVALID_PARAMETER);
    LogError("GetProcessToken : OpenProcess Failed with error:: %d\n", static_cast<int>(error));
    return static_cast<int>(error);
  }
  UniqueHandleNull opened;
  if (!OpenProcessToken(process.get(), TOKEN_ALL_ACCESS, opened.put())) {
    DWORD error = child_process::LastErrorOr(ERROR_ACCESS_DENIED);
    LogError("GetProcessToken : OpenProcessToken Failed with error:: %d\n", static_cast<int>(error));
    return static_cast<int>(error);
  }
  LogInfo("GetProcessToken : The Process token for the process %s is given by %d \n",
          executableName ? executableName : "", static_cast<int>(reinterpret_cast<INT_PTR>(opened.get())));
  *token = opened.release();
  return 0;
}
