// Which terminal session receives what we show the user: the session of the
// person at the machine, recognised by a shell (explorer.exe) that may shut
// the machine down. Session ids are terminal-session numbers; -1 is none.
#pragma once

#include <string>
#include <vector>

// What the choice knows of one session, in the system's order.
struct SessionFacts {
  int id = 0;
  int state = 0;
  // Asked only of active and connected sessions.
  std::string userName;
  // Whether the session's explorer.exe token holds the shutdown privilege.
  bool hasShutdownPrivilege = false;
};

enum class SessionChoiceReason {
  kNone,
  kActiveWithPrivilege,
  kDisconnectedWithPrivilege,
  kLastActive,
  kLastDisconnected,
};

struct SessionChoice {
  int session = -1;
  SessionChoiceReason reason = SessionChoiceReason::kNone;
};

// An active or connected session counts only with a user name of more than
// one character.
bool HasNamedUser(const std::string& userName);

// The order of preference (pure): the first active or connected session
// with a named user whose shell holds the shutdown privilege; else the last
// disconnected session whose shell holds it; else the last active or
// connected session with a named user; else the last disconnected session
// other than session 0; else none.
SessionChoice ChooseShutdownPrivilegedSession(const std::vector<SessionFacts>& sessions);

// 1 when the token of explorer.exe in the session holds the shutdown
// privilege (enabled or not), else 0.
int CheckForShutdownPrivilege(int session);

// The session for prompts, by the order above, over the machine's sessions;
// -1 when none qualifies or the sessions cannot be listed (0 on Windows
// 2000, whose console is always session 0).
int GetShutDownPrivilegedSessionId();
