// Scripted terminal sessions for test programs: the implementation of
// exec/terminal_sessions.h they link instead of the system's, since Wine
// reports no sessions at all.
//
// The script is a text file read at every call, one session per line in the
// system's order: "<id> <state> [user name]" (states: 0 active, 1 connected,
// 4 disconnected, others ignored by the session choice). A line
// "fail <code>" makes the listing fail with that code. A line "token <id>"
// puts every token into that session; without it a token's session is the
// one the system reports, under Wine always our own. Without the file there
// are no sessions.
#pragma once

#include <string>

// Where the script is read: "sessions.txt" beside the program (so a test
// build of the program is scripted by a file placed beside its copy) unless
// a test names another file.
void SetScriptedSessionsFile(const std::string& path);
