#include "log/agent_log.h"

#include <share.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "agent/agent_parameters.h"
#include "agent/registry.h"
#include "exec/file_helpers.h"
#include "exec/error_text.h"
#include "log/log_rotation.h"
#include "util/handles.h"
#include "util/text.h"

namespace {

const char kAgentKey[] = "Software\\Varnholt\\Plexmoor\\RZAgent";

struct LogState {
  std::string fileName;
  std::string folder;
  std::string fullPath;
  BYTE level = 2;
  std::atomic<FILE*> file{nullptr};
  int* lockObject = nullptr;
};

LogState g_log;

// Lock table. The mutex is created on first use and lives for the process:
// a writer on another thread may still be inside Acquire when the log closes.
HANDLE g_tableMutex = nullptr;
INIT_ONCE g_tableOnce = INIT_ONCE_STATIC_INIT;
std::vector<const void*> g_lockedAddresses;
std::atomic<long> g_retryCounter{0};

BOOL CALLBACK CreateTableMutex(PINIT_ONCE, PVOID, PVOID*) {
  g_tableMutex = CreateMutexW(nullptr, FALSE, nullptr);
  return g_tableMutex != nullptr;
}

HANDLE TableMutex() {
  InitOnceExecuteOnce(&g_tableOnce, CreateTableMutex, nullptr, nullptr);
  return g_tableMutex;
}

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Formats with the Microsoft C runtime rules, so "%S" and "%ws" take wide text.
std::string FormatMessageV(const char* format, va_list args) {
  char stackBuffer[1024];
  va_list copy;
  va_copy(copy, args);
  int needed = _vscprintf(format, copy);
  va_end(copy);
  if (needed < 0) return std::string();
  if (needed < static_cast<int>(sizeof(stackBuffer))) {
    _vsnprintf(stackBuffer, sizeof(stackBuffer), format, args);
    stackBuffer[needed] = '\0';
    return std::string(stackBuffer, static_cast<size_t>(needed));
  }
  std::string out(static_cast<size_t>(needed) + 1, '\0');
  _vsnprintf(&out[0], out.size(), format, args);
  out.resize(static_cast<size_t>(needed));
  return out;
}

void WriteLine(int threshold, const char* tag, const char* format, va_list args) {
  if (!g_log.file.load()) return;
  if (!LogLevelAdmits(g_log.level, threshold)) return;
  int* lockObject = g_log.lockObject;
  if (!lockObject) return;
  AcquireAddressLock(lockObject);
  FILE* file = g_log.file.load();
  if (file) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::string head = FormatLogHead(now, GetCurrentThreadId(), tag);
    fputs(head.c_str(), file);
    std::string message = FormatMessageV(format, args);
    fputs(message.c_str(), file);
    fflush(file);
  }
  ReleaseAddressLock(lockObject);
}

std::string TimeStampText(const SYSTEMTIME& now) {
  char text[64];
  snprintf(text, sizeof(text), "%d-%02d-%02d %02d:%02d:%02d:%03d", now.wYear, now.wMonth, now.wDay, now.wHour,
           now.wMinute, now.wSecond, now.wMilliseconds);
  return text;
}

// The open and close lines pass at every level, with the INFO tag.
void WriteMarkerLine(const char* what) {
  FILE* file = g_log.file.load();
  if (!file || !g_log.lockObject) return;
  AcquireAddressLock(g_log.lockObject);
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::string head = FormatLogHead(now, GetCurrentThreadId(), "[INFO]");
  fprintf(file, "%s%s: %s\n", head.c_str(), what, TimeStampText(now).c_str());
  fflush(file);
  ReleaseAddressLock(g_log.lockObject);
}

}  // namespace

std::string FormatLogHead(const SYSTEMTIME& local, DWORD threadId, const char* tag) {
  char head[128];
  snprintf(head, sizeof(head), "[ %s ] [ %lu ] %s ", TimeStampText(local).c_str(),
           static_cast<unsigned long>(threadId), tag);
  return head;
}

std::string FormatErrorLogTime(const SYSTEMTIME& local) {
  int hour12 = local.wHour % 12;
  if (hour12 == 0) hour12 = 12;
  const char* month = (local.wMonth >= 1 && local.wMonth <= 12) ? kMonths[local.wMonth - 1] : "???";
  char text[64];
  snprintf(text, sizeof(text), "%s %02d,%04d %02d:%02d%s", month, local.wDay, local.wYear, hour12, local.wMinute,
           local.wHour < 12 ? "AM" : "PM");
  return text;
}

bool LogLevelAdmits(DWORD registryLevel, int threshold) {
  return static_cast<BYTE>(registryLevel & 0xFF) >= threshold;
}

void AcquireAddressLock(const void* address) {
  HANDLE mutex = TableMutex();
  for (;;) {
    WaitForSingleObject(mutex, INFINITE);
    bool busy = std::find(g_lockedAddresses.begin(), g_lockedAddresses.end(), address) != g_lockedAddresses.end();
    if (!busy) {
      g_lockedAddresses.push_back(address);
      ReleaseMutex(mutex);
      return;
    }
    ReleaseMutex(mutex);
    // The back-off grows for the whole process and is never reset: the first
    // hundred retries only yield, later ones sleep a little longer each time.
    long counter = g_retryCounter.fetch_add(10) + 10;
    Sleep(static_cast<DWORD>(counter / 1000));
  }
}

void ReleaseAddressLock(const void* address) {
  HANDLE mutex = TableMutex();
  WaitForSingleObject(mutex, INFINITE);
  auto it = std::find(g_lockedAddresses.begin(), g_lockedAddresses.end(), address);
  if (it != g_lockedAddresses.end()) g_lockedAddresses.erase(it);
  ReleaseMutex(mutex);
}

int InitializeAgentLog(const char* fileName) {
  AgentParameters& params = AgentParams();
  if (params.RZAgentInstallDir.empty()) {
    std::string dir;
    LONG rc = ReadRegSZ(HKEY_LOCAL_MACHINE, kAgentKey, "RZAgentInstallDir", &dir);
    if (rc != ERROR_SUCCESS) return static_cast<int>(rc);
    if (dir.empty()) return ERROR_FILE_NOT_FOUND;
    params.RZAgentInstallDir = dir;
  }
  LogRotationSettings rotation;
  rotation.folder = params.RZAgentInstallDir + "logs";
  rotation.fileName = fileName ? fileName : "";
  rotation.generations = 5;
  rotation.thresholdBytes = 2000000;
  rotation.periodMs = 900000;
  rotation.timerOn = true;
  StartLogRotation(rotation);
  OpenAgentLog(fileName, rotation.folder.c_str(), 1);
  return 0;
}

int OpenAgentLog(const char* fileName, const char* folder, int mode) {
  if (g_log.file.load()) {
    LogTrace("gv_logFilePtr already Set\n");
    return 0;
  }
  if (!fileName || !*fileName || !folder || !*folder) return 13;
  TableMutex();
  if (!g_log.lockObject) g_log.lockObject = new int(0);
  DWORD level = 2;
  if (ReadDwordRegistryData(HKEY_LOCAL_MACHINE, kAgentKey, "RZAgentLogLevel", &level) != ERROR_SUCCESS) level = 2;
  g_log.level = static_cast<BYTE>(level & 0xFF);
  g_log.fileName = fileName;
  g_log.folder = folder;
  g_log.fullPath = g_log.folder + "/" + g_log.fileName;

  std::wstring wideFolder = ChangeUtf8ToWideStr(folder);
  CreateFolderTree(wideFolder);
  FILE* file = _fsopen(g_log.fullPath.c_str(), mode == 2 ? "w" : "a+", _SH_DENYNO);
  if (!file) return 13;
  g_log.file.store(file);
  WriteMarkerLine("Log open time");
  return 0;
}

int CloseAgentLog() {
  StopLogRotation();
  if (g_log.file.load()) {
    WriteMarkerLine("Log close time");
    int* lockObject = g_log.lockObject;
    AcquireAddressLock(lockObject);
    FILE* file = g_log.file.exchange(nullptr);
    fclose(file);
    ReleaseAddressLock(lockObject);
  }
  g_log.fileName.clear();
  g_log.folder.clear();
  g_log.fullPath.clear();
  // The lock object is kept: a writer that passed the open check just before
  // the close may still take the lock on it.
  return 0;
}

std::string AgentLogPath() { return g_log.file.load() ? g_log.fullPath : std::string(); }

void LogInfo(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLine(1, "[INFO]", format, args);
  va_end(args);
}

void LogError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLine(2, "[ERROR]", format, args);
  va_end(args);
}

void LogDebug(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLine(3, "[DEBUG]", format, args);
  va_end(args);
}

void LogTrace(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLine(4, "[TRACE]", format, args);
  va_end(args);
}

void LogErrorCode(long code) { GetErrorMessageText(code); }

void WriteErrorLog(const char* text) {
  LogDebug("Writing Buffer in to Error Log.\n");
  try {
    std::string path = AgentParams().RZAgentInstallDir + "logs\\rzerror.log";
    std::wstring widePath = ChangeUtf8ToWideStr(path.c_str());
    WIN32_FILE_ATTRIBUTE_DATA info;
    bool exists = GetFileAttributesExW(widePath.c_str(), GetFileExInfoStandard, &info) != 0;
    if (!exists || (info.nFileSizeHigh == 0 && info.nFileSizeLow == 0)) {
      CreateFolder(widePath.c_str());
      UniqueFile created(CreateFileW(widePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!created) LogErrorCode(static_cast<long>(GetLastError()));
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::string stamp = FormatErrorLogTime(now);
    FILE* file = _wfsopen(widePath.c_str(), L"a", _SH_DENYNO);
    if (file) {
      fprintf(file, "%s\n", stamp.c_str());
      fclose(file);
    }
    file = _wfsopen(widePath.c_str(), L"a", _SH_DENYNO);
    if (file) {
      fprintf(file, "%s\n", text ? text : "");
      fclose(file);
    }
  } catch (...) {
    LogError("Exception occurred while Writing Error Log.");
  }
}

void RunHoldingLogLock(const std::function<void()>& action) {
  int* lockObject = g_log.lockObject;
  if (!lockObject) {
    action();
    return;
  }
  AcquireAddressLock(lockObject);
  action();
  ReleaseAddressLock(lockObject);
}
