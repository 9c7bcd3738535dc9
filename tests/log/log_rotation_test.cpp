#include "log/log_rotation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/agent_log.h"
#include "support/test_support.h"
#include "util/text.h"

using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::ReadTextFile;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

const char kLogName[] = "rzprereqhandler.log";

std::string Backup(const TempDir& dir, int number) {
  return dir / ("rzprereqhandler" + std::to_string(number) + ".log");
}

int CountOccurrences(const std::string& text, const std::string& what) {
  int count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

class LogRotationTest : public ::testing::Test {
 protected:
  void SetUp() override { keys_.Clear(); }
  void TearDown() override {
    StopLogRotation();
    CloseAgentLog();
    keys_.Clear();
  }

  // The agent's keys of this test program alone.
  testing_support::ScopedTestKey key_{"log_rotation"};
  testing_support::AgentKeysAt keys_{key_.path()};
};

}  // namespace

TEST(RotationPlan, NumberingFollowsTheEntryCount) {
  using S = RotationStep;
  const S live{S::kCopyLive, 0, 1};
  struct Case {
    int count, generations;
    std::vector<S> steps;
  } cases[] = {
      {1, 5, {live}},
      {2, 5, {{S::kMoveBackup, 1, 2}, live}},
      {4, 5, {{S::kMoveBackup, 3, 4}, {S::kMoveBackup, 2, 3}, {S::kMoveBackup, 1, 2}, live}},
      // Live file and backups 1 to 4: the oldest goes first.
      {5, 5,
       {{S::kDeleteBackup, 4, 0}, {S::kMoveBackup, 3, 4}, {S::kMoveBackup, 2, 3}, {S::kMoveBackup, 1, 2}, live}},
      // A stray file sharing the prefix shifts the count past the generations.
      {6, 5,
       {{S::kDeleteBackup, 5, 0}, {S::kMoveBackup, 3, 4}, {S::kMoveBackup, 2, 3}, {S::kMoveBackup, 1, 2}, live}},
      {2, 2, {{S::kDeleteBackup, 1, 0}, live}},
      // The listing failed: nothing is touched.
      {-1, 5, {}},
      {0, 5, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("count " + std::to_string(c.count) + ", generations " + std::to_string(c.generations));
    EXPECT_EQ(PlanLogRotation(c.count, c.generations), c.steps);
  }
}

TEST_F(LogRotationTest, RotatesFromTwoMillionBytesOn) {
  struct Case {
    long long size;  // -1: no live file
    bool rotated;
  } cases[] = {{-1, false}, {1999999, false}, {2000000, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    TempDir dir("rotation_threshold");
    if (c.size >= 0) {
      ASSERT_TRUE(WriteFileBytes(dir / kLogName, std::string(static_cast<size_t>(c.size), 'x')));
    }
    EXPECT_EQ(RotateLoggerForEverRunningProcess(dir.path(), kLogName, 5, 2000000), 0);
    EXPECT_EQ(FileExists(Backup(dir, 1)), c.rotated);
    if (c.rotated) {
      EXPECT_EQ(ReadFileBytes(Backup(dir, 1)).size(), static_cast<size_t>(c.size));
      EXPECT_EQ(ReadFileBytes(dir / kLogName), "");
    } else if (c.size >= 0) {
      EXPECT_EQ(ReadFileBytes(dir / kLogName).size(), static_cast<size_t>(c.size));
    }
  }
}

TEST_F(LogRotationTest, BackupsMoveUpAndTheOldestIsDropped) {
  for (bool stray : {false, true}) {
    SCOPED_TRACE(stray ? "with rzprereqhandler_old.txt" : "backups only");
    TempDir dir("rotation_shift");
    ASSERT_TRUE(WriteFileBytes(dir / kLogName, "live lines\n"));
    for (int n = 1; n <= 4; ++n) {
      ASSERT_TRUE(WriteFileBytes(Backup(dir, n), "backup " + std::to_string(n)));
    }
    ASSERT_TRUE(WriteFileBytes(dir / "agent.log", "not ours"));
    if (stray) {
      ASSERT_TRUE(WriteFileBytes(dir / "rzprereqhandler_old.txt", "stray"));
    }

    EXPECT_EQ(FindNoOfRepeatedFileNames(dir.path(), "rzprereqhandler"), stray ? 6 : 5);
    EXPECT_EQ(RotateLoggerForEverRunningProcess(dir.path(), kLogName, 5, 1), 0);

    EXPECT_EQ(ReadFileBytes(dir / kLogName), "");
    EXPECT_EQ(ReadFileBytes(Backup(dir, 1)), "live lines\n");
    for (int n = 2; n <= 4; ++n) EXPECT_EQ(ReadFileBytes(Backup(dir, n)), "backup " + std::to_string(n - 1));
    EXPECT_FALSE(FileExists(Backup(dir, 5)));
    EXPECT_EQ(ReadFileBytes(dir / "agent.log"), "not ours");
    if (stray) {
      EXPECT_EQ(ReadFileBytes(dir / "rzprereqhandler_old.txt"), "stray");
    }
  }
}

TEST_F(LogRotationTest, RotatingWhileWritingLosesAndCutsNoLine) {
  TempDir dir("rotation_load");
  ASSERT_EQ(OpenAgentLog(kLogName, dir.path().c_str(), 1, keys_.root()), 0);
  const int kLines = 10000;
  const std::string payload(60, 'p');
  std::atomic<int> written{0};
  std::thread writer([&] {
    for (int i = 0; i < kLines; ++i) {
      LogInfo("numbered %s %d\n", payload.c_str(), i);
      written.store(i + 1);
    }
  });
  while (written.load() == 0) std::this_thread::yield();

  // Two generations: each rotation copies the live file to backup 1 only, and
  // the test takes that backup away before the next, so nothing is dropped.
  std::vector<std::string> pieces;
  do {
    EXPECT_EQ(RotateLoggerForEverRunningProcess(dir.path(), kLogName, 2, 1), 0);
    if (FileExists(Backup(dir, 1))) {
      pieces.push_back(ReadTextFile(Backup(dir, 1)));
      DeleteFileW(ChangeUtf8ToWideStr(Backup(dir, 1).c_str()).c_str());
    }
  } while (written.load() < kLines);
  writer.join();
  CloseAgentLog();
  pieces.push_back(ReadTextFile(dir / kLogName));
  ASSERT_GE(pieces.size(), 2u);

  const std::regex numbered(R"(\[ [^\]]+ \] \[ \d+ \] \[INFO\] numbered p{60} (\d+))");
  std::vector<int> seen(kLines, 0);
  int cut = 0;
  for (const std::string& piece : pieces) {
    if (!piece.empty() && piece.back() != '\n') ++cut;
    std::istringstream in(piece);
    std::string line;
    std::smatch match;
    while (std::getline(in, line)) {
      if (line.find("numbered") == std::string::npos) continue;
      if (!std::regex_match(line, match, numbered)) {
        ++cut;
        continue;
      }
      int number = std::stoi(match[1].str());
      if (number >= 0 && number < kLines) ++seen[static_cast<size_t>(number)];
    }
  }
  EXPECT_EQ(cut, 0);
  int notOnce = 0;
  for (int count : seen) notOnce += count != 1;
  EXPECT_EQ(notOnce, 0);
}

TEST_F(LogRotationTest, StartUpRotatesTheAgentLogFromTwoMillionBytesKeepingFourBackups) {
  TempDir dir("rotation_start_up");
  keys_.SeedValue("", "RZAgentInstallDir", dir.path() + "\\");
  const std::string logs = dir / "logs";
  testing_support::MakeDirs(logs);
  for (int n = 1; n <= 4; ++n) {
    WriteFileBytes(logs + "\\rzprereqhandler" + std::to_string(n) + ".log", std::to_string(n));
  }
  const std::string live = logs + "\\" + kLogName;
  for (size_t size : {1999999, 2000000}) {
    SCOPED_TRACE(size);
    WriteFileBytes(live, std::string(size, 'x'));
    ASSERT_EQ(InitializeAgentLog(kLogName, keys_.root()), 0);
    // Checked again every 15 minutes while the log is open.
    EXPECT_EQ(ArmedRotationPeriodMs(), 900000u);
    CloseAgentLog();
    EXPECT_EQ(ArmedRotationPeriodMs(), 0u);
    EXPECT_EQ(ReadFileBytes(logs + "\\rzprereqhandler1.log").size(), size == 2000000 ? size : 1u);
  }
  EXPECT_EQ(ReadFileBytes(logs + "\\rzprereqhandler4.log"), "3");
  EXPECT_FALSE(FileExists(logs + "\\rzprereqhandler5.log"));
}

TEST_F(LogRotationTest, ChecksOnceAtStartThenOncePerPeriod) {
  TempDir dir("rotation_timer");
  ASSERT_EQ(OpenAgentLog(kLogName, dir.path().c_str(), 1, keys_.root()), 0);
  const std::string check = "RotateLoggerForEverRunningProcess : cSfileName";
  LogRotationSettings settings;
  settings.folder = dir.path();
  settings.fileName = kLogName;
  settings.thresholdBytes = 1ULL << 40;

  // A run shorter than the period checks once, at start.
  settings.periodMs = 600000;
  StartLogRotation(settings);
  Sleep(300);
  StopLogRotation();
  EXPECT_EQ(CountOccurrences(ReadTextFile(dir / kLogName), check), 1);

  // Started again with a short period, checks repeat until stopped.
  settings.periodMs = 20;
  StartLogRotation(settings);
  for (int i = 0; i < 1000 && CountOccurrences(ReadTextFile(dir / kLogName), check) < 4; ++i) Sleep(20);
  StopLogRotation();
  int checks = CountOccurrences(ReadTextFile(dir / kLogName), check);
  EXPECT_GE(checks, 4);
  Sleep(100);
  EXPECT_EQ(CountOccurrences(ReadTextFile(dir / kLogName), check), checks);

  // Closing the log stops the checks too: a live file over the threshold
  // afterwards stays as it is.
  settings.thresholdBytes = 1000000;
  StartLogRotation(settings);
  for (int i = 0; i < 1000 && CountOccurrences(ReadTextFile(dir / kLogName), check) < checks + 2; ++i) Sleep(20);
  CloseAgentLog();
  WriteFileBytes(dir / kLogName, std::string(1000000, 'x'));
  Sleep(100);
  EXPECT_FALSE(FileExists(Backup(dir, 1)));
}
