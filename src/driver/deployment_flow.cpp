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
// delete them under it. The lock is a mutex in the Global namespace, named
// after the patch id, so a second run of the same patch waits for the first
// and runs of other patches do not. It is held until the run returns.
class DeploymentLock {
 public:
  ~DeploymentLock() {
    if (owned_) ReleaseMutex(mutex_.get());
  }
  // 0 once the lock is ours (also when it cannot be had at all, as the run
  // went before); 258 when the other run held it past the bound; the
  // system's error of a failed wait.
  int Acquire(int patchId) {
    const std::wstring name = L"Global\\rzOfficeDeployment_" + std::to_wstring(patchId);
    mutex_.reset(CreateMutexW(nullptr, FALSE, name.c_str()));
    if (!mutex_) {
      LogError("The lock of deployment %d cannot be created : ", patchId);
      LogErrorCode(static_cast<long>(GetLastError()));
      return 0;
    }
    DWORD wait = WaitForSingleObject(mutex_.get(), 0);
    if (wait == WAIT_TIMEOUT) {
      LogInfo("Another run of deployment %d is in progress. Waiting for it to end.\n", patchId);
      // The wall clock bounds the wait, as it bounds the fallback stage; it
      // is read between short pauses.
      const long long start = UnixSecondsNow(nullptr);
      while (wait == WAIT_TIMEOUT) {
        if (UnixSecondsNow(nullptr) - start >= kOldFlowTimeLimitSeconds) {
          LogError("Another run of deployment %d did not end within %d seconds.\n", patchId, kOldFlowTimeLimitSeconds);
          return kTimedOut;
        }
        Sleep(kDeploymentPauseMs);
        wait = WaitForSingleObject(mutex_.get(), 0);
      }
    }
    if (wait == WAIT_FAILED) {
      const DWORD error = GetLastError();
      LogError("Waiting for the lock of deployment %d failed : ", patchId);
      LogErrorCode(static_cast<long>(error));
      return error ? static_cast<int>(error) : ERROR_GEN_FAILURE;
    }
    // An abandoned lock belonged to a run that ended without releasing it.
    owned_ = true;
    return 0;
  }

 private:
  UniqueHandleNull mutex_;
  bool owned_ = false;
};

// Tries every server address with setup until one succeeds or a result
// ends the attempts. Returns false when no address was usable.
bool RunNewFlow(FlowState* state) {
  const StoreServerValues server = ReadStoreServerValues();
  const std::string& port = server.securePort;
  std::vector<std::string> addresses =
      BuildServerAddressList({server.name, server.flatName, server.ipAddress, server.secIpAddress});
  bool attempted = false;
  for (const std::string& address : addresses) {
    if (address.empty() || port.empty()) continue;
    attempted = true;
    // Without its configuration setup would have nothing sound to install
    // from: a failed write ends the attempt as a failed setup would.
    state->resultCode = WriteOfficeConfiguration(GetStoreSourceUrl(address, port), 0);
    bool setupRan = false;
    if (state->resultCode == 0) {
      RecordInstallationStart();
      state->resultCode = RunOfficeSetupConfigure();
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

}  // namespace

FlowState& Flow() {
  static FlowState state;
  return state;
}

std::string DeploymentKeyPath() {
  return std::string(reg_path::kOfficePatchData) + "\\" + std::to_string(FileNameNumber());
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
  const RunOptions& options = RunOpts();

  // Preparation.
  LogCtrSettingsDocument();
  ReadCtrSettingsLanguages();
  office.installedLanguages = GetInstalledLanguages();
  ReadUpdateChannels();

  std::string remark;
  if (!CheckLanguagePack(&remark)) {
    LogInfo("The Language Pack is not selected in the CTR Settings\n");
    WriteCustomPatchRemarks(remark);
    return kLanguageNotSelected;
  }
  if (!ValidateRunOptions(options)) {
    LogError("Invalid arguments.\n");
    return kGeneralFailure;
  }
  DeploymentLock lock;
  const int lockResult = lock.Acquire(options.patchId);
  if (lockResult != 0) return lockResult;
  const std::string packageFolder = PackageFolder();
  const std::wstring widePackageFolder = ChangeUtf8ToWideStr(packageFolder.c_str());
  CreateFolderTree(widePackageFolder);
  if (!IsFileExist(options.installerPath.c_str())) {
    LogError("File not found : %s\n", options.installerPath.c_str());
    return ERROR_FILE_NOT_FOUND;
  }
  state.resultCode = ExtractOfficeSetup();
  if (state.resultCode != 0) {
    LogError("Failed to extract office setup.\n");
    return state.resultCode;
  }
  ReadHowToInstall();

  int stageExit = 0;
  if (!RunningApplicationsStage(&state, &stageExit)) return stageExit;

  // Source selection and the new flow.
  state.phaseStartTime = GetTimeInSeconds();
  state.directDownload = IsOfficeDirectDownloadEnabled() != 0;
  if (state.directDownload) LogInfo("Direct download enabled. Cannot proceed with old flow.\n");
  state.proceedOldFlowDirectly = 0;
  ReadDwordRegistryData(HKEY_LOCAL_MACHINE, reg_path::kOfficePatchData, "ProceedOldFlowDirectly",
                        &state.proceedOldFlowDirectly);

  if (!(state.proceedOldFlowDirectly == 1 && !state.directDownload)) {
    bool attempted = RunNewFlow(&state);
    state.resultCode = BlockedIfAppsInUse(state.resultCode);
    if (!attempted) {
      // Without a usable server address nothing was installed: that is no
      // success, whatever the extraction left in the result.
      LogError("No server address is available for the Office installation.\n");
      state.resultCode = ERROR_NOT_FOUND;
    } else if ((state.resultCode == 0 || state.resultCode == 3010) && state.proceedOldFlowDirectly == 0) {
      LogInfo("Installation succeeded. No need for old flow.\n");
      state.flowSucceeded = true;
      state.installedBy = state.directDownload ? InstallSource::ContentNetwork : InstallSource::Store;
      RecordTrackingValues(1);
      LogInfo("KQTracking is Processed and added value for New Flow Success: 1\n");
      deleteRegistryKey(HKEY_LOCAL_MACHINE, DeploymentKeyPath().c_str());
    }
  }

  FallbackStage(&state);

  // Finishing.
  deleteValueEx(HKEY_LOCAL_MACHINE, reg_path::kClickToRunConfiguration, "UpdateURL", 1);
  deleteValue(HKEY_LOCAL_MACHINE, reg_path::kClickToRunConfiguration, "UpdateURL");
  if (state.installedBy != InstallSource::None) state.verification = RecordInstalledOffice();
  LogInfo("Exit Code : %d\n", state.resultCode);
  CompletionRule(state);
  if ((state.resultCode == 0 || state.resultCode == 3010) && IsDirectory(widePackageFolder)) {
    DeleteFolderTree(widePackageFolder);
  }
  ResetUpdateChannels();
  return state.resultCode;
}
