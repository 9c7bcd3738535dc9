// Size-driven rotation of the agent log. Armed by InitializeAgentLog before
// the log opens and stopped by CloseAgentLog.
#pragma once

#include <string>

struct LogRotationSettings {
  std::string folder;
  std::string fileName;
  int generations = 5;
  unsigned long long thresholdBytes = 2000000;
  unsigned periodMs = 900000;
  bool timerOn = true;
};

// Rotation is not built yet: this records the settings and creates no timer.
void StartLogRotation(const LogRotationSettings& settings);
// Deletes the rotation timer queue when one exists.
void StopLogRotation();
