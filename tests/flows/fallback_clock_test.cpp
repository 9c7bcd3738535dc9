// The two-hour limits, on a clock that runs fast: the test runs under
// libfaketime (TEST_FAKETIME_FILE, see wine-run). The setup stand-in moves
// the clock forward while the store installation runs, or the test does
// while a second run of a deployment waits for the first.
#include <gtest/gtest.h>

#include <cstdlib>

#include "flows/deployment_fixture.h"
#include "util/handles.h"

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

namespace {

// A run of the program that goes on while the test does other things.
class BackgroundRun {
 public:
  explicit BackgroundRun(const std::string& commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    std::wstring line = ChangeUtf8ToWideStr(commandLine.c_str());
    started_ =
        CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, process_.put());
  }
  // The exit code; a run still going after five minutes fails the test.
  DWORD Wait() {
    DWORD code = STILL_ACTIVE;
    EXPECT_TRUE(started_);
    if (!started_) return code;
    EXPECT_EQ(WaitForSingleObject(process_.get().hProcess, 300000), WAIT_OBJECT_0);
    GetExitCodeProcess(process_.get().hProcess, &code);
    return code;
  }

 private:
  UniqueProcessInfo process_;
  bool started_ = false;
};

}  // namespace

TEST_F(DeploymentFlow, ASecondRunOfTheSamePatchWaitsForTheFirstAtMostTwoHours) {
  const char* clock = getenv("TEST_FAKETIME_FILE");
  ASSERT_NE(clock, nullptr) << "needs the clock of wine-run's TEST_FAKETIME_FILE";
  const std::string clockFile = ZPath(clock);
  WriteFileBytes(clockFile, "+0\n");
  const char kWaiting[] = "Another run of deployment 12 is in progress. Waiting for it to end.\n";
  // Whenever the log holds the n-th waiting line; bounded.
  auto waitingLines = [this, &kWaiting](size_t n) {
    for (int i = 0; i < 1200 && Count(Log(), kWaiting) < n; ++i) Sleep(50);
    return Count(Log(), kWaiting);
  };
  const std::wstring lockPath = ChangeUtf8ToWideStr((PackageFolder() + ".lock").c_str());
  auto holdLock = [&lockPath]() {
    MakeDirs(ChangeWideToUtf8Str(lockPath.substr(0, lockPath.rfind(L'\\'))));
    // Released as the program releases it: the file goes with the handle.
    return UniqueFile(CreateFileW(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  };
  // The test plays the first run of patch 12, whose setup has changed the
  // update channel for now.
  UniqueFile first = holdLock();
  ASSERT_TRUE(first);
  writeValue(HKEY_LOCAL_MACHINE, reg_path::kClickToRunConfiguration, "UpdateChannel", "first run's setup", REG_SZ);

  // Another patch does not wait.
  EXPECT_EQ(Run("-pid 13 -ch Current -oce 64 -in office-12.exe -prid O365ProPlusRetail -v 1.0"), 0u);
  EXPECT_EQ(Count(Log(), "Waiting for it to end"), 0u);

  // The second run waits until the first ends, then runs as usual, and
  // restores the channel the first run restored, not the one its setup left.
  BackgroundRun second("\"" + program_ + "\" " + kArgs);
  ASSERT_EQ(waitingLines(1), 1u);
  EXPECT_EQ(Count(Calls(), "/extract:"), 1u);
  writeValue(HKEY_LOCAL_MACHINE, reg_path::kClickToRunConfiguration, "UpdateChannel", kChannel, REG_SZ);
  first.reset();
  EXPECT_EQ(second.Wait(), 0u);
  EXPECT_EQ(Count(Calls(), "/extract:"), 2u);
  std::string channel;
  EXPECT_EQ(ReadViewString(reg_path::kClickToRunConfiguration, "UpdateChannel", &channel, 0), 0);
  EXPECT_EQ(channel, kChannel);
  // A released lock leaves nothing behind.
  EXPECT_EQ(GetFileAttributesW(lockPath.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Count(Log(), "was abandoned"), 0u);

  // A first run that does not end within two hours: 258, nothing done.
  first = holdLock();
  ASSERT_TRUE(first);
  BackgroundRun third("\"" + program_ + "\" " + kArgs);
  ASSERT_EQ(waitingLines(2), 2u);
  WriteFileBytes(clockFile, "+7200\n");
  const DWORD code = third.Wait();
  WriteFileBytes(clockFile, "+0\n");
  EXPECT_EQ(code, 258u);
  EXPECT_EQ(Count(Calls(), "/extract:"), 2u);
  EXPECT_NE(Log().find("Another run of deployment 12 did not end within 7200 seconds.\n"), std::string::npos);

  // A run that ended without releasing the lock left its file: the next run
  // takes it, and says so.
  first.reset();
  WriteFileBytes(ChangeWideToUtf8Str(lockPath), "");
  EXPECT_EQ(Run(), 0u);
  EXPECT_NE(Log().find("Warning : the lock of deployment 12 was abandoned: an earlier run ended without releasing "
                       "it.\n"),
            std::string::npos);
  EXPECT_EQ(GetFileAttributesW(lockPath.c_str()), INVALID_FILE_ATTRIBUTES);
}
