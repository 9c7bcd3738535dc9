#include "driver/flow_state.h"
#include "driver/fallback_stage.h"

#include <gtest/gtest.h>

TEST(ServerAddressList, SortedStableAndWithoutAdjacentDuplicates) {
  struct Case {
    std::vector<std::string> in;
    std::vector<std::string> out;
  } cases[] = {
      // Name and flat name equal: tried once.
      {{"srv", "srv", "10.0.0.5", ""}, {"", "10.0.0.5", "srv"}},
      // Byte-wise and case-sensitive: upper case sorts before lower case.
      {{"beta", "Alpha", "alpha", "10.1.1.1"}, {"10.1.1.1", "Alpha", "alpha", "beta"}},
      {{"", "", "", ""}, {""}},
      {{"b", "a", "b", "a"}, {"a", "b"}},
  };
  for (const Case& c : cases) EXPECT_EQ(BuildServerAddressList(c.in), c.out);
}

TEST(FallbackStage, WhichSourcesAreStillTried) {
  const struct {
    bool succeeded;
    bool directDownload;
    int result;
    int elapsed;  // seconds since source selection began
    OldFlowStep list;
    bool shareWhenEnabled;
  } cases[] = {
      {true, false, 0, 10, OldFlowStep::NotNeeded, false},
      {false, true, 17002, 10, OldFlowStep::NotNeeded, true},
      {false, false, 17002, 7199, OldFlowStep::Run, true},
      {false, false, 17002, 7200, OldFlowStep::TimedOut, true},
      {false, false, 1168, 0, OldFlowStep::Run, true},
      {false, false, 258, 0, OldFlowStep::ResultStands, true},
      {false, false, 17003, 0, OldFlowStep::ResultStands, true},
      {false, false, 17006, 0, OldFlowStep::ResultStands, true},
      {false, false, 30035, 0, OldFlowStep::ResultStands, true},
      {false, false, 20001, 0, OldFlowStep::ResultStands, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result);
    FlowState state;
    state.flowSucceeded = c.succeeded;
    state.directDownload = c.directDownload;
    state.resultCode = c.result;
    state.phaseStartTime = 1000000;
    EXPECT_EQ(DecideOldFlow(state, 1000000 + c.elapsed), c.list);
    EXPECT_EQ(ShouldTryNetworkShare(1, state), c.shareWhenEnabled);
    EXPECT_FALSE(ShouldTryNetworkShare(0, state));
  }
}
