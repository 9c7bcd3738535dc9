// The product's terminal sessions: the WTS functions of the local machine.
#include <windows.h>
#include <wtsapi32.h>

#include "exec/child_process.h"
#include "exec/terminal_sessions.h"
#include "util/handles.h"
#include "util/text.h"

using child_process::LastErrorOr;

DWORD EnumerateTerminalSessions(std::vector<TerminalSession>* sessions) {
  WtsBuffer buffer;
  DWORD count = 0;
  if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, buffer.PutAs<WTS_SESSION_INFOW>(), &count)) {
    return LastErrorOr(ERROR_GEN_FAILURE);
  }
  const WTS_SESSION_INFOW* info = buffer.As<WTS_SESSION_INFOW>();
  sessions->clear();
  for (DWORD i = 0; i < count; ++i) {
    TerminalSession session;
    session.id = static_cast<int>(info[i].SessionId);
    session.state = static_cast<int>(info[i].State);
    sessions->push_back(session);
  }
  return 0;
}

DWORD QueryTokenSession(HANDLE token, DWORD* session) {
  DWORD id = 0;
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenSessionId, &id, sizeof(id), &size)) return LastErrorOr(ERROR_GEN_FAILURE);
  *session = id;
  return 0;
}

DWORD QuerySessionUserName(int session, std::string* userName) {
  WtsBuffer buffer;
  DWORD bytes = 0;
  if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, static_cast<DWORD>(session), WTSUserName,
                                   buffer.PutAs<wchar_t>(), &bytes)) {
    return LastErrorOr(ERROR_GEN_FAILURE);
  }
  const wchar_t* name = buffer.As<wchar_t>();
  *userName = name ? ChangeWideToUtf8Str(name) : std::string();
  return 0;
}
