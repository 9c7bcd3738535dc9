// Runs programs as hidden children with a time-out in minutes.
#pragma once

#include <string>

// Runs the command line (its first token names the program) in the working
// folder (null: the current one). Both are UTF-8. Time-out 0 does not wait. Returns the
// child's exit code, 258 when it was terminated at the time-out, or the
// system's error code; `remarks` receives GetErrorMessageText of the result.
int executeFileEx(const char* workingFolder, const char* commandLine, std::string* remarks, int timeoutMinutes,
                  int show);
// executeFileEx between entry and exit banners.
int executeFileName(const char* workingFolder, const char* commandLine, std::string* remarks, int timeoutMinutes,
                    int show);
// executeFileName with 0, 1508, 1641 and 3010 turned into 0.
int executeFileNormalized(const char* workingFolder, const char* commandLine, std::string* remarks,
                          int timeoutMinutes, int show);

// The result executeFileNormalized reports for a raw result: 0, 1508, 1641
// and 3010 become 0, everything else passes through (pure).
int NormalizeSetupResult(int result);

// executeFileEx with the time-out in milliseconds (0: do not wait), so a
// time-out can be exercised without waiting whole minutes.
int executeFileExWithTimeoutMs(const char* workingFolder, const char* commandLine, std::string* remarks,
                               unsigned long timeoutMs, int show);
