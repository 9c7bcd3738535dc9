#include "exec/process_runner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "exec/error_text.h"
#include "support/test_support.h"
#include "util/handles.h"
#include "util/text.h"

using namespace testing_support;

namespace {

// The runners' last two arguments: the longest wait in minutes (0: none)
// and whether the child's window is shown.
const int kOneMinute = 1;
const int kNoWait = 0;
const int kHidden = 0;

std::string Standin(const std::string& args) { return "\"" + BinPath("child_standin.exe") + "\" " + args; }

// Waits for a marker file the stand-in writes and returns the process id in it.
DWORD WaitForMarkerPid(const std::string& path, DWORD budgetMs = 10000) {
  for (DWORD waited = 0;; waited += 20) {
    if (FileExists(path)) return static_cast<DWORD>(strtoul(ReadFileBytes(path).c_str(), nullptr, 10));
    if (waited >= budgetMs) return 0;
    Sleep(20);
  }
}

bool IsRunning(DWORD pid) {
  UniqueHandleNull process(OpenProcess(SYNCHRONIZE, FALSE, pid));
  if (!process) return false;
  return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

void Kill(DWORD pid) {
  UniqueHandleNull process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
  if (!process) return;
  TerminateProcess(process.get(), 1);
  WaitForSingleObject(process.get(), 5000);
}

std::string CurrentFolder() {
  char buffer[MAX_PATH];
  DWORD length = GetCurrentDirectoryA(MAX_PATH, buffer);
  return std::string(buffer, length);
}

std::string WithoutTrailingSeparator(std::string path) {
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

}  // namespace

TEST(ProcessRunner, ExitCodesPassThroughAndSetupSuccessesNormalise) {
  struct Case {
    int exitCode;
    int normalised;
  };
  const Case cases[] = {{0, 0}, {3010, 0}, {1641, 0}, {1508, 0}, {17002, 17002}, {1, 1}, {258, 258}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exitCode);
    std::string line = Standin(std::to_string(c.exitCode) + " 0");
    std::string expectedRemarks = GetErrorMessageTextQuiet(c.exitCode);
    std::string remarks = "stale";
    EXPECT_EQ(executeFileEx(nullptr, line.c_str(), &remarks, kOneMinute, kHidden), c.exitCode);
    EXPECT_EQ(remarks, expectedRemarks);
    remarks = "stale";
    EXPECT_EQ(executeFileName(nullptr, line.c_str(), &remarks, kOneMinute, kHidden), c.exitCode);
    EXPECT_EQ(remarks, expectedRemarks);
    // Normalising changes the result only; the remarks still describe the
    // child's own code (the server wants to see "restart required").
    remarks = "stale";
    EXPECT_EQ(executeFileNormalized(nullptr, line.c_str(), &remarks, kOneMinute, kHidden), c.normalised);
    EXPECT_EQ(remarks, expectedRemarks);
  }
}

TEST(ProcessRunner, TimeOutEndsTheChildAndItsWholeTree) {
  TempDir dir("runner_timeout");
  std::string childMarker = dir / "child.pid";
  std::string grandchildMarker = dir / "grandchild.pid";
  std::string line = Standin("0 600000 \"--marker=" + childMarker + "\" \"--grandchild=" + grandchildMarker + "\"");
  std::string remarks;
  DWORD start = GetTickCount();
  int result = executeFileExWithTimeoutMs(nullptr, line.c_str(), &remarks, 5000, kHidden);
  DWORD elapsed = GetTickCount() - start;

  EXPECT_EQ(result, 258);
  EXPECT_EQ(remarks, GetErrorMessageTextQuiet(258));
  EXPECT_LT(elapsed, 20000u);
  DWORD childPid = WaitForMarkerPid(childMarker, 0);
  DWORD grandchildPid = WaitForMarkerPid(grandchildMarker, 0);
  ASSERT_NE(childPid, 0u) << "the child never ran";
  ASSERT_NE(grandchildPid, 0u) << "the grandchild never ran";
  EXPECT_FALSE(IsRunning(childPid));
  EXPECT_FALSE(IsRunning(grandchildPid)) << "a killed setup must not leave its children behind";
  Kill(grandchildPid);
}

TEST(ProcessRunner, NormalExitLeavesTheChildsOwnChildrenRunning) {
  TempDir dir("runner_normal_exit");
  std::string grandchildMarker = dir / "grandchild.pid";
  std::string line = Standin("7 0 \"--grandchild=" + grandchildMarker + "\"");
  std::string remarks;
  EXPECT_EQ(executeFileEx(nullptr, line.c_str(), &remarks, kOneMinute, kHidden), 7);
  DWORD grandchildPid = WaitForMarkerPid(grandchildMarker);
  ASSERT_NE(grandchildPid, 0u);
  EXPECT_TRUE(IsRunning(grandchildPid));
  Kill(grandchildPid);
}

TEST(ProcessRunner, TimeOutZeroReturnsAtOnceAndTheChildKeepsRunning) {
  TempDir dir("runner_no_wait");
  std::string marker = dir / "child.pid";
  std::string line = Standin("5 600000 \"--marker=" + marker + "\"");
  std::string remarks;
  EXPECT_EQ(executeFileEx(nullptr, line.c_str(), &remarks, kNoWait, kHidden), 0);
  EXPECT_EQ(remarks, GetErrorMessageTextQuiet(0));
  DWORD pid = WaitForMarkerPid(marker);
  ASSERT_NE(pid, 0u);
  EXPECT_TRUE(IsRunning(pid));
  Kill(pid);
}

TEST(ProcessRunner, MissingProgramOrNoCommandLineFails) {
  std::string line = "\"" + BinPath("no_such_program.exe") + "\" 1 2";
  std::string remarks;
  EXPECT_EQ(executeFileEx(nullptr, line.c_str(), &remarks, kOneMinute, kHidden), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(remarks, GetErrorMessageTextQuiet(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(executeFileNormalized(nullptr, line.c_str(), &remarks, kOneMinute, kHidden), ERROR_FILE_NOT_FOUND);
  // Nothing to run is a failure, never a success.
  EXPECT_EQ(executeFileEx(BinPath("").c_str(), nullptr, &remarks, kOneMinute, kHidden), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(executeFileEx(nullptr, "", &remarks, kOneMinute, kHidden), ERROR_INVALID_PARAMETER);
}

TEST(ProcessRunner, MissingWorkingFolderStartsNothingAndKeepsTheCurrentFolder) {
  TempDir dir("runner_bad_folder");
  std::string marker = dir / "child.pid";
  std::string before = CurrentFolder();
  std::string line = Standin("0 0 \"--marker=" + marker + "\"");
  std::string remarks;
  int result = executeFileEx((dir / "missing").c_str(), line.c_str(), &remarks, kOneMinute, kHidden);
  EXPECT_TRUE(result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND) << result;
  EXPECT_EQ(remarks, GetErrorMessageTextQuiet(result));
  EXPECT_EQ(CurrentFolder(), before);
  Sleep(200);
  EXPECT_FALSE(FileExists(marker)) << "the child must not start";
}

TEST(ProcessRunner, ChildStartsInTheWorkingFolderAndOursIsRestored) {
  TempDir dir("runner_folder");
  std::string workFolder = dir / "work";
  MakeDirs(workFolder);
  std::string cwdFile = dir / "cwd.txt";
  std::string before = CurrentFolder();
  ASSERT_NE(WithoutTrailingSeparator(before), workFolder);
  std::string line = Standin("0 0 \"--cwd-to=" + cwdFile + "\"");
  std::string remarks;
  EXPECT_EQ(executeFileEx(workFolder.c_str(), line.c_str(), &remarks, kOneMinute, kHidden), 0);
  EXPECT_TRUE(EqualsNoCase(WithoutTrailingSeparator(ReadFileBytes(cwdFile)), workFolder.c_str()))
      << ReadFileBytes(cwdFile);
  EXPECT_EQ(CurrentFolder(), before);
}

