// Base for tests that run the real program over a freshly seeded agent: the
// agent registry is cleared and seeded before each case and cleared after it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace testing_support {

class AgentProgramTest : public ::testing::Test {
 protected:
  explicit AgentProgramTest(const std::string& folder) : agent_(folder), program_(BinPath("OfficeInstaller.exe")) {}

  void SetUp() override {
    ClearAgentRegistry();
    SeedMinimalAgent(agent_.path() + "\\");
  }
  void TearDown() override { ClearAgentRegistry(); }

  // Runs program_ with the arguments and returns its full exit code.
  DWORD Run(const std::string& args, DWORD timeoutMs = 120000) {
    ProcessRun run = RunProcess("\"" + program_ + "\" " + args, timeoutMs);
    EXPECT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    return run.exitCode;
  }
  // The agent log with LF line ends.
  std::string Log() const { return ReadTextFile(agent_ / "logs\\rzprereqhandler.log"); }

  TempDir agent_;
  std::string program_;
};

}  // namespace testing_support
