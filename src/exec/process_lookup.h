// Finding running processes by their executable name, and borrowing their
// access tokens. Names are UTF-8.
#pragma once

#include <windows.h>

// The name rule every lookup uses: a process's executable name (without
// folder, as the process snapshot reports it) matches a wanted name when
// both are equal ignoring letter case over at most their first 15
// characters. So "lynchtmlconv.exe" (16 characters) matches any name that
// begins with "lynchtmlconv.ex", while "WINWORD.exe2" is not "WINWORD.exe".
bool ProcessNameMatches(const wchar_t* processName, const wchar_t* wantedName);

// The first process of a fresh snapshot of the whole machine (every session
// and user) whose name matches and which is not this process; 0 when there
// is none or the snapshot cannot be taken. Logs nothing.
DWORD FindOtherProcessByName(const char* executableName);

// Session of the physical console (WTSGetActiveConsoleSessionId, looked up
// at run time); 0 when the system lacks the function.
int GetActiveSessionId();

// The first process whose name matches and whose session can be read: in
// any session for -1, else in the given one. 0 when there is none or the
// snapshot fails.
DWORD GetProcessID(const char* executableName, int session);

// Opens the token of the process GetProcessID finds, with all token rights.
// 0 and the token (owned by the caller), or the system's error: no process
// found makes the open fail. `token` is untouched on failure.
int GetProcessToken(const char* executableName, int session, HANDLE* token);
