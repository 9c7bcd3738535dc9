#include "driver/session_entry_points.h"

#include "agent/agent_parameters.h"

namespace {

TokenRunRequest Request(const char* workingFolder, const char* commandLine, int timeoutMinutes, int show,
                        int loadProfile) {
  TokenRunRequest request;
  request.workingFolder = workingFolder;
  request.commandLine = commandLine;
  request.timeoutMinutes = timeoutMinutes;
  request.show = show;
  request.loadProfile = loadProfile;
  return request;
}

ExRunOptions ExOptions(int mode, const RunCredentials& credentials, int enableLogging, const char* logFile) {
  ExRunOptions ex;
  ex.mode = mode;
  ex.credentials = credentials;
  ex.enableLogging = enableLogging;
  ex.logFile = logFile;
  return ex;
}

SessionRunSettings SettingsOfThisRun() {
  const AgentParameters& params = AgentParams();
  SessionRunSettings settings;
  settings.clientNamespace = params.clientNamespace;
  settings.isWow64 = params.isWow64;
  return settings;
}

}  // namespace

int ExecuteWithToken(HANDLE token, const char* workingFolder, const char* commandLine, std::string* remarks,
                     int timeoutMinutes, int show, int loadProfile) {
  return RunWithToken(token, Request(workingFolder, commandLine, timeoutMinutes, show, loadProfile), remarks);
}

int ExecuteInSession(const char* workingFolder, const char* commandLine, std::string* remarks, int timeoutMinutes,
                     int show, const char* executableName, int session) {
  const TokenLender lender{executableName, session};
  return RunInSession(lender, Request(workingFolder, commandLine, timeoutMinutes, show, 1), remarks);
}

int ExecuteInSystemSession(const char* workingFolder, const char* commandLine, std::string* remarks, int timeoutMinutes,
                           int show, int session) {
  return ExecuteInSession(workingFolder, commandLine, remarks, timeoutMinutes, show, kSystemSessionProgram, session);
}

int ExecuteWithTokenEx(HANDLE token, const char* workingFolder, const char* commandLine, std::string* remarks,
                       int timeoutMinutes, int show, int loadProfile, int mode, const RunCredentials& credentials,
                       int enableLogging, const char* logFile) {
  return RunWithTokenEx(token, Request(workingFolder, commandLine, timeoutMinutes, show, loadProfile),
                        ExOptions(mode, credentials, enableLogging, logFile), SettingsOfThisRun(), remarks);
}

int ExecuteInSessionEx(const char* workingFolder, const char* commandLine, std::string* remarks, int timeoutMinutes,
                       int show, const char* executableName, int session, int mode, const RunCredentials& credentials,
                       int enableLogging, const char* logFile) {
  const TokenLender lender{executableName, session};
  return RunInSessionEx(lender, Request(workingFolder, commandLine, timeoutMinutes, show, 1),
                        ExOptions(mode, credentials, enableLogging, logFile), SettingsOfThisRun(), remarks);
}

int ExecuteInSystemSessionEx(const char* workingFolder, const char* commandLine, std::string* remarks,
                             int timeoutMinutes, int show, int session, int mode, const RunCredentials& credentials,
                             int enableLogging, const char* logFile) {
  return ExecuteInSessionEx(workingFolder, commandLine, remarks, timeoutMinutes, show, kSystemSessionProgram, session,
                            mode, credentials, enableLogging, logFile);
}
