#include "driver/running_apps_stage.h"

#include <algorithm>
#include <string>

#include "agent/custom_remarks.h"
#include "agent/registry.h"
#include "log/agent_log.h"
#include "log/seconds_clock.h"
#include "office/office_state.h"
#include "prompt/running_office_apps.h"
#include "prompt/user_prompts.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace {

const int kPromptFailure = 5;
const int kInstallClosesApps = 1;
const int kInstallAsksUser = 3;
const long long kSecondsPerDay = 86400;
const long long kMostDays = 2147483647;

// The prompt program's answers in "ExitCode".
const DWORD kAnswerYes = 1;
const DWORD kAnswerNo = 2;
const DWORD kAnswerFailed = 3;

// A stored time of the deployment key; empty, missing or not a number is 0.
int ReadPromptTime(const std::string& deploymentKey, const char* name) {
  std::string text;
  ReadViewString(deploymentKey.c_str(), name, &text, 0);
  return AtoiOrZero(text.c_str());
}

// Reads and deletes a text value of the patch key.
std::string TakePatchText(const reg_path::AgentKeys& keys, const char* name) {
  std::string text;
  ReadViewString(keys.patch.c_str(), name, &text, 0);
  deleteValue(HKEY_LOCAL_MACHINE, keys.patch.c_str(), name);
  return text;
}

// Reads and deletes the prompt program's answer; 0 when there is none.
DWORD TakePromptAnswer(const reg_path::AgentKeys& keys) {
  DWORD answer = 0;
  ReadViewDword(keys.officePatchData.c_str(), "ExitCode", &answer, 0);
  deleteValue(HKEY_LOCAL_MACHINE, keys.officePatchData.c_str(), "ExitCode");
  return answer;
}

// An answer still there from an earlier run (one that ended between its
// prompt and reading the answer) would answer for this run, even when this
// run shows no prompt at all, and could close the user's applications
// without asking. Only this run's prompt may answer.
void DiscardEarlierAnswer(const reg_path::AgentKeys& keys) {
  DWORD earlier = 0;
  if (ReadViewDword(keys.officePatchData.c_str(), "ExitCode", &earlier, 0) == ERROR_FILE_NOT_FOUND) return;
  LogInfo("RunningApplicationsStage : Discarding the prompt answer %d of an earlier run.\n", static_cast<int>(earlier));
  deleteValue(HKEY_LOCAL_MACHINE, keys.officePatchData.c_str(), "ExitCode");
}

void ShowChosenPrompt(const FlowState& state, const RunningAppsPromptChoice& choice, int now, int postPoneTill,
                      long processId) {
  UserWindowPromptForOffice365 prompt(PromptTexts(), state.keys, OfficeCtx().run.agentFolder);
  switch (choice.prompt) {
    case RunningAppsPrompt::kNone:
      LogInfo("CurrTime is %ld and customer opted to postpone till %ld\n", static_cast<long>(now),
              static_cast<long>(postPoneTill));
      break;
    case RunningAppsPrompt::kRunning:
      prompt.ShowPatchIsRunningPrompt(processId);
      break;
    case RunningAppsPrompt::kPostpone:
      prompt.ShowPatchIsRunningPromptWithPostpone(choice.daysOffered, processId);
      break;
    case RunningAppsPrompt::kForceClose:
      prompt.ShowForceClosePrompt(processId);
      LogInfo("Force Closing Application as due agent configuration settings\n");
      break;
  }
}

}  // namespace

RunningAppsPromptChoice ChooseRunningAppsPrompt(DWORD enablePostpone, DWORD forceCloseDays, int firstPromptTime,
                                                int postPoneTill, int now) {
  RunningAppsPromptChoice choice;
  const bool forceClosing = forceCloseDays != 0;
  // In 64 bits: a deadline many years away must not wrap into the past and
  // close the applications at once.
  const long long deadline = firstPromptTime + static_cast<long long>(forceCloseDays) * kSecondsPerDay;
  if (enablePostpone != 0) {
    if (firstPromptTime == 0 || postPoneTill == 0) {
      choice.writeFirstPromptTime = true;
      choice.prompt = RunningAppsPrompt::kPostpone;
      choice.daysOffered = static_cast<long>(std::min<long long>(forceCloseDays, kMostDays));
    } else if (now <= postPoneTill) {
      choice.prompt = RunningAppsPrompt::kNone;
    } else if (!forceClosing) {
      choice.prompt = RunningAppsPrompt::kPostpone;
    } else if (postPoneTill < deadline) {
      choice.prompt = RunningAppsPrompt::kPostpone;
      choice.daysOffered = static_cast<long>(std::min((deadline - postPoneTill) / kSecondsPerDay, kMostDays));
    } else {
      choice.prompt = RunningAppsPrompt::kForceClose;
    }
    return choice;
  }
  if (!forceClosing) {
    choice.prompt = RunningAppsPrompt::kRunning;
  } else if (firstPromptTime == 0) {
    choice.writeFirstPromptTime = true;
    choice.prompt = RunningAppsPrompt::kRunning;
  } else if (now > deadline) {
    choice.prompt = RunningAppsPrompt::kForceClose;
  } else {
    choice.prompt = RunningAppsPrompt::kRunning;
  }
  return choice;
}

bool RunningApplicationsStage(FlowState* state, int* exitCode) {
  OfficeState& office = OfficeCtx();
  if (office.HowToInstall == kInstallClosesApps || IsOfficeApplicationRunning() != 1) return true;
  if (office.HowToInstall != kInstallAsksUser) {
    LogInfo("Office application running and cannot force close apps. Cannot proceed with installation.\n");
    *exitCode = kBlockedByUser;
    return false;
  }

  SetPromptBrowserRestrictions();
  const long processId = static_cast<long>(GetCurrentProcessId());
  const int now = GetTimeInSeconds();
  LogInfo("--------------------Calling PatchPrompt-----------------\n");
  DWORD enablePostpone = 0;
  DWORD forceCloseDays = 0;
  ReadDwordRegistryData(HKEY_LOCAL_MACHINE, state->keys.officePatchData.c_str(), "EnablePostPoneInPrompt",
                        &enablePostpone);
  ReadDwordRegistryData(HKEY_LOCAL_MACHINE, state->keys.officePatchData.c_str(), "ForceCloseAppsInDays",
                        &forceCloseDays);
  const std::string deploymentKey = DeploymentKeyPath(state->keys);
  const int firstPromptTime = ReadPromptTime(deploymentKey, "FirstPromptTime");
  const int postPoneTill = ReadPromptTime(deploymentKey, "PostPoneTill");

  const RunningAppsPromptChoice choice =
      ChooseRunningAppsPrompt(enablePostpone, forceCloseDays, firstPromptTime, postPoneTill, now);
  if (choice.writeFirstPromptTime) {
    writeValue(HKEY_LOCAL_MACHINE, deploymentKey.c_str(), "FirstPromptTime", std::to_string(now).c_str(), REG_SZ);
  }
  DiscardEarlierAnswer(state->keys);
  ShowChosenPrompt(*state, choice, now, postPoneTill, processId);

  const DWORD answer = TakePromptAnswer(state->keys);
  LogInfo("Exit code for the Prompt : %d \n", static_cast<int>(answer));
  RestorePromptBrowserRestrictions();

  if (answer == kAnswerYes) {
    LogInfo("Office application running.Proceeding with installation by closing the application.\n");
    state->promptAccepted = true;
    office.closeApplications = true;
    return true;
  }
  if (answer == kAnswerNo) {
    LogError("User Opted Not to proceed with installation.\n");
    if (enablePostpone != 0) {
      const std::string postponedTill = TakePatchText(state->keys, "UserPromptPostPoneValue");
      writeValue(HKEY_LOCAL_MACHINE, deploymentKey.c_str(), "PostPoneTill", postponedTill.c_str(), REG_SZ);
    }
    state->remarks.Write(office.run.agentFolder, "Office updates postponed by users");
    *exitCode = kBlockedByUser;
  } else if (answer == kAnswerFailed) {
    LogError("PatchPrompt Failure\n");
    *exitCode = kPromptFailure;
  } else {
    LogError("User opted neither Yes nor Skip. Cannot proceed with installation.\n");
    state->remarks.Write(office.run.agentFolder, "Office updates postponed due to no response to notification.");
    *exitCode = kBlockedByUser;
  }
  return false;
}

void CompletionRule(const FlowState& state) {
  DWORD neglect = 0;
  ReadDwordRegistryData(HKEY_LOCAL_MACHINE, state.keys.officePatchData.c_str(), "NeglectOfficeCompletionPrompt",
                        &neglect);
  if (neglect != 0) {
    LogInfo("Completion Prompt for office is neglected \n");
  } else if (!state.promptAccepted) {
    LogInfo("Running Prompt is not displayed so Completion Prompt is skipped \n");
  } else if (OfficeCtx().HowToInstall == kInstallAsksUser) {
    UserWindowPromptForOffice365(PromptTexts(), state.keys, OfficeCtx().run.agentFolder)
        .ShowPatchCompletedPrompt(static_cast<long>(GetCurrentProcessId()));
  }
}
