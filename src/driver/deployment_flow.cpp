#include "driver/deployment_flow.h"

#include "driver/run_options.h"
#include "log/agent_log.h"

namespace {
const int kGeneralFailure = 13;
// Exit code of a valid command line while the deployment is not built.
const int kNotBuiltYet = 120;  // ERROR_CALL_NOT_IMPLEMENTED
}  // namespace

int RunDeploymentFlow() {
  if (!ValidateRunOptions(RunOpts())) {
    LogError("Invalid arguments.\n");
    CloseAgentLog();
    return kGeneralFailure;
  }
  LogError("RunDeploymentFlow : The deployment flow is not built yet.\n");
  CloseAgentLog();
  return kNotBuiltYet;
}
