#include "driver/fallback_stage.h"

#include "agent/agent_parameters.h"
#include "agent/registry.h"
#include "driver/office_logs.h"
#include "driver/results.h"
#include "exec/file_helpers.h"
#include "log/agent_log.h"
#include "log/seconds_clock.h"
#include "office/office_setup.h"
#include "source/package_list.h"
#include "util/registry_paths.h"

namespace {

const int kTimedOut = 258;

RunStep ListRunStep(MetaFlowStep step) {
  switch (step) {
    case MetaFlowStep::List: return RunStep::ListDownload;
    case MetaFlowStep::Decryptor: return RunStep::ListDecryptor;
    case MetaFlowStep::Files: return RunStep::ListFiles;
    case MetaFlowStep::Setup: break;
  }
  return RunStep::ListSetup;
}

void RunOldFlow(FlowState* state) {
  const OldFlowStep step = DecideOldFlow(*state, GetTimeInSeconds());
  if (step == OldFlowStep::NotNeeded) return;
  if (step == OldFlowStep::TimedOut) {
    LogInfo("Not proceeding with the old flow due to timeout.\n");
    state->resultCode = kTimedOut;
    state->step = RunStep::TimeLimit;
  }
  if (step != OldFlowStep::Run) {
    LogInfo("Not proceeding with zip installation for error code : %d\n", state->resultCode);
    return;
  }
  LogInfo("Proceeding with old office zip flow.\n");
  RecordInstallationStart();
  // The list's downloads are what the agent can show while they take long.
  state->downloadProgress.RecordUnder(state->trackingKey);
  MetaFlowStep listStep = MetaFlowStep::List;
  OfficeState& office = OfficeCtx();
  const ListFlowSettings list{state->transfers,
                              &state->transfersRun,
                              &state->remarks,
                              office.run.patchId,
                              office.run.packageFolder,
                              &state->downloadProgress,
                              [] { return ReadStoreServerValues(AgentParams()); }};
  int result = RunOfficeMetaFlow(list, &office, &listStep);
  state->step = ListRunStep(listStep);
  if (result != 0) {
    state->resultCode = BlockedIfAppsInUse(result);
    CollectOfficeLogs();
    return;
  }
  state->resultCode = 0;
  state->flowSucceeded = true;
  state->installedBy = InstallSource::PackageList;
  RecordTrackingValues(state->trackingKey, 2);
  LogInfo("KQTracking is Processed and added value for Old Flow Success: 2 \n");
  deleteRegistryKey(HKEY_LOCAL_MACHINE, DeploymentKeyPath(state->keys).c_str());
}

void RunNetworkShareFlow(FlowState* state) {
  DWORD enabled = 0;
  ReadDwordRegistryData(HKEY_LOCAL_MACHINE, state->keys.officePatchData.c_str(), "EnableNetworkShare", &enabled);
  if (!ShouldTryNetworkShare(enabled, *state)) {
    LogInfo("SharePath installation is skipped for this machine\n");
    return;
  }
  OfficeState& office = OfficeCtx();
  if (ExtractOfficeSetup(office.run) != 0) {
    LogError("Failed to extract office setup.\n");
    return;
  }
  const std::string sharePath = GetSharePath(office.run, ReadStoreServerValues(AgentParams()).flatName);
  if (CheckFileExists(sharePath.c_str()) != 0) {
    LogError("File doesnt exist in the given location \n");
    return;
  }
  // Without its configuration setup would have nothing sound to install from.
  int result = WriteOfficeConfiguration(&office, sharePath, 0);
  bool setupRan = false;
  if (result == 0) {
    RecordInstallationStart();
    result = RunOfficeSetupConfigure(office.run);
    setupRan = true;
  }
  state->resultCode = result;
  state->step = RunStep::Share;
  if (result == 0 || result == 3010) state->installedBy = InstallSource::Share;
  if (result != 0) {
    LogError("Office installation failed with error code : %d\n", result);
    if (setupRan) CollectOfficeLogs();
    state->resultCode = BlockedIfAppsInUse(result);
  }
}

}  // namespace

OldFlowStep DecideOldFlow(const FlowState& state, int now) {
  if (state.flowSucceeded || state.directDownload) return OldFlowStep::NotNeeded;
  if (now - state.phaseStartTime >= kOldFlowTimeLimitSeconds) return OldFlowStep::TimedOut;
  switch (state.resultCode) {
    case kTimedOut:
    case 17003:
    case kSetupAppsInUse:
    case kBlockedByUser:
    case 30035:
      return OldFlowStep::ResultStands;
    default:
      return OldFlowStep::Run;
  }
}

bool ShouldTryNetworkShare(DWORD enableNetworkShare, const FlowState& state) {
  return enableNetworkShare == 1 && !state.flowSucceeded && state.resultCode != kBlockedByUser;
}

void FallbackStage(FlowState* state) {
  RunOldFlow(state);
  RunNetworkShareFlow(state);
}
