#include "prompt/user_prompts.h"

#include <gtest/gtest.h>

TEST(RunningPromptTimeout, ClampedToFiveToThirtyMinutesAsUnsigned) {
  const struct {
    DWORD stored;
    DWORD given;
  } cases[] = {{0, 5}, {3, 5}, {5, 5}, {17, 17}, {30, 30}, {45, 30}, {4294967295u, 30}};
  for (const auto& c : cases) EXPECT_EQ(ClampRunningPromptTimeout(c.stored), c.given) << c.stored;
}
