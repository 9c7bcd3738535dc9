#include "driver/deployment_flow.h"

#include <algorithm>

#include "agent/agent_parameters.h"
#include "agent/custom_remarks.h"
#include "agent/registry.h"
#include "driver/fallback_stage.h"
#include "driver/flow_state.h"
#include "driver/office_logs.h"
#include "driver/results.h"
#include "driver/running_apps_stage.h"
#include "exec/file_helpers.h"
#include "log/agent_log.h"
#include "log/seconds_clock.h"
#include "office/ctr_settings.h"
#include "office/installed_office.h"
#include "office/office_setup.h"
#include "office/office_state.h"
#include "options/run_options.h"
#include "util/clock.h"
#include "util/handles.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace {

const int kGeneralFailure = 13;
const int kLanguageNotSelected = 15050;
const int kTimedOut = 258;
// How often a waiting run looks at the lock and the clock.
const DWORD kDeploymentPauseMs = 500;

// Two runs of one deployment at once share the package folder and the
// prompt state: one would install from the other's half-written files or
// delete them under it, and restore the update channels the other's setup
// left. The lock is a file beside the package folder, in the agent's own
// folder, which only the system account and administrators may write: no
// other local account can create it first, hold it or deny it to us. It is
// held open without sharing, so a second run of the same patch cannot open
// it and waits, while runs of other patches do not. It is deleted when the
// run releases it; a lock file found at the start belonged to a run that
// ended without releasing it.
class DeploymentLock {
 public:
  DeploymentLock() = default;
  DeploymentLock(const DeploymentLock&) = delete;
  DeploymentLock& operator=(const DeploymentLock&) = delete;
  ~DeploymentLock() {
    if (!file_) return;
    FILE_DISPOSITION_INFO dispose = {TRUE};
    const bool marked = SetFileInformationByHandle(file_.get(), FileDispositionInfo, &dispose, sizeof(dispose));
    file_.reset();
    if (!marked) DeleteFileW(path_.c_str());
  }
  // 0 once the lock is ours (also when it cannot be had at all, as the run
  // went before); 258 when the other run held it past the bound.
  int Acquire(const OfficeRunValues& run) {
    const int patchId = run.patchId;
    const std::wstring packageFolder = ChangeUtf8ToWideStr(run.packageFolder.c_str());
    CreateFolderTree(packageFolder.substr(0, packageFolder.rfind(L'\\')));
    path_ = packageFolder + L".lock";
    DWORD error = Open();
    if (error == ERROR_SHARING_VIOLATION) {
      LogInfo("Another run of deployment %d is in progress. Waiting for it to end.\n", patchId);
      // The wall clock bounds the wait, as it bounds the fallback stage; it
      // is read between short pauses.
      const long long start = UnixSecondsNow(nullptr);
      while (error == ERROR_SHARING_VIOLATION) {
        if (UnixSecondsNow(nullptr) - start >= kOldFlowTimeLimitSeconds) {
          LogError("Another run of deployment %d did not end within %d seconds.\n", patchId, kOldFlowTimeLimitSeconds);
          return kTimedOut;
        }
        Sleep(kDeploymentPauseMs);
        error = Open();
      }
    }
    if (error == ERROR_ALREADY_EXISTS) {
      LogError("Warning : the lock of deployment %d was abandoned: an earlier run ended without releasing it.\n",
               patchId);
    } else if (error != 0) {
      LogError("The lock of deployment %d cannot be created : ", patchId);
      LogErrorCode(static_cast<long>(error));
    }
    return 0;
  }

 private:
  // 0 for a new lock file, ERROR_ALREADY_EXISTS for one left behind, else
  // the reason it cannot be opened.
  DWORD Open() {
    file_.reset(CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD error = GetLastError();
    if (!file_) return error ? error : ERROR_OPEN_FAILED;
    return error == ERROR_ALREADY_EXISTS ? error : 0;
  }

  std::wstring path_;
  UniqueFile file_;
};

// Tries every server address with setup until one succeeds or a result
// ends the attempts. Returns false when no address was usable.
bool RunNewFlow(FlowState* state, OfficeState* office) {
  const StoreServerValues server = ReadStoreServerValues(AgentParams());
  const std::string& port = server.securePort;
  std::vector<std::string> addresses =
      BuildServerAddressList({server.name, server.flatName, server.ipAddress, server.secIpAddress});
  bool attempted = false;
  for (const std::string& address : addresses) {
    if (address.empty() || port.empty()) continue;
    attempted = true;
    // Without its configuration setup would have nothing sound to install
    // from: a failed write ends the attempt as a failed setup would.
    state->resultCode = WriteOfficeConfiguration(office, GetStoreSourceUrl(office->run, address, port), 0);
    bool setupRan = false;
    if (state->resultCode == 0) {
      RecordInstallationStart();
      state->resultCode = RunOfficeSetupConfigure(office->run);
      if (state->resultCode == 0) break;
      setupRan = true;
    }
    LogError("Office installation failed with error code : %d\n", state->resultCode);
    // Only a setup run leaves Office logs of this attempt.
    if (setupRan) CollectOfficeLogs();
    if (EndsServerAttempts(state->resultCode)) break;
  }
  return attempted;
}

// Records the step and the code a run ends with; returns the code.
int EndAt(FlowState* state, RunStep step, int code) {
  state->step = step;
  state->resultCode = code;
  return code;
}

// Preparation, up to the running-applications stage: false, with the exit
// code, when the run ends here.
bool Prepare(FlowState* state, int* exitCode) {
  OfficeState& office = OfficeCtx();
  const RunOptions& options = RunOpts();
  LogCtrSettingsDocument(office.run.agentFolder);
  ReadCtrSettingsLanguages(&office);
  office.installedLanguages = GetInstalledLanguages();
  ReadUpdateChannels(&office);

  std::string remark;
  if (!CheckLanguagePack(office, &remark)) {
    LogInfo("The Language Pack is not selected in the CTR Settings\n");
    state->remarks.Write(office.run.agentFolder, remark);
    *exitCode = EndAt(state, RunStep::Languages, kLanguageNotSelected);
    return false;
  }
  if (!ValidateRunOptions(options)) {
    LogError("Invalid arguments.\n");
    *exitCode = EndAt(state, RunStep::Arguments, kGeneralFailure);
    return false;
  }
  CreateFolderTree(ChangeUtf8ToWideStr(office.run.packageFolder.c_str()));
  if (!IsFileExist(options.installerPath.c_str())) {
    LogError("File not found : %s\n", options.installerPath.c_str());
    *exitCode = EndAt(state, RunStep::Installer, ERROR_FILE_NOT_FOUND);
    return false;
  }
  state->resultCode = ExtractOfficeSetup(office.run);
  if (state->resultCode != 0) {
    LogError("Failed to extract office setup.\n");
    *exitCode = EndAt(state, RunStep::Extraction, state->resultCode);
    return false;
  }
  ReadHowToInstall(&office);
  return true;
}

// Source selection and the new flow: setup from the server's store (or
// Microsoft's content network), unless the list is to be used directly.
void InstallFromStore(FlowState* state) {
  state->phaseStartTime = GetTimeInSeconds();
  state->directDownload = IsOfficeDirectDownloadEnabled(state->keys) != 0;
  if (state->directDownload) LogInfo("Direct download enabled. Cannot proceed with old flow.\n");
  state->proceedOldFlowDirectly = 0;
  ReadDwordRegistryData(HKEY_LOCAL_MACHINE, state->keys.officePatchData.c_str(), "ProceedOldFlowDirectly",
                        &state->proceedOldFlowDirectly);
  if (state->proceedOldFlowDirectly == 1 && !state->directDownload) return;
  state->step = RunStep::Store;
  const bool attempted = RunNewFlow(state, &OfficeCtx());
  state->resultCode = BlockedIfAppsInUse(state->resultCode);
  if (!attempted) {
    // Without a usable server address nothing was installed: that is no
    // success, whatever the extraction left in the result.
    LogError("No server address is available for the Office installation.\n");
    state->resultCode = ERROR_NOT_FOUND;
  } else if ((state->resultCode == 0 || state->resultCode == 3010) && state->proceedOldFlowDirectly == 0) {
    LogInfo("Installation succeeded. No need for old flow.\n");
    state->flowSucceeded = true;
    state->installedBy = state->directDownload ? InstallSource::ContentNetwork : InstallSource::Store;
    RecordTrackingValues(state->trackingKey, 1);
    LogInfo("KQTracking is Processed and added value for New Flow Success: 1\n");
    deleteRegistryKey(HKEY_LOCAL_MACHINE, DeploymentKeyPath(state->keys).c_str());
  }
}

}  // namespace

FlowState& Flow() {
  static FlowState state;
  return state;
}

OfficeState& OfficeCtx() {
  static OfficeState state;
  return state;
}

LocalizedPromptTexts& PromptTexts() {
  static LocalizedPromptTexts texts;
  return texts;
}

std::string DeploymentKeyPath(const reg_path::AgentKeys& keys) {
  return keys.officePatchData + "\\" + std::to_string(FileNameNumber());
}

std::vector<std::string> BuildServerAddressList(std::vector<std::string> values) {
  std::stable_sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  return values;
}

bool EndsServerAttempts(int result) {
  return result == 258 || result == 404 || result == 3010 || result == 17002 || result == kSetupAppsInUse;
}

int RunDeploymentFlow() {
  FlowState& state = Flow();
  OfficeState& office = OfficeCtx();
  office.run = OfficeRunValuesFor(RunOpts(), AgentParams().RZAgentInstallDir);
  office.run.keys = state.keys;
  // The lock comes before anything this run reads to restore at its end. A
  // patch id that cannot name a deployment ends as invalid below, holding
  // nothing.
  DeploymentLock lock;
  if (office.run.patchId > 0) {
    const int lockResult = lock.Acquire(office.run);
    if (lockResult != 0) return EndAt(&state, RunStep::Lock, lockResult);
  }
  int exitCode = 0;
  if (!Prepare(&state, &exitCode)) return exitCode;
  if (!RunningApplicationsStage(&state, &exitCode)) return EndAt(&state, RunStep::RunningApps, exitCode);
  InstallFromStore(&state);
  FallbackStage(&state);

  // Finishing.
  deleteValueEx(HKEY_LOCAL_MACHINE, reg_path::kClickToRunConfiguration, "UpdateURL", 1);
  deleteValue(HKEY_LOCAL_MACHINE, reg_path::kClickToRunConfiguration, "UpdateURL");
  if (state.installedBy != InstallSource::None) state.verification = RecordInstalledOffice(state.trackingKey, office);
  LogInfo("Exit Code : %d\n", state.resultCode);
  CompletionRule(state);
  const std::wstring packageFolder = ChangeUtf8ToWideStr(office.run.packageFolder.c_str());
  if ((state.resultCode == 0 || state.resultCode == 3010) && IsDirectory(packageFolder)) {
    DeleteFolderTree(packageFolder);
  }
  ResetUpdateChannels(office);
  return state.resultCode;
}
