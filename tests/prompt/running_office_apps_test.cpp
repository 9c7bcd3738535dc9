#include "prompt/running_office_apps.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "log/agent_log.h"
#include "support/test_support.h"
#include "util/text.h"

using namespace testing_support;

namespace {

// The log lines naming running applications, without their heads.
std::vector<std::string> RunningLines(const std::string& log) {
  std::vector<std::string> found;
  std::istringstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    size_t end = line.find(" is runnning while installing office patch");
    if (end == std::string::npos) continue;
    size_t start = line.rfind("] ", end);
    found.push_back(line.substr(start == std::string::npos ? 0 : start + 2, end - start - 2));
  }
  return found;
}

}  // namespace

TEST(RunningOfficeApps, FindsEveryWatchedProgramInListOrderUnderItsListedName) {
  TempDir dir("running_apps");
  ASSERT_EQ(OpenAgentLog("apps.log", dir.path().c_str(), 1), 0);
  EXPECT_EQ(IsOfficeApplicationRunning(), 0);
  // The asking program never counts itself: this test, run once more as a
  // copy named like a watched program, finds nothing running up to here.
  wchar_t self[MAX_PATH];
  const std::wstring selfPath(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
  if (EqualsNoCase(ChangeWideToUtf8Str(selfPath.substr(selfPath.find_last_of(L'\\') + 1)), "MSPUB.exe")) return;
  ASSERT_TRUE(CopyFileUtf8(ChangeWideToUtf8Str(selfPath), dir / "MSPUB.exe"));
  EXPECT_EQ(RunProcess("\"" + dir / "MSPUB.exe" + "\" --gtest_filter=RunningOfficeApps.*").exitCode, 0u);
  // A name that only begins like a watched one.
  RunningStandin longer(dir, "WINWORD.exe2");
  ASSERT_TRUE(longer.started());
  EXPECT_EQ(IsOfficeApplicationRunning(), 0);

  // Started out of list order, in other spellings.
  RunningStandin outlook(dir, "OUTLOOK.exe");
  RunningStandin excel(dir, "excel.EXE");
  RunningStandin word(dir, "WINWORD.exe");
  ASSERT_TRUE(outlook.started() && excel.started() && word.started());
  EXPECT_EQ(IsOfficeApplicationRunning(), 1);
  CloseAgentLog();
  const std::vector<std::string> expected = {"WINWORD.exe", "EXCEL.exe", "OUTLOOK.exe"};
  EXPECT_EQ(RunningLines(ReadTextFile(dir / "apps.log")), expected);
}
