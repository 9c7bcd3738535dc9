// Runs with a borrowed token under Wine. Wine has no winlogon.exe of its own
// and no terminal sessions: a sleeping stand-in named winlogon.exe lends its
// token, and the scripted sessions name our own session.
#include "exec/session_runner.h"

#include <gtest/gtest.h>

#include <string>

#include "support/scripted_sessions.h"
#include "support/test_support.h"
#include "util/handles.h"
#include "util/message_text.h"
#include "util/text.h"

using namespace testing_support;

namespace {

std::string Standin(const std::string& args) { return "\"" + BinPath("child_standin.exe") + "\" " + args; }

int OwnSession() {
  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);
  return static_cast<int>(session);
}

std::string CurrentFolder() {
  char buffer[MAX_PATH];
  DWORD length = GetCurrentDirectoryA(MAX_PATH, buffer);
  return std::string(buffer, length);
}

// A hidden run of the command line from the folder (null: ours), without
// waiting, as the prompts start theirs.
TokenRunRequest Request(const char* workingFolder, const char* commandLine) {
  TokenRunRequest request;
  request.workingFolder = workingFolder;
  request.commandLine = commandLine;
  return request;
}

TokenLender Winlogon() { return TokenLender{kSystemSessionProgram, OwnSession()}; }

bool SameFolder(std::string a, std::string b) {
  while (!a.empty() && a.back() == '\\') a.pop_back();
  while (!b.empty() && b.back() == '\\') b.pop_back();
  return EqualsNoCase(a, b.c_str());
}

// Reads a file once no process holds it any more. Under Wine a child's
// handles can outlive the moment its process counts as ended; the wait is
// bounded.
std::string ReadOnceReleased(const std::string& path) {
  const std::wstring wide = ChangeUtf8ToWideStr(path.c_str());
  for (int waited = 0; waited < 10000; waited += 20) {
    UniqueFile file(CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file || GetLastError() != ERROR_SHARING_VIOLATION) break;
    Sleep(20);
  }
  return ReadFileBytes(path);
}

}  // namespace

TEST(SessionRunner, SystemSessionRunBorrowsWinlogonsTokenAndStaysInTheWorkingFolder) {
  TempDir dir("session_run");
  const std::string work = dir / "work";
  MakeDirs(work);
  const std::string cwdFile = dir / "cwd.txt";
  const std::string line = Standin("3010 0 \"--cwd-to=" + cwdFile + "\"");
  const std::string before = CurrentFolder();
  std::string remarks;

  EXPECT_EQ(RunInSession(TokenLender{"", OwnSession()}, Request(work.c_str(), line.c_str()), &remarks), 13);
  EXPECT_EQ(remarks, "The Process Name given is empty.");
  // No winlogon.exe: no token to borrow, and nothing runs.
  int result = RunInSession(Winlogon(), Request(work.c_str(), line.c_str()), &remarks);
  EXPECT_NE(result, 0);
  EXPECT_EQ(remarks, GetErrorMessageTextQuiet(result));
  EXPECT_FALSE(FileExists(cwdFile));

  RunningStandin winlogon(dir, "winlogon.exe");
  ASSERT_TRUE(winlogon.started());
  // A restart request counts as success; the remarks still say it.
  EXPECT_EQ(RunInSession(Winlogon(), Request(work.c_str(), line.c_str()), &remarks), 0);
  EXPECT_EQ(remarks, GetErrorMessageTextQuiet(3010));
  EXPECT_TRUE(SameFolder(ReadFileBytes(cwdFile), work)) << ReadFileBytes(cwdFile);
  // The prompt program's folder stays ours after the run.
  EXPECT_TRUE(SameFolder(CurrentFolder(), work)) << CurrentFolder();
  SetCurrentDirectoryA(before.c_str());

  // Nothing to run is not a success.
  EXPECT_EQ(RunInSession(Winlogon(), Request(work.c_str(), nullptr), &remarks), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CurrentFolder(), before);

  // A child in our own session joins our job; one in another session, where
  // Windows would refuse it (Wine would not), is never put in it.
  const std::string script = dir / "sessions.txt";
  SetScriptedSessionsFile(script);
  const std::string inJob = dir / "in_job.txt";
  const std::string jobLine = Standin("0 0 \"--in-job-to=" + inJob + "\"");
  for (int tokenSession : {OwnSession(), OwnSession() + 1}) {
    SCOPED_TRACE(tokenSession);
    WriteFileBytes(script, "token " + std::to_string(tokenSession) + "\n");
    EXPECT_EQ(RunInSession(Winlogon(), Request(nullptr, jobLine.c_str()), &remarks), 0);
    EXPECT_EQ(ReadOnceReleased(inJob), tokenSession == OwnSession() ? "1" : "0");
  }
  SetScriptedSessionsFile("");
}

TEST(SessionRunner, LaunchInUserSessionRunsOnlyWhenASessionQualifies) {
  TempDir dir("session_launch");
  const std::string script = dir / "sessions.txt";
  SetScriptedSessionsFile(script);
  RunningStandin winlogon(dir, "winlogon.exe");
  ASSERT_TRUE(winlogon.started());
  const std::string marker = dir / "child.pid";
  const std::string line = Standin("1641 0 \"--marker=" + marker + "\"");

  // Only the services' session, disconnected and without a user.
  WriteFileBytes(script, "0 4\n");
  EXPECT_EQ(LaunchInUserSession(line.c_str(), dir.path()), -1);
  EXPECT_FALSE(FileExists(marker));

  WriteFileBytes(script, "0 4\n" + std::to_string(OwnSession()) + " 0 alice\n");
  EXPECT_EQ(LaunchInUserSession(line.c_str(), dir.path()), 0);
  EXPECT_TRUE(FileExists(marker));
}

TEST(SessionRunner, ExRunAppendsTheChildsOutputToTheLogFile) {
  TempDir dir("session_run_ex");
  RunningStandin winlogon(dir, "winlogon.exe");
  ASSERT_TRUE(winlogon.started());
  const std::string logFile = dir / "detector.log";
  WriteFileBytes(logFile, "earlier run\n");
  const std::string marker = dir / "child.pid";
  const std::string line = Standin("0 0 \"--stdout=proxy found\" \"--marker=" + marker + "\"");
  std::string remarks;

  TokenRunRequest request = Request(nullptr, line.c_str());
  request.timeoutMinutes = 1;
  ExRunOptions ex;
  ex.enableLogging = 1;
  ex.logFile = logFile.c_str();
  const SessionRunSettings settings;  // not under WOW64

  // As an administrator without credentials: nothing runs.
  ExRunOptions administrator = ex;
  administrator.mode = kRunWithAdministratorCredentials;
  request.show = 1;
  EXPECT_EQ(RunInSessionEx(Winlogon(), request, administrator, settings, &remarks), 1);
  EXPECT_EQ(remarks, "Administrator credentials unavailable");
  EXPECT_FALSE(FileExists(marker));

  request.show = 0;
  EXPECT_EQ(RunInSessionEx(Winlogon(), request, ex, settings, &remarks), 0);
  EXPECT_TRUE(FileExists(marker));
  EXPECT_EQ(ReadOnceReleased(logFile), "earlier run\nproxy found");
}
