// Collection of Office's setup logs after a failed installation attempt.
#pragma once

// Copies this attempt's Office setup logs from C:\Windows\Temp into
// "<agent>\logs\<file-name number>" and logs their error entries. Never
// throws: what goes wrong is logged, and the deployment goes on.
void CollectOfficeLogs();

#include <windows.h>

#include <string>

// What one collection looks at; CollectOfficeLogs fills it from the agent
// parameters, the installation start and the fixed source folder.
struct OfficeLogCollection {
  std::string sourceFolder;       // "C:\Windows\Temp" in the product
  std::string computerName;
  std::string startDate;          // yyyymmdd
  ULONGLONG startFileTime = 0;    // UTC; only logs written later are taken
  std::string destinationFolder;  // "<agent>\logs\<file-name number>"
};
void CollectOfficeLogsWith(const OfficeLogCollection& collection);
// Logs the error entries of one copied Office log (UTF-16LE), at most 1,000,
// then one line with the number left out. Reads through a fixed block and
// keeps at most 64 Ki characters of a line, so memory stays bounded whatever
// the file's size.
void ParseOfficeLog(const std::string& copyPath);

// --- pure, exposed for tests ---
// "<folder>\<computer>-<yyyymmdd>-*.log"
std::string OfficeLogPattern(const std::string& sourceFolder, const std::string& computerName,
                             const std::string& startDate);
// The agent-log text for one line of an Office log (UTF-8), empty when the
// line is not an "Attempt" line or carries none of the error fields.
std::string OfficeLogLineMessage(const std::string& line);
// One line of UTF-16 text as UTF-8; an unpaired surrogate becomes U+FFFD
// (and sets *hadInvalid when given).
std::string Utf16LineToUtf8(const std::wstring& line, bool* hadInvalid);
