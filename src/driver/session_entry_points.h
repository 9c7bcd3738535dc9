// The agent library's entry points for runs in a user's session, with the
// argument lists the library fixes. Each is a thin adapter over the record
// forms of exec/session_runner.h; they sit with the driver because the Ex
// runs take this run's settings (the name space, the WOW64 state) from the
// agent parameters the driver holds. Results and remarks as there.
#pragma once

#include <windows.h>

#include <string>

#include "exec/session_runner.h"

// RunWithToken; the time-out is ignored (35 minutes), show and loadProfile
// are flags.
int ExecuteWithToken(HANDLE token, const char* workingFolder, const char* commandLine, std::string* remarks,
                     int timeoutMinutes, int show, int loadProfile);
// RunInSession with the token of executableName in the session.
int ExecuteInSession(const char* workingFolder, const char* commandLine, std::string* remarks, int timeoutMinutes,
                     int show, const char* executableName, int session);
// ExecuteInSession with the session's winlogon.exe.
int ExecuteInSystemSession(const char* workingFolder, const char* commandLine, std::string* remarks, int timeoutMinutes,
                           int show, int session);

// RunWithTokenEx with the settings of the agent parameters.
int ExecuteWithTokenEx(HANDLE token, const char* workingFolder, const char* commandLine, std::string* remarks,
                       int timeoutMinutes, int show, int loadProfile, int mode, const RunCredentials& credentials,
                       int enableLogging, const char* logFile);
// RunInSessionEx with the settings of the agent parameters.
int ExecuteInSessionEx(const char* workingFolder, const char* commandLine, std::string* remarks, int timeoutMinutes,
                       int show, const char* executableName, int session, int mode, const RunCredentials& credentials,
                       int enableLogging, const char* logFile);
// ExecuteInSessionEx with the session's winlogon.exe.
int ExecuteInSystemSessionEx(const char* workingFolder, const char* commandLine, std::string* remarks,
                             int timeoutMinutes, int show, int session, int mode, const RunCredentials& credentials,
                             int enableLogging, const char* logFile);
