// The agent log: one shared text file in the agent's logs folder, written by
// four printf-style operations whose level filter comes from the registry.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#if defined(__GNUC__)
#define AGENT_LOG_FORMAT(fmt, args) __attribute__((format(ms_printf, fmt, args)))
#else
#define AGENT_LOG_FORMAT(fmt, args)
#endif

// Reads RZAgentInstallDir (once), arms log rotation and opens the log in
// "<install dir>logs". Returns 0, or the registry error when the folder is
// unknown (the log then stays closed). Only text values name the folder;
// an empty one, or one of another type, counts as missing (2).
int InitializeAgentLog(const char* fileName);
// The same with the folder and the level read under `agentKey`, the root of
// the agent's keys (a test's own key).
int InitializeAgentLog(const char* fileName, const std::string& agentKey);
// The installation folder InitializeAgentLog read, ending with a separator;
// empty when it could not be read.
const std::string& AgentLogInstallDir();
// 0 on success, 13 on any failure. Mode 2 truncates, anything else appends.
// A second call while open only traces "gv_logFilePtr already Set".
// The level is RZAgentLogLevel of the agent's key (2 when missing).
int OpenAgentLog(const char* fileName, const char* folder, int mode);
// The same with the level read under `agentKey` (a test's own key).
int OpenAgentLog(const char* fileName, const char* folder, int mode, const std::string& agentKey);
// Stops rotation, writes the close line and closes the file. Always 0; a
// second call finds the log closed and does nothing more.
int CloseAgentLog();

void LogInfo(const char* format, ...) AGENT_LOG_FORMAT(1, 2);
void LogError(const char* format, ...) AGENT_LOG_FORMAT(1, 2);
void LogDebug(const char* format, ...) AGENT_LOG_FORMAT(1, 2);
void LogTrace(const char* format, ...) AGENT_LOG_FORMAT(1, 2);

// Logs the message text of a Windows error code (error level), or of 0
// (info level), through GetErrorMessageText.
void LogErrorCode(long code);

// Appends a two-line entry (time stamp, then the text verbatim) to
// "<install dir>logs\rzerror.log". Nothing while the folder is unknown.
void WriteErrorLog(const char* text);

// Full path of the open log file; empty while closed.
std::string AgentLogPath();

// --- pure pieces, exposed for tests ---
// "[ 2026-12-08 06:47:18:042 ] [ 3312 ] [INFO] "
std::string FormatLogHead(const SYSTEMTIME& local, DWORD threadId, const char* tag);
// "Dec 08,2026 12:30PM": a true 12-hour dial.
std::string FormatErrorLogTime(const SYSTEMTIME& local);
// Whether a message of the given threshold (1 info .. 4 trace) passes the
// registry level; only its low 8 bits count.
bool LogLevelAdmits(DWORD registryLevel, int threshold);

// The lock table shared by every writer of a shared file: a list of locked
// addresses guarded by one process mutex, with a growing back-off.
void AcquireAddressLock(const void* address);
void ReleaseAddressLock(const void* address);

// Runs `action` while holding the log lock, so no line is written to the log
// file meanwhile (rotation copies and empties the live file this way). The
// action must not log and must not throw: the lock is not re-entrant. Without
// a lock object (the log was never opened) nobody can be writing, and the
// action runs unlocked.
void RunHoldingLogLock(const std::function<void()>& action);
