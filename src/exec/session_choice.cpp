#include "exec/session_choice.h"

#include <windows.h>

#include "agent/agent_parameters.h"
#include "exec/process_lookup.h"
#include "exec/terminal_sessions.h"
#include "log/agent_log.h"
#include "util/handles.h"
#include "util/text.h"

namespace {

// LookupPrivilegeName's buffer.
const DWORD kPrivilegeNameChars = 255;

bool IsActiveOrConnected(int state) { return state == kSessionActive || state == kSessionConnected; }

}  // namespace

bool HasNamedUser(const std::string& userName) { return userName.size() > 1; }

SessionChoice ChooseShutdownPrivilegedSession(const std::vector<SessionFacts>& sessions) {
  int disconnectedWithPrivilege = -1;
  int lastActive = -1;
  int lastDisconnected = -1;
  for (const SessionFacts& session : sessions) {
    if (IsActiveOrConnected(session.state)) {
      if (!HasNamedUser(session.userName)) continue;
      if (session.hasShutdownPrivilege) return {session.id, SessionChoiceReason::kActiveWithPrivilege};
      lastActive = session.id;
    } else if (session.state == kSessionDisconnected) {
      if (session.hasShutdownPrivilege) disconnectedWithPrivilege = session.id;
      lastDisconnected = session.id;
    }
  }
  if (disconnectedWithPrivilege != -1) {
    return {disconnectedWithPrivilege, SessionChoiceReason::kDisconnectedWithPrivilege};
  }
  if (lastActive != -1) return {lastActive, SessionChoiceReason::kLastActive};
  // Session 0 holds the services since Vista: nobody sits there.
  if (lastDisconnected != -1 && lastDisconnected != 0) {
    return {lastDisconnected, SessionChoiceReason::kLastDisconnected};
  }
  return {};
}

int CheckForShutdownPrivilege(int session) {
  UniqueHandleNull token;
  if (GetProcessToken("explorer.exe", session, token.put()) != 0) {
    LogError("Unable to get the explorer.exe process token\n");
    return 0;
  }
  LUID shutdown;
  ZeroMemory(&shutdown, sizeof(shutdown));
  LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &shutdown);
  LogInfo("CheckForShutdownPrivilege : SE_SHUTDOWN_NAME : LUID lower part : %d , LUID upper part : %d\n",
          static_cast<int>(shutdown.LowPart), static_cast<int>(shutdown.HighPart));

  DWORD size = 0;
  GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), size, &size)) {
    DWORD error = GetLastError();
    LogError("CheckForShutdownPrivilege : GetTokenInformation failed. So returning false1\n");
    if (error) LogError("CheckForShutdownPrivilege : returned with error code : %d \n", static_cast<int>(error));
    return 0;
  }
  const TOKEN_PRIVILEGES* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  const LUID_AND_ATTRIBUTES* entries = privileges->Privileges;
  LogInfo("CheckForShutdownPrivilege : Privilege count : %d \n", static_cast<int>(privileges->PrivilegeCount));
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    LUID luid = entries[i].Luid;
    wchar_t name[kPrivilegeNameChars + 1] = L"";
    DWORD nameChars = kPrivilegeNameChars;
    if (!LookupPrivilegeNameW(nullptr, &luid, name, &nameChars)) {
      DWORD error = GetLastError();
      if (error) {
        LogError("CheckForShutdownPrivilege : returned with error code : %d \n", static_cast<int>(error));
        return 0;
      }
      name[0] = L'\0';
    }
    LogDebug("CheckForShutdownPrivilege : LUID lower part : %d , LUID upper part : %d\n",
             static_cast<int>(luid.LowPart), static_cast<int>(luid.HighPart));
    const std::string text = ChangeWideToUtf8Str(name);
    // Well-known privileges differ in their low part alone.
    if (luid.LowPart == shutdown.LowPart) {
      LogInfo("CheckForShutdownPrivilege : Shutdown Privilege No : %d found is : %s\n", static_cast<int>(i),
              text.c_str());
      return 1;
    }
    LogInfo("CheckForShutdownPrivilege : Privilege No : %d found is : %s\n", static_cast<int>(i), text.c_str());
  }
  LogInfo("CheckForShutdownPrivilege : Shutdown privilege is not available for the session Id : %d\n", session);
  return 0;
}

namespace {

// What the choice needs of one session, with its log lines. The privilege
// test (a process snapshot and a token read) is made only where it can
// matter: for a named user of an active or connected session, and for a
// disconnected session.
SessionFacts GatherSessionFacts(const TerminalSession& session) {
  LogInfo("GetShutDownPrivilegedSessionId : The State of the Session : %d is given by %d \n", session.id,
          session.state);
  SessionFacts fact;
  fact.id = session.id;
  fact.state = session.state;
  if (IsActiveOrConnected(session.state)) {
    DWORD nameError = QuerySessionUserName(session.id, &fact.userName);
    if (nameError != 0) {
      LogError("GetShutDownPrivilegedSessionId : WTSQuerySessionInformation Failed with errorcode %d \n",
               static_cast<int>(nameError));
    }
    if (HasNamedUser(fact.userName)) {
      LogInfo("Active logged on userName : %s\n", fact.userName.c_str());
      fact.hasShutdownPrivilege = CheckForShutdownPrivilege(session.id) == 1;
    }
  } else if (session.state == kSessionDisconnected) {
    fact.hasShutdownPrivilege = CheckForShutdownPrivilege(session.id) == 1;
    if (fact.hasShutdownPrivilege) {
      LogInfo("Disconnected Session has shutdown privilege : session id : %d\n", session.id);
    }
  } else {
    LogInfo(
        "GetShutDownPrivilegedSessionId : The detected session is dummy Session & its value is %d with state %d .\n",
        session.id, session.state);
  }
  return fact;
}

}  // namespace

int GetShutDownPrivilegedSessionId() {
  std::vector<TerminalSession> sessions;
  DWORD error = EnumerateTerminalSessions(&sessions);
  if (error != 0) {
    LogError(
        "GetShutDownPrivilegedSessionId : Unable to find the sessions present in the machine, with error code %d \n",
        static_cast<int>(error));
    return GetOsFamily() == 0 ? 0 : -1;
  }
  // The facts are gathered in the system's order.
  std::vector<SessionFacts> facts;
  for (const TerminalSession& session : sessions) {
    const SessionFacts fact = GatherSessionFacts(session);
    facts.push_back(fact);
    // Nothing later can win over a named active session with the privilege.
    if (IsActiveOrConnected(fact.state) && fact.hasShutdownPrivilege) break;
  }
  SessionChoice choice = ChooseShutdownPrivilegedSession(facts);
  switch (choice.reason) {
    case SessionChoiceReason::kActiveWithPrivilege:
      LogInfo("Session has shutdown privilege : session id : %d\n", choice.session);
      break;
    case SessionChoiceReason::kLastActive:
      LogInfo("GetShutDownPrivilegedSessionId : No shutdown previleged user , return last active user: %d \n",
              choice.session);
      break;
    case SessionChoiceReason::kLastDisconnected:
      LogInfo(
          "GetShutDownPrivilegedSessionId : No shutdown previleged user & no active users , return last "
          "disconnected user : %d \n",
          choice.session);
      break;
    default:
      break;
  }
  return choice.session;
}
