#include "agent/agent_parameters.h"

#include <windows.h>

#include "agent/registry.h"
#include "log/agent_log.h"

int InitializeAgentParameters() {
  // Start-up needs only the installation folder for now; the log has read it.
  AgentParameters& params = AgentParams();
  if (params.RZAgentInstallDir.empty()) {
    std::string dir;
    if (ReadRegSZ(HKEY_LOCAL_MACHINE, "Software\\Varnholt\\Plexmoor\\RZAgent", "RZAgentInstallDir", &dir) != 0 ||
        dir.empty()) {
      return 13;
    }
    params.RZAgentInstallDir = dir;
  }
  return 0;
}
