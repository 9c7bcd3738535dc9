#include "driver/entry.h"

#include "agent/agent_parameters.h"
#include "driver/deployment_flow.h"
#include "driver/run_options.h"
#include "log/agent_log.h"

namespace {

const int kGeneralFailure = 13;

}  // namespace

int RunOfficeInstaller() {
  InitializeAgentLog("rzprereqhandler.log");
  LogInfo("OfficeInstaller_N : 3.0\n");

  if (InitializeAgentParameters() != 0) {
    LogError("Failed to initialize agent params.\n");
    CloseAgentLog();
    return kGeneralFailure;
  }

  RunOptions& options = RunOpts();
  ParseCommandLine(SplitProcessCommandLine(), AgentParams().RZAgentInstallDir, &options);

  if (options.debugMode) {
    if (options.debugWithLang) {
      // The debug prompt is not built yet; a debug run only logs its choice.
      LogInfo("Debug prompt type %d in language %s is not built yet.\n", options.debugPromptType,
              options.debugLanguage.c_str());
    }
    LogError("******************************Debug Finished***************************\n");
    CloseAgentLog();
    return kGeneralFailure;
  }
  return RunDeploymentFlow();
}
