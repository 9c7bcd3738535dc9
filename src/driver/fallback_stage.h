// The fallback stage: when the store installation has not installed Office,
// the package-file list flow and then the network share are tried before the
// run finishes.
#pragma once

#include "driver/flow_state.h"

// Runs the stage over the run's state; the last result stays in it.
void FallbackStage(FlowState* state);

// --- pure pieces, exposed for tests ---
// The longest the store installation may have run (from the start of source
// selection) for the package-file list flow still to be tried.
const int kOldFlowTimeLimitSeconds = 7200;

enum class OldFlowStep {
  Run,
  NotNeeded,     // the store installation succeeded, or setup downloads by itself
  TimedOut,      // the limit has passed: the result becomes 258
  ResultStands,  // a result another source cannot change (time-out, apps in use...)
};
// Whether the package-file list flow runs.
OldFlowStep DecideOldFlow(const FlowState& state, int now);
// Whether the network share is tried after the other flows.
bool ShouldTryNetworkShare(DWORD enableNetworkShare, const FlowState& state);
