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

// Runs the command line as the token's user and waits at most 35 minutes
// (the time-out argument is ignored); a child still running then is stopped
// and the result is 258. A child in our own session runs in a job, so its
// whole tree is stopped with it; one in another session cannot join a job of
// ours and is stopped alone. With a working folder, that folder becomes this
// process's current folder and stays so after the run. With loadProfile,
// the child gets the user's environment and profile; their failures are
// logged and do not stop the run. show 1 puts the child on the interactive
// desktop "winsta0\default" in a window of its own; show 0 hides it.
// Returns the exit code with 0, 1508, 1641 and 3010 folded into 0, 258, or
// the system's error; no command line is 87.
int ExecuteWithToken(HANDLE token, const char* workingFolder, const char* commandLine, std::string* remarks,
                     int timeoutMinutes, int show, int loadProfile);

// ExecuteWithToken with the token of the named program in the session, the
// profile loaded. 13 without a program name (remarks "The Process Name given
// is empty."); the system's error when no token can be had, for example when
// no such program runs in the session.
int ExecuteInSession(const char* workingFolder, const char* commandLine, std::string* remarks, int timeoutMinutes,
                     int show, const char* executableName, int session);
// ExecuteInSession with the token of the session's winlogon.exe, which runs
// as the local system account on the user's desktop.
int ExecuteInSystemSession(const char* workingFolder, const char* commandLine, std::string* remarks, int timeoutMinutes,
                           int show, int session);

// Shows a program to the user at the machine: runs the command line with
// ExecuteInSystemSession in the session GetShutDownPrivilegedSessionId
// chooses, from the agent installation folder, shown. The run's result, or
// -1 when no session qualifies (nothing runs then).
int LaunchInUserSession(const char* commandLine);

// The "Ex" runs, for the transport's proxy detector and the agent's
// administrator runs.
// Mode 3: run as the administrator of `credentials`, logged on
// interactively, instead of the borrowed token's user.
const int kRunWithAdministratorCredentials = 3;
struct RunCredentials {
  std::string userName;
  std::string password;
};

// ExecuteWithToken, except: the wait is timeoutMinutes (0: no wait, result
// 0); a hidden child still gets a normal window; the profile goes under the
// name GetDomainnameFromToken gives. With enableLogging (on a process that
// does not run under WOW64), the child's standard output and error are
// appended to logFile. In mode 3 an empty user name skips the run with 1
// and the remarks "Administrator credentials unavailable"; a failed logon
// returns the system's error.
int ExecuteWithTokenEx(HANDLE token, const char* workingFolder, const char* commandLine, std::string* remarks,
                       int timeoutMinutes, int show, int loadProfile, int mode, const RunCredentials& credentials,
                       int enableLogging, const char* logFile);
// ExecuteWithTokenEx with the token of the named program in the session, as
// ExecuteInSession borrows it.
int ExecuteInSessionEx(const char* workingFolder, const char* commandLine, std::string* remarks, int timeoutMinutes,
                       int show, const char* executableName, int session, int mode, const RunCredentials& credentials,
                       int enableLogging, const char* logFile);
// ExecuteInSessionEx with the session's winlogon.exe.
int ExecuteInSystemSessionEx(const char* workingFolder, const char* commandLine, std::string* remarks,
                             int timeoutMinutes, int show, int session, int mode, const RunCredentials& credentials,
                             int enableLogging, const char* logFile);
