#include "log/log_rotation.h"

#include <climits>
#include <utility>

#include "log/agent_log.h"
#include "util/handles.h"
#include "util/text.h"

namespace {

// The settings the running timers were armed with. Written only while no
// timer exists (StartLogRotation stops the previous rotation first).
LogRotationSettings g_settings;

// Guards the queue, the newest timer and the stop flag: a check on the timer
// thread re-arms while StopLogRotation may be tearing the timers down.
SRWLOCK g_timerLock = SRWLOCK_INIT;
UniqueTimerQueue g_timerQueue;
HANDLE g_currentTimer = nullptr;  // on g_timerQueue, or on the default queue
bool g_stopping = false;

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '\\' || folder.back() == '/') return folder + name;
  return folder + "\\" + name;
}

std::wstring Wide(const std::string& utf8) { return ChangeUtf8ToWideStr(utf8.c_str()); }

DWORD LastErrorOr(DWORD fallback) {
  DWORD error = GetLastError();
  return error ? error : fallback;
}

void DeleteRotatedFile(const std::string& path) {
  if (DeleteFileW(Wide(path).c_str())) {
    LogInfo("RotateSpecificLogs : The file %s was successfully deleted..:\n", path.c_str());
  } else {
    DWORD error = GetLastError();
    LogInfo("RotateSpecificLogs : Unable to delete the file %s and the error code is :%d\n", path.c_str(),
            static_cast<int>(error));
  }
}

void MoveBackup(const std::string& from, const std::string& to) {
  LogInfo("RotateSpecificLogs : The tempFileName1 : %s . \n", from.c_str());
  LogInfo("RotateSpecificLogs : The tempFileName2 : %s . \n", to.c_str());
  if (!CopyFileW(Wide(from).c_str(), Wide(to).c_str(), FALSE)) {
    DWORD error = GetLastError();
    LogError("RotateSpecificLogs : CopyFile failed to move from %s to  %s and the error code is %d \n", from.c_str(),
             to.c_str(), static_cast<int>(error));
    return;
  }
  LogInfo("RotateSpecificLogs : File copied from %s to  %s . \n", from.c_str(), to.c_str());
  DeleteRotatedFile(from);
}

// Copies the live log to backup 1 and empties it, both under the log lock: a
// line written between the copy and the truncation would otherwise be in
// neither file. The live file stays open for appending in the agent log, so
// emptying it through a second handle is enough; later lines go to its new
// end. Nothing may log while the lock is held, so the outcome is logged after.
void CopyLiveToFirstBackup(const std::string& live, const std::string& to) {
  LogInfo("RotateSpecificLogs : The tempFileName2 : %s . \n", to.c_str());
  std::wstring wideLive = Wide(live);
  std::wstring wideTo = Wide(to);
  bool copied = false;
  DWORD copyError = 0;
  bool truncated = false;
  DWORD truncateError = 0;
  RunHoldingLogLock([&] {
    if (!CopyFileW(wideLive.c_str(), wideTo.c_str(), FALSE)) {
      copyError = GetLastError();
      return;
    }
    copied = true;
    UniqueFile file(CreateFileW(wideLive.c_str(), GENERIC_WRITE, kShareAll, nullptr, TRUNCATE_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      truncateError = GetLastError();
      return;
    }
    truncated = true;
  });
  if (!copied) {
    LogError("RotateSpecificLogs : CopyFile failed to move from %s to  %s and the error code is %d \n", live.c_str(),
             to.c_str(), static_cast<int>(copyError));
    return;
  }
  LogInfo(
      "RotateSpecificLogs : File successfully copied from %s to  %s so we are going to truncate the content of the "
      "first one \n",
      live.c_str(), to.c_str());
  // A GUI process has no console to print this on, so it goes to the log.
  if (!truncated) {
    LogError("RotateSpecificLogs : Truncate Existing backup File failed file Name -%s errorcode - %d\n", live.c_str(),
             static_cast<int>(truncateError));
  }
}

void RotateOneLog(const std::string& folder, const std::string& name, int generations, const std::string& extension) {
  LogInfo("RotateSpecificLogs : Log File Name : %s\n", name.c_str());
  std::string live = JoinPath(folder, name);
  std::string base = name.substr(0, name.find(extension));
  int count = FindNoOfRepeatedFileNames(folder, base);
  LogInfo("RotateSpecificLogs : The return Value from FindNumberOfRepeatedFileNames method is : %d \n", count);
  auto backup = [&](int number) { return JoinPath(folder, base + std::to_string(number) + extension); };
  for (const RotationStep& step : PlanLogRotation(count, generations)) {
    switch (step.kind) {
      case RotationStep::kDeleteBackup:
        DeleteRotatedFile(backup(step.from));
        break;
      case RotationStep::kMoveBackup:
        MoveBackup(backup(step.from), backup(step.to));
        break;
      case RotationStep::kCopyLive:
        CopyLiveToFirstBackup(live, backup(step.to));
        break;
    }
  }
}

}  // namespace

std::vector<RotationStep> PlanLogRotation(int entryCount, int generations) {
  std::vector<RotationStep> steps;
  if (entryCount < 1) return steps;
  // Fewer than two generations would leave no backup to copy to.
  if (generations < 2) generations = 2;
  // The count is by name prefix, so it may exceed the generations (a stray
  // file such as rzprereqhandler_old.txt counts too); the numbers are then
  // clamped back to the oldest kept backup.
  int count = entryCount;
  do {
    int next = count - 1;
    if (count >= generations) {
      steps.push_back({RotationStep::kDeleteBackup, count - 1, 0});
      next = generations - 2;
      count = generations - 1;
    }
    if (count != 1) {
      steps.push_back({RotationStep::kMoveBackup, next, count});
    } else {
      steps.push_back({RotationStep::kCopyLive, 0, 1});
    }
    count = next;
  } while (count >= 1);
  return steps;
}

int CheckLogSizeReached(const std::string& path, unsigned long long thresholdBytes) {
  UniqueFile file(CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    DWORD error = GetLastError();
    LogError("CheckLogSizeReached : Unable to get the file handle \n");
    LogErrorCode(static_cast<long>(error));
    return 0;
  }
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.get(), &size)) {
    DWORD error = GetLastError();
    LogError("CheckLogSizeReached : Error occurred in getting the size %d \n", static_cast<int>(error));
    size.QuadPart = 0;
  }
  file.reset();
  // The message takes a long; a log past 2 GiB shows as LONG_MAX.
  long shown = size.QuadPart > LONG_MAX ? LONG_MAX : static_cast<long>(size.QuadPart);
  LogInfo("CheckLogSizeReached : The log file size of %s is given by %ld \n", path.c_str(), shown);
  if (static_cast<unsigned long long>(size.QuadPart) < thresholdBytes) {
    LogDebug("CheckLogSizeReached : The size is less the required size \n");
    return 0;
  }
  LogInfo("CheckLogSizeReached : The size is greater than the given size .........\n");
  return 1;
}

int FindNoOfRepeatedFileNames(const std::string& folder, const std::string& base) {
  std::string pattern = JoinPath(folder, base) + "*.*";
  LogInfo("FindNoOfRepeatedFileNames : Successfully allocated szFormattedPath and the value is %s  .\n",
          pattern.c_str());
  WIN32_FIND_DATAW entry;
  UniqueFind find(FindFirstFileW(Wide(pattern).c_str(), &entry));
  if (!find) {
    DWORD error = GetLastError();
    LogErrorCode(static_cast<long>(error));
    LogError("FindNumberOfRepeatedFileNames : Unable to find the files/folder.\n");
    return -1;
  }
  int count = 0;
  LogInfo("FindNoOfRepeatedFileNames : Successfully finded out first file  %d  .\n", count + 1);
  do {
    ++count;
    LogInfo("FindNoOfRepeatedFileNames : after memset of szSrcPath is  %s  .\n",
            ChangeWideToUtf8Str(entry.cFileName).c_str());
  } while (FindNextFileW(find.get(), &entry));
  DWORD error = GetLastError();
  LogInfo("FindNoOfRepeatedFileNames : Going to Free the allocated memory in this method.\n");
  if (error != ERROR_NO_MORE_FILES) {
    LogError("FindNumberOfRepeatedFileNames : Couldn't find next file :%d\n", static_cast<int>(error));
    return -1;
  }
  return count;
}

int RotateSpecificLogs(const std::string& folder, const std::string& fileNames, int generations,
                       const std::string& extension) {
  size_t start = 0;
  while (start <= fileNames.size()) {
    size_t end = fileNames.find(';', start);
    if (end == std::string::npos) end = fileNames.size();
    std::string name = fileNames.substr(start, end - start);
    if (!name.empty()) RotateOneLog(folder, name, generations, extension);
    start = end + 1;
  }
  LogInfo("RotateSpecificLogs : Leaving with the error code : %d \n", 0);
  return 0;
}

int RotateLoggerForEverRunningProcess(const std::string& folder, const std::string& fileName, int generations,
                                      unsigned long long thresholdBytes) {
  std::string path = JoinPath(folder, fileName);
  LogInfo("RotateLoggerForEverRunningProcess : cSfileName : %s \n", path.c_str());
  if (!CheckLogSizeReached(path, thresholdBytes)) return 0;
  return RotateSpecificLogs(folder, fileName, generations, ".log");
}

unsigned ArmedRotationPeriodMs() {
  AcquireSRWLockShared(&g_timerLock);
  const unsigned period = g_currentTimer && !g_stopping ? g_settings.periodMs : 0;
  ReleaseSRWLockShared(&g_timerLock);
  return period;
}

int LoggerTimerMethod(const LogRotationSettings* settings) {
  RotateLoggerForEverRunningProcess(settings->folder, settings->fileName, settings->generations,
                                    settings->thresholdBytes);
  bool armed = false;
  DWORD error = 0;
  AcquireSRWLockExclusive(&g_timerLock);
  if (!g_stopping) {
    // Without a queue of our own the timer goes on the default queue.
    HANDLE queue = g_timerQueue.get();
    HANDLE timer = nullptr;
    if (CreateTimerQueueTimer(&timer, queue, LoggerTimerRoutine, const_cast<LogRotationSettings*>(settings),
                              settings->periodMs, 0, WT_EXECUTEONLYONCE)) {
      armed = true;
      // A fired one-shot timer stays allocated until deleted. It may be the
      // one whose callback is running right now, so the delete must not wait.
      HANDLE fired = std::exchange(g_currentTimer, timer);
      if (fired) DeleteTimerQueueTimer(queue, fired, nullptr);
    } else {
      error = LastErrorOr(ERROR_GEN_FAILURE);
    }
  }
  ReleaseSRWLockExclusive(&g_timerLock);
  if (armed) {
    LogDebug("LoggerTimerMethod : Registered the TimerRoutime callback in next %d minutes . \n",
             static_cast<int>(settings->periodMs / 60000));
  } else if (error) {
    LogError("LoggerTimerMethod : CreateTimerQueueTimer failed due to following error \n");
    LogErrorCode(static_cast<long>(error));
  }
  return static_cast<int>(error);
}

void CALLBACK LoggerTimerRoutine(void* settings, BOOLEAN) {
  LogInfo("LoggerTimerRoutine : Inside LoggerTimerRoutine Method\n");
  LoggerTimerMethod(static_cast<const LogRotationSettings*>(settings));
  LogInfo("LoggerTimerRoutine : End of LoggerTimerRoutine Method\n");
}

void StartLogRotation(const LogRotationSettings& settings) {
  StopLogRotation();
  g_settings = settings;
  if (!g_settings.timerOn) {
    RotateLoggerForEverRunningProcess(g_settings.folder, g_settings.fileName, g_settings.generations,
                                      g_settings.thresholdBytes);
    return;
  }
  HANDLE queue = CreateTimerQueue();
  DWORD error = queue ? 0 : LastErrorOr(ERROR_GEN_FAILURE);
  AcquireSRWLockExclusive(&g_timerLock);
  g_timerQueue.reset(queue);
  g_stopping = false;
  ReleaseSRWLockExclusive(&g_timerLock);
  if (queue) {
    LogInfo("ServiceMain : TimerQueue is created successfully \n");
  } else {
    LogError("ServiceMain : CreateTimerQueue is failed due to following error !! \n");
    LogErrorCode(static_cast<long>(error));
  }
  LoggerTimerMethod(&g_settings);
}

void StopLogRotation() {
  // Once the flag is set no check re-arms, so the timers taken here are the
  // last ones.
  AcquireSRWLockExclusive(&g_timerLock);
  g_stopping = true;
  HANDLE queue = g_timerQueue.release();
  HANDLE timer = std::exchange(g_currentTimer, nullptr);
  ReleaseSRWLockExclusive(&g_timerLock);
  if (queue) {
    // Waits for a running check; the queue's timers go with it.
    if (!DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE)) {
      DWORD error = GetLastError();
      LogError("ServiceMain : DeleteTimerQueue is failed due to following error !! \n");
      LogErrorCode(static_cast<long>(error));
    }
  } else if (timer) {
    DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
  }
}
