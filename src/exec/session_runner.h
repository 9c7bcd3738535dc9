// Runs programs inside a user's terminal session, with an access token
// borrowed from a process that already runs there. We run as the local
// system account outside the user's desktop; this is how a prompt reaches
// the person at the machine.
//
// Texts are UTF-8. Results and remarks follow the local runner
// (exec/process_runner.h): `remarks` receives GetErrorMessageText of the
// child's raw exit code, or of the failure. A session is a terminal-session
// number (exec/session_choice.h chooses one).
#pragma once

#include <windows.h>

#include <string>

// The account name of the token's user (200-character buffer); non-zero on
// success, 0 with `userName` untouched on failure.
int GetUsernameFromToken(HANDLE token, std::string* userName);
// Likewise, with the account's domain as well.
int GetDomainnameFromToken(HANDLE token, std::string* userName, std::string* domain);

// One program to run with a token. Flags are non-zero for on.
struct TokenRunRequest {
  // The folder the child starts in; null: the current folder.
  const char* workingFolder = nullptr;
  const char* commandLine = nullptr;
  // The longest wait of an Ex run (0: no wait); the plain run always waits
  // 35 minutes.
  int timeoutMinutes = 0;
  // 1 puts the child on the interactive desktop "winsta0\default" in a
  // window of its own; 0 hides it.
  int show = 0;
  // The child gets the user's environment and profile.
  int loadProfile = 0;
};

// The program whose token a run borrows, in a terminal session.
struct TokenLender {
  const char* executableName = nullptr;
  int session = -1;
};
// winlogon.exe runs as the local system account on the user's desktop.
const char kSystemSessionProgram[] = "winlogon.exe";

// Runs the command line as the token's user and waits at most 35 minutes;
// a child still running then is stopped and the result is 258. A child in
// our own session runs in a job, so its whole tree is stopped with it; one
// in another session cannot join a job of ours and is stopped alone. With a
// working folder, that folder becomes this process's current folder and
// stays so after the run. Failures of the user's environment and profile
// are logged and do not stop the run. Returns the exit code with 0, 1508,
// 1641 and 3010 folded into 0, 258, or the system's error; no command line
// is 87.
int RunWithToken(HANDLE token, const TokenRunRequest& request, std::string* remarks);

// RunWithToken with the token of the lender, the profile loaded whatever the
// request says. 13 without a program name (remarks "The Process Name given
// is empty."); the system's error when no token can be had, for example when
// no such program runs in the session.
int RunInSession(const TokenLender& lender, const TokenRunRequest& request, std::string* remarks);

// Shows a program to the user at the machine: runs the command line with
// the token of winlogon.exe in the session GetShutDownPrivilegedSessionId
// chooses, from `workingFolder` (the agent's installation folder; empty: the
// system's choice), shown. The run's result, or -1 when no session qualifies
// (nothing runs then).
int LaunchInUserSession(const char* commandLine, const std::string& workingFolder);

// The "Ex" runs, for the transport's proxy detector and the agent's
// administrator runs.
// Mode 3: run as the administrator of `credentials`, logged on
// interactively, instead of the borrowed token's user.
const int kRunWithAdministratorCredentials = 3;
struct RunCredentials {
  std::string userName;
  std::string password;
};
struct ExRunOptions {
  int mode = 0;
  RunCredentials credentials;
  // Appends the child's standard output and error to logFile.
  int enableLogging = 0;
  const char* logFile = nullptr;
};
// What the Ex runs take from the agent's settings.
struct SessionRunSettings {
  // The computer's domain name space: administrator accounts belong to it.
  std::string clientNamespace;
  // A process under WOW64 keeps no log of the child's output.
  bool isWow64 = false;
};

// RunWithToken, except: the wait is request.timeoutMinutes (0: no wait,
// result 0); a hidden child still gets a normal window; the profile goes
// under the name GetDomainnameFromToken gives. With enableLogging (unless
// settings.isWow64), the child's standard output and error are appended to
// logFile. In mode 3 an empty user name skips the run with 1 and the remarks
// "Administrator credentials unavailable"; a failed logon returns the
// system's error.
int RunWithTokenEx(HANDLE token, const TokenRunRequest& request, const ExRunOptions& ex,
                   const SessionRunSettings& settings, std::string* remarks);
// RunWithTokenEx with the token of the lender, as RunInSession borrows it.
int RunInSessionEx(const TokenLender& lender, const TokenRunRequest& request, const ExRunOptions& ex,
                   const SessionRunSettings& settings, std::string* remarks);
