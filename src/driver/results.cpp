#include "driver/results.h"

#include <windows.h>

#include <cstdio>

#include "agent/agent_parameters.h"
#include "agent/registry.h"
#include "log/agent_log.h"
#include "log/seconds_clock.h"
#include "util/registry_paths.h"

namespace {

InstallationStart g_installationStart;

}  // namespace

std::string TrackingKeyPath(bool wow64) { return wow64 ? reg_path::kTrackingWow64 : reg_path::kTracking; }

void RecordTrackingValues(int flow) {
  std::string key = TrackingKeyPath(AgentParams().isWow64);
  // Write failures are logged by the registry layer; the deployment goes on.
  char text[16];
  snprintf(text, sizeof(text), "%d", flow);
  writeValue(HKEY_LOCAL_MACHINE, key.c_str(), "OfficeInstallFlow", text, REG_DWORD);
  snprintf(text, sizeof(text), "%d", GetTimeInSeconds());
  writeValue(HKEY_LOCAL_MACHINE, key.c_str(), "LastKQDataModifiedTime", text, REG_DWORD);
}

std::string InstallationDateText(const SYSTEMTIME& local) {
  char text[16];
  snprintf(text, sizeof(text), "%04d%02d%02d", local.wYear, local.wMonth, local.wDay);
  return text;
}

void RecordInstallationStart() {
  SYSTEMTIME local;
  GetLocalTime(&local);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  g_installationStart.date = InstallationDateText(local);
  g_installationStart.fileTime = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  LogInfo("Installation Start time: %d is set \n", GetTimeInSeconds());
}

const InstallationStart& GetInstallationStart() { return g_installationStart; }
