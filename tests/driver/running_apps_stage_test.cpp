#include "driver/running_apps_stage.h"

#include <gtest/gtest.h>

namespace {

using P = RunningAppsPrompt;

// One row of the prompt choice: what it does not set is the common case,
// postponement on for 7 days, first prompted at 1,000,000, never postponed,
// asked at 1,300,000; the prompt it expects offers no days and writes no
// first prompt time unless it says so.
struct Row {
  DWORD enablePostpone = 1;
  DWORD days = 7;
  int first = 1000000;
  int postPoneTill = 0;
  int now = 1300000;
  RunningAppsPromptChoice expected{P::kPostpone, 0, false};

  Row& NoPostponement() { enablePostpone = 0; return *this; }
  Row& Days(DWORD value) { days = value; return *this; }
  Row& FirstPrompt(int value) { first = value; return *this; }
  Row& PostponedTill(int value) { postPoneTill = value; return *this; }
  Row& At(int value) { now = value; return *this; }
  Row& Shows(P prompt, long daysOffered = 0) {
    expected.prompt = prompt;
    expected.daysOffered = daysOffered;
    return *this;
  }
  Row& WritesFirstPromptTime() { expected.writeFirstPromptTime = true; return *this; }
};

}  // namespace

TEST(RunningAppsPromptChoice, PostponementPolicyAndStoredTimesChooseThePrompt) {
  const Row rows[] = {
      // Days left are counted from PostPoneTill, not from now.
      Row().PostponedTill(1200000).Shows(P::kPostpone, 4),
      // A first prompt offers D days, also none; one never postponed is a
      // first prompt again.
      Row().Days(0).FirstPrompt(0).Shows(P::kPostpone, 0).WritesFirstPromptTime(),
      Row().Shows(P::kPostpone, 7).WritesFirstPromptTime(),
      // Until PostPoneTill, inclusive, nothing is shown.
      Row().PostponedTill(1300000).Shows(P::kNone),
      Row().Days(0).PostponedTill(1200000).Shows(P::kPostpone, 0),
      // Less than a day before the deadline offers 0 days; at it, the
      // applications are closed.
      Row().PostponedTill(1604799).At(1700000).Shows(P::kPostpone, 0),
      Row().PostponedTill(1604800).At(1700000).Shows(P::kForceClose),
      // A deadline decades away stays in the future instead of wrapping
      // past 2^31 into the past.
      Row().Days(10000).FirstPrompt(1700000000).PostponedTill(1700100000).At(1700200000).Shows(P::kPostpone, 9998),
      // Without postponement: the deadline only counts when force closing
      // is on, and passes strictly after it.
      Row().NoPostponement().Days(0).FirstPrompt(0).Shows(P::kRunning),
      Row().NoPostponement().FirstPrompt(0).Shows(P::kRunning).WritesFirstPromptTime(),
      Row().NoPostponement().At(1604800).Shows(P::kRunning),
      Row().NoPostponement().At(1604801).Shows(P::kForceClose),
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.enablePostpone << " " << row.days << " " << row.first << " "
                                    << row.postPoneTill << " " << row.now);
    const RunningAppsPromptChoice choice =
        ChooseRunningAppsPrompt(row.enablePostpone, row.days, row.first, row.postPoneTill, row.now);
    EXPECT_EQ(choice.prompt, row.expected.prompt);
    EXPECT_EQ(choice.daysOffered, row.expected.daysOffered);
    EXPECT_EQ(choice.writeFirstPromptTime, row.expected.writeFirstPromptTime);
  }
}
