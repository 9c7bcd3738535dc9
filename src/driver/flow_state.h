// The state one deployment run carries from stage to stage.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "agent/custom_remarks.h"
#include "office/installed_check.h"
#include "office/office_state.h"
#include "prompt/localized_texts.h"
#include "transport/download_progress.h"
#include "transport/transfer_settings.h"

// Which source installed Office in this run.
enum class InstallSource { None, Store, ContentNetwork, PackageList, Share };

// The step whose result became the run's exit code: the closing line's
// meaning of a code depends on it (2 from the installer package check is not
// 2 from the list's decryptor).
enum class RunStep {
  AgentSettings,
  Unexpected,  // a failure nothing caught on its way
  DebugRun,
  Lock,
  Languages,
  Arguments,
  Installer,
  Extraction,
  RunningApps,
  Store,       // setup from the server's store or Microsoft's content network
  TimeLimit,   // the package-file list was not tried
  ListDownload,
  ListDecryptor,
  ListFiles,
  ListSetup,
  Share,
};

struct FlowState {
  int resultCode = 0;          // starts as the extraction's result
  bool flowSucceeded = false;  // an installation flow succeeded
  bool promptAccepted = false; // the user agreed to close applications
  bool directDownload = false; // setup fetches from Microsoft's content network
  int phaseStartTime = 0;      // seconds clock when source selection began
  DWORD proceedOldFlowDirectly = 0;
  InstallSource installedBy = InstallSource::None;
  RunStep step = RunStep::AgentSettings;
  // The check of what is installed, made after a success only.
  std::optional<OfficeVerificationResult> verification;
  // How far the deployment's downloads have come, for the log and the
  // agent; its record goes when the run ends.
  ProgressReporter downloadProgress;
  // The transfers' settings, taken from the agent's at start-up, and what
  // the transfers change during the run.
  TransferSettings transfers;
  TransferRunState transfersRun;
  // What the run wrote to the remark file.
  RunRemarks remarks;
  // The agent's keys, and its tracking key as this process names it.
  reg_path::AgentKeys keys;
  std::string trackingKey = keys.tracking;
};

FlowState& Flow();
// What the run knows of Office; the driver fills its run values and hands it
// to the Office code.
OfficeState& OfficeCtx();
// The run's prompt texts, constructed on first use (it reads the system's
// locale then).
LocalizedPromptTexts& PromptTexts();

// Setup's "applications in use" and the run's "postponed or blocked by
// running applications": every flow reports the first as the second.
const int kSetupAppsInUse = 17006;
const int kBlockedByUser = 20001;
inline int BlockedIfAppsInUse(int result) { return result == kSetupAppsInUse ? kBlockedByUser : result; }

// "<Office patch key>\<file-name number>": the prompt state of this deployment.
std::string DeploymentKeyPath(const reg_path::AgentKeys& keys);

// The server addresses to try, in order: sorted byte-wise (stable), with
// adjacent duplicates removed. Empty entries stay (they sort first) and are
// skipped by the caller.
std::vector<std::string> BuildServerAddressList(std::vector<std::string> values);
// Whether a setup result ends the attempts over the server addresses.
bool EndsServerAttempts(int result);
