// The time limit of the fallback stage, on a clock that runs fast: the test
// runs under libfaketime (TEST_FAKETIME_FILE, see wine-run), and the setup
// stand-in moves the clock forward while the store installation runs.
#include <gtest/gtest.h>

#include <cstdlib>

#include "flows/deployment_fixture.h"

using namespace testing_support;

TEST_F(DeploymentFlow, StoreInstallationPastTheTimeLimitSkipsTheList) {
  const char* clock = getenv("TEST_FAKETIME_FILE");
  ASSERT_NE(clock, nullptr) << "needs the clock of wine-run's TEST_FAKETIME_FILE";
  const std::string clockFile = ZPath(clock);
  WriteFileBytes(clockFile, "+0\n");
  // Two hours and 100 seconds pass during the store installation.
  PlaceInstaller("configure_exit=1603\nwrite_after_configure=" + clockFile + "|+7300\n");
  const DWORD code = Run();
  WriteFileBytes(clockFile, "+0\n");

  EXPECT_EQ(code, 258u);
  EXPECT_EQ(Count(Calls(), "/configure"), 1u);
  const std::string log = Log();
  EXPECT_NE(log.find("Not proceeding with the old flow due to timeout.\n"), std::string::npos);
  EXPECT_NE(log.find("Not proceeding with zip installation for error code : 258\n"), std::string::npos);
  EXPECT_EQ(log.find("Proceeding with old office zip flow."), std::string::npos);
}
