#include "driver/running_apps_stage.h"

#include <gtest/gtest.h>

TEST(RunningAppsPromptChoice, PostponementPolicyAndStoredTimesChooseThePrompt) {
  using P = RunningAppsPrompt;
  const struct {
    DWORD enablePostpone;
    DWORD days;
    int first;
    int postPoneTill;
    int now;
    P prompt;
    long daysOffered;
    bool writeFirst;
  } cases[] = {
      // Days left are counted from PostPoneTill, not from now.
      {1, 7, 1000000, 1200000, 1300000, P::kPostpone, 4, false},
      // A first prompt offers D days, also none; one never postponed is a
      // first prompt again.
      {1, 0, 0, 0, 1300000, P::kPostpone, 0, true},
      {1, 7, 1000000, 0, 1300000, P::kPostpone, 7, true},
      // Until PostPoneTill, inclusive, nothing is shown.
      {1, 7, 1000000, 1300000, 1300000, P::kNone, 0, false},
      {1, 0, 1000000, 1200000, 1300000, P::kPostpone, 0, false},
      // Less than a day before the deadline offers 0 days; at it, the
      // applications are closed.
      {1, 7, 1000000, 1604799, 1700000, P::kPostpone, 0, false},
      {1, 7, 1000000, 1604800, 1700000, P::kForceClose, 0, false},
      // A deadline decades away stays in the future instead of wrapping
      // past 2^31 into the past.
      {1, 10000, 1700000000, 1700100000, 1700200000, P::kPostpone, 9998, false},
      // Without postponement: the deadline only counts when force closing
      // is on, and passes strictly after it.
      {0, 0, 0, 0, 1300000, P::kRunning, 0, false},
      {0, 7, 0, 0, 1300000, P::kRunning, 0, true},
      {0, 7, 1000000, 0, 1604800, P::kRunning, 0, false},
      {0, 7, 1000000, 0, 1604801, P::kForceClose, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.enablePostpone << " " << c.days << " " << c.first << " " << c.postPoneTill
                                    << " " << c.now);
    const RunningAppsPromptChoice choice =
        ChooseRunningAppsPrompt(c.enablePostpone, c.days, c.first, c.postPoneTill, c.now);
    EXPECT_EQ(choice.prompt, c.prompt);
    EXPECT_EQ(choice.daysOffered, c.daysOffered);
    EXPECT_EQ(choice.writeFirstPromptTime, c.writeFirst);
  }
}
