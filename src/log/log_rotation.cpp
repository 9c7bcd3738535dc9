#include "log/log_rotation.h"

#include "log/agent_log.h"
#include "util/handles.h"

namespace {
LogRotationSettings g_settings;
UniqueTimerQueue g_timerQueue;
}  // namespace

void StartLogRotation(const LogRotationSettings& settings) {
  // Placeholder until size-driven rotation lands: remember where the log
  // lives, arm nothing.
  g_settings = settings;
}

void StopLogRotation() {
  if (!g_timerQueue) return;
  HANDLE queue = g_timerQueue.release();
  if (!DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE)) {
    LogError("ServiceMain : DeleteTimerQueue is failed due to following error !! \n");
    LogErrorCode(static_cast<long>(GetLastError()));
  }
}
