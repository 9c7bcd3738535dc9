#include "driver/entry.h"

#include <exception>

#include "agent/agent_parameters.h"
#include "agent/custom_remarks.h"
#include "driver/deployment_flow.h"
#include "driver/flow_state.h"
#include "driver/results.h"
#include "log/agent_log.h"
#include "options/run_options.h"
#include "prompt/localized_texts.h"
#include "prompt/user_prompts.h"

namespace {

const int kGeneralFailure = 13;

// Closes the agent log however the run ends, a thrown failure included.
// Closing a log that is already closed does nothing.
struct AgentLogCloser {
  AgentLogCloser() = default;
  AgentLogCloser(const AgentLogCloser&) = delete;
  AgentLogCloser& operator=(const AgentLogCloser&) = delete;
  ~AgentLogCloser() { CloseAgentLog(); }
};

int RunWithOpenLog() {
  // The table picks the system's locale now; its texts come after the agent
  // parameters.
  LocalizedPromptTexts& promptTexts = PromptTexts();
  LogInfo("OfficeInstaller_N : 3.0\n");

  // 10047 (an imaged computer) ends the run like a missing value.
  if (InitializeAgentParameters(&AgentParams()) != 0) {
    LogError("Failed to initialize agent params.\n");
    return kGeneralFailure;
  }
  Flow().keys = reg_path::AgentKeys(AgentParams().agentKey);
  Flow().trackingKey = TrackingKeyPath(Flow().keys, AgentParams().isWow64);
  promptTexts.LoadPromptTexts();

  RunOptions& options = RunOpts();
  ParseCommandLine(SplitProcessCommandLine(), AgentParams().RZAgentInstallDir, &options);

  if (options.debugMode) {
    Flow().step = RunStep::DebugRun;
    if (options.debugWithLang) {
      RunDebugPrompt(&promptTexts, Flow().keys, AgentParams().RZAgentInstallDir, options.debugLanguage,
                     options.debugPromptType);
    }
    LogError("******************************Debug Finished***************************\n");
    return kGeneralFailure;
  }
  // A debug run makes no transfers: only a deployment reads their settings.
  Flow().transfers = TransferSettingsFor(AgentParams());
  Flow().transfersRun = TransferRunStateFor(Flow().transfers);
  return RunDeploymentFlow();
}

}  // namespace

int RunOfficeInstaller() {
  AgentLogCloser closeLog;
  int exitCode = kGeneralFailure;
  try {
    InitializeAgentLog("rzprereqhandler.log");
    exitCode = RunWithOpenLog();
  } catch (const std::exception& failure) {
    LogError("OfficeInstaller : The run ended on an unexpected failure : %s\n", failure.what());
    Flow().step = RunStep::Unexpected;
  } catch (...) {
    LogError("OfficeInstaller : The run ended on an unexpected failure.\n");
    Flow().step = RunStep::Unexpected;
  }
  // The agent shows DownloadProgress only while the deployment runs,
  // however it ends.
  try {
    Flow().downloadProgress.RemoveRecord();
  } catch (...) {
    // Only a failed allocation gets here; the exit code is what counts.
  }
  // Every run ends with one plain line: the one operators search for.
  try {
    LogRunSummary(exitCode, Flow(), Flow().remarks.Last());
  } catch (...) {
    // Only a failed allocation gets here; the exit code is what counts.
  }
  return exitCode;
}
