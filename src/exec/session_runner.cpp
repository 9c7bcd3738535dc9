#include "exec/session_runner.h"

#include <userenv.h>

#include <functional>
#include <vector>

#include "exec/child_process.h"
#include "exec/process_lookup.h"
#include "exec/process_runner.h"
#include "exec/session_choice.h"
#include "exec/terminal_sessions.h"
#include "log/agent_log.h"
#include "util/handles.h"
#include "util/message_text.h"
#include "util/text.h"

namespace {

using namespace child_process;

// A prompt left open longer than this is closed for the user.
const DWORD kTokenRunWaitMs = 2100000;
const int kTokenRunWaitMinutes = 35;
const DWORD kAccountNameChars = 200;

// One run with a token; what differs between ExecuteWithToken and
// ExecuteWithTokenEx is spelled out here.
struct TokenRun {
  TokenRun(HANDLE runToken, const char* folder, const char* line, int showChild, int withProfile)
      : token(runToken), workingFolder(folder), commandLine(line), show(showChild), loadProfile(withProfile) {}

  const char* who = "ExecuteWithToken";
  // The Ex run: error texts inside its failure lines, a normal window for a
  // hidden child, the profile under the domain lookup's name.
  bool ex = false;
  HANDLE token;
  const char* workingFolder;
  const char* commandLine;
  int show;
  int loadProfile;
  DWORD timeoutMs = kTokenRunWaitMs;  // 0: do not wait
  int timeoutMinutesForLog = kTokenRunWaitMinutes;
  // Becomes the child's standard output and error; null: none.
  HANDLE outputFile = nullptr;
  // Mode 3: the thread impersonates the token's user while the child starts.
  bool impersonate = false;
  const char* userNameForLog = "";
};

// The plain run logs a failed step and then the error's text on its own;
// the Ex run puts the text into the same line.
void LogStepFailure(const TokenRun& run, const char* who, const char* step, DWORD error) {
  if (run.ex) {
    LogError("%s : Error in %s with error %d ,%s", who, step, static_cast<int>(error),
             GetErrorMessageTextQuiet(static_cast<long>(error)).c_str());
  } else {
    LogError("%s : Error in %s with error %d : ", who, step, static_cast<int>(error));
    LogErrorCode(static_cast<long>(error));
  }
}

// The token user's environment block and profile, for the length of a run.
class UserEnvironment {
 public:
  void Load(const TokenRun& run) {
    if (CreateEnvironmentBlock(block_.put(), run.token, FALSE)) {
      LogInfo("%s : EnvironmentBlock Created sucessfully \n", run.who);
    } else {
      // The child then gets our own environment.
      LogStepFailure(run, run.who, "EnvironmentBlock Creation", LastErrorOr(ERROR_GEN_FAILURE));
    }
    std::string user;
    std::string domain;
    if (run.ex) {
      GetDomainnameFromToken(run.token, &user, &domain);
    } else {
      GetUsernameFromToken(run.token, &user);
    }
    userName_ = ChangeUtf8ToWideStr(user.c_str());
    ZeroMemory(&profile_, sizeof(profile_));
    profile_.dwSize = sizeof(profile_);
    profile_.dwFlags = PI_NOUI;
    profile_.lpUserName = &userName_[0];
    if (LoadUserProfileW(run.token, &profile_)) {
      profileLoaded_ = true;
      LogInfo("%s : profile Loaded sucessfully \n", run.who);
    } else {
      LogStepFailure(run, run.who, "Loading profile", LastErrorOr(ERROR_GEN_FAILURE));
    }
  }

  // Clean-up messages read "ExecuteWithToken" for both runs.
  void Unload(const TokenRun& run) {
    if (block_) {
      if (DestroyEnvironmentBlock(block_.release())) {
        LogInfo("ExecuteWithToken : EnvironmentBlock destroyed sucessfully \n");
      } else {
        LogStepFailure(run, "ExecuteWithToken", "destroying EnvironmentBlock ", LastErrorOr(ERROR_GEN_FAILURE));
      }
    }
    if (profileLoaded_) {
      profileLoaded_ = false;
      if (UnloadUserProfile(run.token, profile_.hProfile)) {
        LogInfo("ExecuteWithToken : Profile Unloaded sucessfully \n");
      } else {
        LogStepFailure(run, "ExecuteWithToken", "Unloading profile", LastErrorOr(ERROR_GEN_FAILURE));
      }
    }
  }

  void* block() const { return block_.get(); }

 private:
  UniqueEnvironmentBlock block_;
  PROFILEINFOW profile_;
  std::wstring userName_;
  bool profileLoaded_ = false;
};

// Windows keeps all processes of a job in one session: a child started in
// another session cannot join our job. It is stopped on its own at the
// time-out instead. A token whose session cannot be read is taken for ours.
bool RunsInOwnSession(HANDLE token) {
  DWORD tokenSession = 0;
  DWORD ownSession = 0;
  if (QueryTokenSession(token, &tokenSession) != 0) return true;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &ownSession)) return true;
  return tokenSession == ownSession;
}

// Starts the child as the token's user, inside the job when there is one.
int StartAsTokenUser(const TokenRun& run, void* environment, UniqueHandleNull* job, UniqueProcessInfo* process) {
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  std::wstring desktop = L"winsta0\\default";
  if (run.show) startup.lpDesktop = &desktop[0];
  if (run.show || run.ex) {
    startup.dwFlags |= STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
  }
  if (run.outputFile) {
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdOutput = run.outputFile;
    startup.hStdError = run.outputFile;
  }
  const std::wstring folder = run.workingFolder ? ChangeUtf8ToWideStr(run.workingFolder) : std::wstring();
  auto create = [&](wchar_t* line, DWORD flags, PROCESS_INFORMATION* created) {
    return CreateProcessAsUserW(run.token, nullptr, line, nullptr, nullptr, run.outputFile != nullptr, flags,
                                environment, run.workingFolder ? folder.c_str() : nullptr, &startup, created);
  };
  DWORD flags =
      CREATE_DEFAULT_ERROR_MODE | CREATE_UNICODE_ENVIRONMENT | (run.show ? CREATE_NEW_CONSOLE : CREATE_NO_WINDOW);
  if (!run.impersonate) return StartChild(run.who, run.commandLine, flags, create, job, process);
  if (ImpersonateLoggedOnUser(run.token)) {
    LogInfo("Impersonate : Successfully impersonated the logged on user with %s \n", run.userNameForLog);
  } else {
    LogError("impersonate : Impersonate Logged on User Error :%x\n\n", static_cast<unsigned>(GetLastError()));
  }
  int result = StartChild(run.who, run.commandLine, flags, create, job, process);
  RevertToSelf();
  return result;
}

// The steps both token runs share: folder, environment and profile, start,
// wait, clean-up. The current folder is left at the working folder.
int RunTokenRun(const TokenRun& run, std::string* remarks) {
  std::wstring previousFolder;
  int result = PrepareRun(run.who, run.workingFolder, run.commandLine, &previousFolder, remarks);
  if (result != 0) return result;

  UserEnvironment environment;
  if (run.loadProfile) environment.Load(run);
  UniqueHandleNull job;
  if (RunsInOwnSession(run.token)) job = CreateChildJob(run.who);
  UniqueProcessInfo process;
  result = StartAsTokenUser(run, environment.block(), &job, &process);
  if (result != 0) {
    LogError("%s : Failed to Create the Process %d\n", run.who, result);
    SetRemarks(remarks, result);
  } else {
    LogInfo("%s : Process successfully created for application %s -> %d\n", run.who, run.commandLine,
            static_cast<int>(process.get().dwProcessId));
    int exitCode = 0;
    if (run.timeoutMs != 0) {
      ChildWait wait;
      wait.who = run.who;
      wait.exitCodeText = "Exit code of the process";
      wait.job = job.get();
      wait.child = process.get().hProcess;
      wait.timeoutMs = run.timeoutMs;
      wait.timeoutMinutesForLog = run.timeoutMinutesForLog;
      wait.commandLine = run.commandLine;
      exitCode = WaitForChild(wait);
    }
    // The remarks keep the text of the raw code ("a restart is needed").
    SetRemarks(remarks, exitCode);
    result = NormalizeSetupResult(exitCode);
  }
  process.reset();
  if (run.loadProfile) environment.Unload(run);
  return result;
}

int LookupTokenAccount(HANDLE token, std::string* userName, std::string* domain) {
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  if (size == 0) return 0;
  std::vector<BYTE> buffer(size);
  if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return 0;
  const TOKEN_USER* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
  wchar_t name[kAccountNameChars] = L"";
  wchar_t domainName[kAccountNameChars] = L"";
  DWORD nameChars = kAccountNameChars;
  DWORD domainChars = kAccountNameChars;
  SID_NAME_USE use;
  if (!LookupAccountSidW(nullptr, user->User.Sid, name, &nameChars, domainName, &domainChars, &use)) return 0;
  *userName = ChangeWideToUtf8Str(name);
  if (domain) *domain = ChangeWideToUtf8Str(domainName);
  return 1;
}

// Borrows the token of the lender for `run`; the token is closed afterwards.
int RunWithBorrowedToken(const char* who, const TokenLender& lender, std::string* remarks,
                         const std::function<int(HANDLE)>& run) {
  if (!lender.executableName || !*lender.executableName) {
    if (remarks) *remarks = "The Process Name given is empty.";
    return 13;
  }
  UniqueHandleNull token;
  int error = GetProcessToken(lender.executableName, lender.session, token.put());
  if (error != 0) {
    LogError("%s : Unable to get the Process token .\n", who);
    SetRemarks(remarks, error);
    return error;
  }
  return run(token.get());
}

// Mode 3: logs the administrator on interactively into `token`. 1 with the
// remarks "Administrator credentials unavailable" without a user name; the
// system's error of a failed logon.
int LogOnAdministrator(const RunCredentials& credentials, const std::string& domain, UniqueHandleNull* token,
                       std::string* remarks) {
  if (credentials.userName.empty()) {
    if (remarks) *remarks = "Administrator credentials unavailable";
    return 1;
  }
  // This program holds no saved user token of the agent's, so the account
  // belongs to the computer's own domain name space.
  if (!LogonUserW(ChangeUtf8ToWideStr(credentials.userName.c_str()).c_str(),
                  ChangeUtf8ToWideStr(domain.c_str()).c_str(),
                  ChangeUtf8ToWideStr(credentials.password.c_str()).c_str(), LOGON32_LOGON_INTERACTIVE,
                  LOGON32_PROVIDER_DEFAULT, token->put())) {
    int error = static_cast<int>(LastErrorOr(ERROR_LOGON_FAILURE));
    LogError("impersonate : Logon User Error :%d\n\n", error);
    SetRemarks(remarks, error);
    return error;
  }
  return 0;
}

// The log file that takes the child's standard output and error: opened
// for appending with an inheritable handle; empty (logged) when it cannot be.
UniqueFile OpenChildOutputLog(const char* logFile) {
  SECURITY_ATTRIBUTES inheritable;
  ZeroMemory(&inheritable, sizeof(inheritable));
  inheritable.nLength = sizeof(inheritable);
  inheritable.bInheritHandle = TRUE;
  UniqueFile output(CreateFileW(ChangeUtf8ToWideStr(logFile).c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inheritable,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (output) {
    SetFilePointer(output.get(), 0, nullptr, FILE_END);
    LogInfo("ExecuteWithTokenEx : %s file opened sucess..\n", logFile);
  } else {
    LogError("ExecuteWithTokenEx : Unable to create log file %s %d\n", logFile, static_cast<int>(GetLastError()));
  }
  return output;
}

}  // namespace

int GetUsernameFromToken(HANDLE token, std::string* userName) {
  if (!LookupTokenAccount(token, userName, nullptr)) return 0;
  LogDebug("GetUsernameFromToken : -> %s \n", userName->c_str());
  return 1;
}

int GetDomainnameFromToken(HANDLE token, std::string* userName, std::string* domain) {
  if (!LookupTokenAccount(token, userName, domain)) return 0;
  LogDebug("GetDomainnameFromToken : -> %s\\%s \n", domain->c_str(), userName->c_str());
  return 1;
}

int RunWithToken(HANDLE token, const TokenRunRequest& request, std::string* remarks) {
  return RunTokenRun(TokenRun(token, request.workingFolder, request.commandLine, request.show, request.loadProfile),
                     remarks);
}

int RunInSession(const TokenLender& lender, const TokenRunRequest& request, std::string* remarks) {
  return RunWithBorrowedToken("ExecuteInSession", lender, remarks, [&](HANDLE token) {
    TokenRunRequest withProfile = request;
    withProfile.loadProfile = 1;
    return RunWithToken(token, withProfile, remarks);
  });
}

int LaunchInUserSession(const char* commandLine, const std::string& workingFolder) {
  int console = GetActiveSessionId();
  int session = GetShutDownPrivilegedSessionId();
  LogInfo("Active Console Id: %d and Active Session Id : %d\n", console, session);
  if (session == -1) {
    LogError("Can't initiate the exe : %s ", commandLine ? commandLine : "");
    return -1;
  }
  // The prompt program finds its files beside the agent.
  TokenRunRequest request;
  request.workingFolder = workingFolder.empty() ? nullptr : workingFolder.c_str();
  request.commandLine = commandLine;
  request.show = 1;
  std::string remarks;
  int result = RunInSession(TokenLender{kSystemSessionProgram, session}, request, &remarks);
  std::string user;
  if (QuerySessionUserName(session, &user) == 0 && !user.empty()) {
    LogInfo("Currently logged on user which called the MsgHandler is : %s\n", user.c_str());
  }
  return result;
}

int RunWithTokenEx(HANDLE token, const TokenRunRequest& request, const ExRunOptions& ex,
                   const SessionRunSettings& settings, std::string* remarks) {
  TokenRun run(token, request.workingFolder, request.commandLine, request.show, request.loadProfile);
  run.who = "ExecuteWithTokenEx";
  run.ex = true;
  run.timeoutMs = MinutesToMs(request.timeoutMinutes);
  run.timeoutMinutesForLog = request.timeoutMinutes;
  LogInfo("ExecuteWithTokenEx : showUI is %d\n", request.show);
  LogInfo("ExecuteWithTokenEx : enableLogging is %d\n", ex.enableLogging);
  if (request.show) {
    LogInfo("Inside showUI is true\n");
  } else {
    LogInfo("Inside showUI is false\n");
  }
  if (ex.enableLogging) LogInfo("Inside enableLogging is true\n");

  UniqueHandleNull administrator;
  if (ex.mode == kRunWithAdministratorCredentials) {
    const int result = LogOnAdministrator(ex.credentials, settings.clientNamespace, &administrator, remarks);
    if (result != 0) return result;
    run.token = administrator.get();
    run.impersonate = true;
    run.userNameForLog = ex.credentials.userName.c_str();
  }

  UniqueFile output;
  if (ex.enableLogging && !settings.isWow64 && ex.logFile) {
    output = OpenChildOutputLog(ex.logFile);
    run.outputFile = output.get();
  }
  return RunTokenRun(run, remarks);
}

int RunInSessionEx(const TokenLender& lender, const TokenRunRequest& request, const ExRunOptions& ex,
                   const SessionRunSettings& settings, std::string* remarks) {
  return RunWithBorrowedToken("ExecuteInSessionEx", lender, remarks, [&](HANDLE token) {
    TokenRunRequest withProfile = request;
    withProfile.loadProfile = 1;
    return RunWithTokenEx(token, withProfile, ex, settings, remarks);
  });
}
