// The running-applications stage: setup cannot update Office applications
// that are open, so before installing we find out whether any runs and,
// depending on the install mode and the administrator's postponement
// policy, stop, let setup close them, or ask the user. The prompt state of
// the deployment (when it first prompted, until when the user postponed)
// stays in the deployment key across runs. After the installation the
// completion rule decides whether the user hears that it is done.
#pragma once

#include <windows.h>

#include "driver/flow_state.h"

// Runs the stage. true: the deployment goes on (with the prompt-accepted
// and close-applications flags set when the user agreed). false: the run
// ends with *exitCode: 20001 when applications run and may not be closed,
// the user postponed or gave no usable answer; 5 when the prompt program
// failed.
bool RunningApplicationsStage(FlowState* state, int* exitCode);

// Shows the completion notice when the user had agreed to close
// applications in the asking install mode, unless the administrator turned
// it off.
void CompletionRule(const FlowState& state);

// --- pure pieces, exposed for tests ---
enum class RunningAppsPrompt {
  kNone,        // the user postponed and the time has not come
  kRunning,     // may the applications be closed?
  kPostpone,    // the same, with postponement
  kForceClose,  // the deadline has passed: they will be closed
};
struct RunningAppsPromptChoice {
  RunningAppsPrompt prompt = RunningAppsPrompt::kNone;
  // Days the postpone prompt offers; 0 leaves the limit to the prompt program.
  long daysOffered = 0;
  // This prompt counts as the deployment's first: FirstPromptTime := now.
  bool writeFirstPromptTime = false;
};
// The prompt for a run, from the postponement switch, the forced-close days
// (0: never), the stored FirstPromptTime and PostPoneTill (0: none) and now,
// all on the seconds clock. The deadline is FirstPromptTime plus the days,
// and the days a postponement may still offer are counted from PostPoneTill,
// truncated.
RunningAppsPromptChoice ChooseRunningAppsPrompt(DWORD enablePostpone, DWORD forceCloseDays, int firstPromptTime,
                                                int postPoneTill, int now);
