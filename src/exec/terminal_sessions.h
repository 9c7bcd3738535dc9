// The terminal sessions of the machine, their users and the session of a
// token: the one place where the program asks the system's session
// functions.
//
// Each program links exactly one implementation of these functions:
// the product links the one over the WTS functions (wts_sessions.cpp, the
// exec_wts_sessions target); test programs link a scripted one, since a
// machine without real sessions cannot show a session choice. Nothing at
// run time selects between them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Session states as the system reports them; other values are ignored.
const int kSessionActive = 0;
const int kSessionConnected = 1;
const int kSessionDisconnected = 4;

struct TerminalSession {
  int id = 0;
  int state = 0;
};

// 0 and the sessions in the system's order, or the system's error code;
// `sessions` is untouched on failure.
DWORD EnumerateTerminalSessions(std::vector<TerminalSession>* sessions);

// 0 and the account name of the session's user (UTF-8, empty when nobody is
// logged on), or the system's error code; `userName` is untouched on
// failure.
DWORD QuerySessionUserName(int session, std::string* userName);

// 0 and the terminal session whose processes the token's programs join, or
// the system's error code; `session` is untouched on failure.
DWORD QueryTokenSession(HANDLE token, DWORD* session);
