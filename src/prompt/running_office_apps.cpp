#include "prompt/running_office_apps.h"

#include "exec/process_lookup.h"
#include "log/agent_log.h"

namespace {

// The Office programs that hold files setup must replace, in the order they
// are checked and logged.
const char* const kWatchedOfficePrograms[] = {
    "WINWORD.exe", "EXCEL.exe", "MSACCESS.exe", "GROOVE.exe", "OUTLOOK.exe",  "ONENOTE.exe",      "POWERPNT.exe",
    "MSPUB.exe",   "LYNC.exe",  "WINPROJ.exe",  "VISIO.exe",  "ACCICONS.exe", "lynchtmlconv.exe", "PPTICO.exe",
};

}  // namespace

int IsOfficeApplicationRunning() {
  int result = 0;
  for (const char* name : kWatchedOfficePrograms) {
    if (FindOtherProcessByName(name) == 0) continue;
    LogInfo("%s is runnning while installing office patch\n", name);
    result = 1;
  }
  return result;
}
