#include "support/scripted_sessions.h"

#include <windows.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "exec/terminal_sessions.h"
#include "util/text.h"

namespace {

std::wstring& ScriptPath() {
  static std::wstring path;
  return path;
}

std::wstring DefaultScriptPath() {
  wchar_t module[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring path(module, length);
  return path.substr(0, path.find_last_of(L'\\') + 1) + L"sessions.txt";
}

struct Script {
  DWORD listingError = 0;
  int tokenSession = -1;  // -1: the system's answer
  std::vector<TerminalSession> sessions;
  std::vector<std::string> userNames;
};

Script ReadScript() {
  Script script;
  if (ScriptPath().empty()) ScriptPath() = DefaultScriptPath();
  std::ifstream in(ScriptPath().c_str());
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string first;
    if (!(fields >> first)) continue;
    if (first == "fail") {
      fields >> script.listingError;
      continue;
    }
    if (first == "token") {
      fields >> script.tokenSession;
      continue;
    }
    TerminalSession session;
    session.id = AtoiLike(first.c_str());
    std::string user;
    fields >> session.state >> user;
    script.sessions.push_back(session);
    script.userNames.push_back(user);
  }
  return script;
}

}  // namespace

void SetScriptedSessionsFile(const std::string& path) { ScriptPath() = ChangeUtf8ToWideStr(path.c_str()); }

DWORD EnumerateTerminalSessions(std::vector<TerminalSession>* sessions) {
  Script script = ReadScript();
  if (script.listingError != 0) return script.listingError;
  *sessions = script.sessions;
  return 0;
}

DWORD QuerySessionUserName(int session, std::string* userName) {
  Script script = ReadScript();
  for (size_t i = 0; i < script.sessions.size(); ++i) {
    if (script.sessions[i].id != session) continue;
    *userName = script.userNames[i];
    return 0;
  }
  return ERROR_FILE_NOT_FOUND;
}

DWORD QueryTokenSession(HANDLE token, DWORD* session) {
  const Script script = ReadScript();
  if (script.tokenSession >= 0) {
    *session = static_cast<DWORD>(script.tokenSession);
    return 0;
  }
  DWORD id = 0;
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenSessionId, &id, sizeof(id), &size)) return GetLastError();
  *session = id;
  return 0;
}
