#include "driver/entry.h"

#include "agent/agent_parameters.h"
#include "driver/deployment_flow.h"
#include "driver/run_options.h"
#include "log/agent_log.h"
#include "prompt/localized_texts.h"

namespace {

const int kGeneralFailure = 13;

}  // namespace

int RunOfficeInstaller() {
  InitializeAgentLog("rzprereqhandler.log");
  // The table picks the system's locale now; its texts come after the agent
  // parameters.
  LocalizedPromptTexts& promptTexts = PromptTexts();
  LogInfo("OfficeInstaller_N : 3.0\n");

  // 10047 (an imaged computer) ends the run like a missing value.
  if (InitializeAgentParameters() != 0) {
    LogError("Failed to initialize agent params.\n");
    CloseAgentLog();
    return kGeneralFailure;
  }
  promptTexts.LoadPromptTexts();

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
