#include "log/agent_log.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "log/log_rotation.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/message_text.h"
#include "util/raw_registry.h"
#include "util/registry_paths.h"
#include "util/shared_append.h"
#include "util/text.h"

namespace {

struct LogState {
  // The agent's installation folder, ending with a separator; read once.
  std::string installDir;
  std::string fileName;
  std::string folder;
  std::string fullPath;
  BYTE level = 2;
  // Opened for appending only: every write lands at the current end of the
  // file (see AppendToLog for the processes that share it).
  std::atomic<HANDLE> file{nullptr};
  // Named after the file: every process writing this log takes it around
  // each line (see AppendToLog).
  UniqueHandleNull appendMutex;
  int* lockObject = nullptr;
};

LogState g_log;

// Lock table: the list of locked addresses, guarded by one lock of this
// process. A slim lock rather than a kernel mutex: the guard is taken twice
// for every log line, and a kernel object costs a system call each time. It
// needs no creation and lives for the process, so a writer on another thread
// may still be inside Acquire when the log closes.
SRWLOCK g_tableLock = SRWLOCK_INIT;
std::vector<const void*> g_lockedAddresses;
std::atomic<long> g_retryCounter{0};

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// One conversion formatted by the C runtime with one argument.
template <typename T>
bool AppendOne(std::string* out, const std::string& spec, T value) {
  const int needed = _scprintf(spec.c_str(), value);
  if (needed <= 0) return true;
  std::string piece(static_cast<size_t>(needed) + 1, '\0');
  _snprintf(&piece[0], piece.size(), spec.c_str(), value);
  out->append(piece.data(), static_cast<size_t>(needed));
  return true;
}

// Wide text of a conversion as UTF-8, `precision` characters at most.
std::string WideArgument(const wchar_t* text, int precision) {
  if (!text) return "(null)";
  size_t length = wcslen(text);
  if (precision >= 0 && static_cast<size_t>(precision) < length) length = static_cast<size_t>(precision);
  return ChangeWideToUtf8Str(std::wstring(text, length));
}

// One conversion of a format: %[flags][width][.precision][length]type.
struct Conversion {
  std::string spec;     // "%", the flags and the width, "*" already taken from the arguments
  int precision = -1;   // -1: none
  std::string length;   // "l", "ll", "I64", ...
  char type = '\0';
  // The spec with its precision: wide text is cut by characters before it
  // is converted, never by bytes after.
  std::string Precise() const { return precision >= 0 ? spec + "." + std::to_string(precision) : spec; }
  bool Wide() const {
    return length == "l" || length == "w" || ((type == 'S' || type == 'C') && length != "h");
  }
  bool Big() const {
    return length == "ll" || length == "I64" || length == "j" ||
           ((length == "I" || length == "z" || length == "t") && sizeof(void*) == 8);
  }
};

// Reads the conversion that follows a "%"; returns where the format goes on,
// or null when it ends inside the conversion.
const char* ParseConversion(const char* at, va_list* args, Conversion* conversion) {
  conversion->spec = "%";
  while (*at && strchr("-+ #0", *at)) conversion->spec += *at++;
  if (*at == '*') {
    conversion->spec += std::to_string(va_arg(*args, int));
    ++at;
  }
  while (*at >= '0' && *at <= '9') conversion->spec += *at++;
  if (*at == '.') {
    ++at;
    conversion->precision = 0;
    if (*at == '*') {
      conversion->precision = va_arg(*args, int);
      ++at;
    }
    while (*at >= '0' && *at <= '9') conversion->precision = conversion->precision * 10 + (*at++ - '0');
  }
  for (const char* size : {"I64", "I32", "hh", "ll", "h", "l", "L", "I", "w", "z", "j", "t"}) {
    if (strncmp(at, size, strlen(size)) == 0) {
      conversion->length = size;
      at += conversion->length.size();
      break;
    }
  }
  conversion->type = *at;
  return *at ? at + 1 : nullptr;
}

// Formats one conversion with its argument; false for a type it does not know.
bool AppendConversion(std::string* out, const Conversion& c, va_list* args) {
  const std::string precise = c.Precise();
  switch (c.type) {
    case 's':
    case 'S':
      if (c.Wide()) {
        return AppendOne(out, c.spec + "s", WideArgument(va_arg(*args, const wchar_t*), c.precision).c_str());
      }
      return AppendOne(out, precise + "s", va_arg(*args, const char*));
    case 'c':
    case 'C':
      if (c.Wide()) {
        const wchar_t character[2] = {static_cast<wchar_t>(va_arg(*args, int)), L'\0'};
        return AppendOne(out, c.spec + "s", WideArgument(character, -1).c_str());
      }
      return AppendOne(out, precise + "c", va_arg(*args, int));
    case 'd':
    case 'i':
      if (c.Big()) return AppendOne(out, precise + "I64" + c.type, va_arg(*args, long long));
      return AppendOne(out, precise + c.length + c.type, va_arg(*args, int));
    case 'u':
    case 'o':
    case 'x':
    case 'X':
      if (c.Big()) return AppendOne(out, precise + "I64" + c.type, va_arg(*args, unsigned long long));
      return AppendOne(out, precise + c.length + c.type, va_arg(*args, unsigned int));
    case 'e':
    case 'E':
    case 'f':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      if (c.length == "L") return AppendOne(out, precise + c.type, static_cast<double>(va_arg(*args, long double)));
      return AppendOne(out, precise + c.type, va_arg(*args, double));
    case 'p':
      return AppendOne(out, precise + "p", va_arg(*args, void*));
    case 'n':
      // Writes through a pointer: never from a log line.
      va_arg(*args, int*);
      return true;
  }
  return false;
}

// Formats with the Microsoft C runtime's rules ("%S" and "%ls" take wide
// text), with one difference: wide text becomes UTF-8 here. The runtime
// would convert it through the C locale, which knows ASCII only, and drop
// the rest of the line at the first other character.
std::string FormatMessageV(const char* format, va_list args) {
  std::string out;
  for (const char* at = format; *at;) {
    if (*at != '%') {
      const char* next = strchr(at, '%');
      const size_t count = next ? static_cast<size_t>(next - at) : strlen(at);
      out.append(at, count);
      at += count;
    } else if (at[1] == '%') {
      out += '%';
      at += 2;
    } else {
      Conversion conversion;
      const char* begin = at;
      at = ParseConversion(at + 1, &args, &conversion);
      if (!at) {
        out.append(begin);
        break;
      }
      if (!AppendConversion(&out, conversion, &args)) out.append(begin, static_cast<size_t>(at - begin));
    }
  }
  return out;
}

// One line, head included, in one write under the file's append mutex (see
// util/shared_append.h for why): the system appends it whole. A failed write
// is ignored, as the log has nowhere to report it. The log has always been a
// text-mode file: callers turn every line feed into CR LF first.
void AppendToLog(const std::string& line) {
  HANDLE file = g_log.file.load();
  if (!file || line.empty()) return;
  AppendMutexHold hold(g_log.appendMutex.get());
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void WriteLine(int threshold, const char* tag, const char* format, va_list args) {
  if (!g_log.file.load()) return;
  if (!LogLevelAdmits(g_log.level, threshold)) return;
  int* lockObject = g_log.lockObject;
  if (!lockObject) return;
  // Formatted before the lock is taken: nothing that could log again runs
  // while the lock is held.
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::string line = ToTextModeLineEnds(FormatLogHead(now, GetCurrentThreadId(), tag) + FormatMessageV(format, args));
  AcquireAddressLock(lockObject);
  AppendToLog(line);
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
  if (!g_log.file.load() || !g_log.lockObject) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::string line = FormatLogHead(now, GetCurrentThreadId(), "[INFO]") + what + ": " + TimeStampText(now) + "\r\n";
  AcquireAddressLock(g_log.lockObject);
  AppendToLog(line);
  ReleaseAddressLock(g_log.lockObject);
}

// The text helpers below the log report a caller's bad input here.
void ReportTextError(const char* message) { LogError("%s", message); }

// Opens the log file for appending, shared with every other writer and
// reader; mode 2 empties it first.
HANDLE OpenLogFile(const std::wstring& path, int mode) {
  if (mode == 2) {
    UniqueFile truncate(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

// One open-append-close of the error log, so an entry is on disk at once.
void AppendErrorLogLine(const std::wstring& path, const std::string& line) {
  UniqueFile file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
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
  for (;;) {
    AcquireSRWLockExclusive(&g_tableLock);
    bool busy = std::find(g_lockedAddresses.begin(), g_lockedAddresses.end(), address) != g_lockedAddresses.end();
    if (!busy) g_lockedAddresses.push_back(address);
    ReleaseSRWLockExclusive(&g_tableLock);
    if (!busy) return;
    // The back-off grows for the whole process and is never reset: the first
    // hundred retries only yield, later ones sleep a little longer each time.
    long counter = g_retryCounter.fetch_add(10) + 10;
    Sleep(static_cast<DWORD>(counter / 1000));
  }
}

void ReleaseAddressLock(const void* address) {
  AcquireSRWLockExclusive(&g_tableLock);
  auto it = std::find(g_lockedAddresses.begin(), g_lockedAddresses.end(), address);
  if (it != g_lockedAddresses.end()) g_lockedAddresses.erase(it);
  ReleaseSRWLockExclusive(&g_tableLock);
}

int InitializeAgentLog(const char* fileName) { return InitializeAgentLog(fileName, reg_path::kAgent); }

int InitializeAgentLog(const char* fileName, const std::string& agentKey) {
  if (g_log.installDir.empty()) {
    RawRegistryValue value;
    LONG rc = ReadRawRegistryValue(agentKey.c_str(), "RZAgentInstallDir", &value);
    if (rc != ERROR_SUCCESS) return static_cast<int>(rc);
    std::optional<std::string> folder = FolderFromRegistryValue(value);
    if (!folder) return ERROR_FILE_NOT_FOUND;
    g_log.installDir = *folder;
  }
  LogRotationSettings rotation;
  rotation.folder = g_log.installDir + "logs";
  rotation.fileName = fileName ? fileName : "";
  rotation.generations = 5;
  rotation.thresholdBytes = 2000000;
  rotation.periodMs = 900000;
  rotation.timerOn = true;
  StartLogRotation(rotation);
  OpenAgentLog(fileName, rotation.folder.c_str(), 1, agentKey);
  return 0;
}

const std::string& AgentLogInstallDir() { return g_log.installDir; }

int OpenAgentLog(const char* fileName, const char* folder, int mode) {
  return OpenAgentLog(fileName, folder, mode, reg_path::kAgent);
}

int OpenAgentLog(const char* fileName, const char* folder, int mode, const std::string& agentKey) {
  if (g_log.file.load()) {
    LogTrace("gv_logFilePtr already Set\n");
    return 0;
  }
  if (!fileName || !*fileName || !folder || !*folder) return 13;
  if (!g_log.lockObject) g_log.lockObject = new int(0);
  RawRegistryValue levelValue;
  std::optional<DWORD> level;
  if (ReadRawRegistryValue(agentKey.c_str(), "RZAgentLogLevel", &levelValue) == ERROR_SUCCESS) {
    level = DwordFromRegistryValue(levelValue);
  }
  g_log.level = static_cast<BYTE>(level.value_or(2) & 0xFF);
  g_log.fileName = fileName;
  g_log.folder = folder;
  g_log.fullPath = g_log.folder + "/" + g_log.fileName;

  CreateFolderTree(ChangeUtf8ToWideStr(folder));
  const std::wstring widePath = ChangeUtf8ToWideStr(g_log.fullPath.c_str());
  HANDLE file = OpenLogFile(widePath, mode);
  if (!file) return 13;
  g_log.appendMutex.reset(CreateMutexW(nullptr, FALSE, AppendMutexName(widePath).c_str()));
  g_log.file.store(file);
  SetTextErrorReporter(ReportTextError);
  WriteMarkerLine("Log open time");
  return 0;
}

int CloseAgentLog() {
  StopLogRotation();
  if (g_log.file.load()) {
    WriteMarkerLine("Log close time");
    SetTextErrorReporter(nullptr);
    int* lockObject = g_log.lockObject;
    AcquireAddressLock(lockObject);
    HANDLE file = g_log.file.exchange(nullptr);
    CloseHandle(file);
    g_log.appendMutex.reset();
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

void LogErrorCode(long code) {
  std::string text = GetErrorMessageTextQuiet(code);
  if (code != 0) {
    LogError("Error Code : %ld , Error Message : %s \n", code, text.c_str());
  } else {
    LogInfo("Message : %s \n", text.c_str());
  }
}

void WriteErrorLog(const char* text) {
  LogDebug("Writing Buffer in to Error Log.\n");
  try {
    if (g_log.installDir.empty()) return;
    const std::wstring folder = ChangeUtf8ToWideStr((g_log.installDir + "logs").c_str());
    const std::wstring widePath = folder + L"\\rzerror.log";
    WIN32_FILE_ATTRIBUTE_DATA info;
    bool exists = GetFileAttributesExW(widePath.c_str(), GetFileExInfoStandard, &info) != 0;
    if (!exists || (info.nFileSizeHigh == 0 && info.nFileSizeLow == 0)) {
      CreateFolderTree(folder);
      UniqueFile created(CreateFileW(widePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!created) LogErrorCode(static_cast<long>(GetLastError()));
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::string stamp = FormatErrorLogTime(now);
    AppendErrorLogLine(widePath, ToTextModeLineEnds(stamp + "\n"));
    AppendErrorLogLine(widePath, ToTextModeLineEnds(std::string(text ? text : "") + "\n"));
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
