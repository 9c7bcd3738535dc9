#include "driver/office_logs.h"

#include <windows.h>

#include <cstdio>

#include "agent/agent_parameters.h"
#include "driver/results.h"
#include "options/run_options.h"
#include "log/agent_log.h"
#include "util/handles.h"
#include "util/text.h"

namespace {

const char kOfficeLogSourceFolder[] = "C:\\Windows\\Temp";

// The part of the line from `start` with length end - start. A negative
// length, or a start outside the line, gives an empty value; a length that
// runs past the end is cut there.
std::string TakeValue(const std::string& line, long long start, long long end) {
  long long length = end - start;
  if (length < 0 || start < 0 || start >= static_cast<long long>(line.size())) return std::string();
  return line.substr(static_cast<size_t>(start), static_cast<size_t>(length));
}

long long Find(const std::string& line, const char* what, long long from = 0) {
  size_t pos = line.find(what, static_cast<size_t>(from));
  return pos == std::string::npos ? -1 : static_cast<long long>(pos);
}

// Value of a field whose marker ("Name": ) precedes it. The offset is the
// marker's length and is added to the marker's position even when the marker
// is missing (-1), as these lines have always been read; Office writes the
// marker, so only an odd line is read from that fixed place.
std::string FieldValue(const std::string& line, const char* marker, long long offset, const char* endText) {
  long long start = Find(line, marker) + offset;
  long long end = -1;
  if (start >= 0 && start < static_cast<long long>(line.size())) end = Find(line, endText, start);
  return TakeValue(line, start, end);
}

std::string FoldBackslashPairs(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') ++i;
  }
  return out;
}

// Office writes its logs as UTF-16LE. The byte-order mark stays in the text
// as the first character of the first line.
std::wstring ReadUtf16File(HANDLE file, bool* ok) {
  std::wstring text;
  std::string bytes;
  char buffer[65536];
  DWORD read = 0;
  *ok = true;
  for (;;) {
    if (!ReadFile(file, buffer, sizeof(buffer), &read, nullptr)) {
      *ok = false;
      break;
    }
    if (read == 0) break;
    bytes.append(buffer, read);
  }
  // A dangling odd byte is not a whole character and is dropped.
  text.resize(bytes.size() / 2);
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return text;
}

void ParseOfficeLog(const std::string& copyPath) {
  LogInfo("************** Parsing started for file %s ************** \n", copyPath.c_str());
  std::wstring widePath = ChangeUtf8ToWideStr(copyPath.c_str());
  UniqueFile file(CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    LogInfo("Cant able to open error code: %d\n", static_cast<int>(GetLastError()));
  } else {
    bool readOk = true;
    std::wstring text = ReadUtf16File(file.get(), &readOk);
    size_t lineStart = 0;
    while (lineStart < text.size()) {
      size_t lineEnd = text.find(L'\n', lineStart);
      if (lineEnd == std::wstring::npos) lineEnd = text.size();
      std::string line = Utf16LineToUtf8(text.substr(lineStart, lineEnd - lineStart), nullptr);
      std::string message = OfficeLogLineMessage(line);
      if (!message.empty()) LogInfo("%s \n", message.c_str());
      lineStart = lineEnd + 1;
    }
  }
  LogInfo("************** Parsing ended for log file %s **************\n", copyPath.c_str());
}

ULONGLONG ToUlonglong(const FILETIME& time) {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

std::string OfficeLogPattern(const std::string& sourceFolder, const std::string& computerName,
                             const std::string& startDate) {
  return sourceFolder + "\\" + computerName + "-" + startDate + "-*.log";
}

std::string Utf16LineToUtf8(const std::wstring& line, bool* hadInvalid) {
  // An unpaired surrogate has no UTF-8 form. Such a unit becomes U+FFFD and
  // the rest of the line is kept, so an error entry in a damaged line still
  // reaches the agent log and the collection goes on.
  std::wstring clean = line;
  bool invalid = false;
  for (size_t i = 0; i < clean.size(); ++i) {
    wchar_t c = clean[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 < clean.size() && clean[i + 1] >= 0xDC00 && clean[i + 1] <= 0xDFFF) {
        ++i;
        continue;
      }
      clean[i] = 0xFFFD;
      invalid = true;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      clean[i] = 0xFFFD;
      invalid = true;
    }
  }
  if (hadInvalid) *hadInvalid = invalid;
  return ChangeWideToUtf8Str(clean);
}

std::string OfficeLogLineMessage(const std::string& line) {
  if (line.find("Attempt") == std::string::npos) return std::string();
  std::string message;
  if (line.find("ErrorCode") != std::string::npos) {
    message += "Error Code: " + FieldValue(line, "ErrorCode\": ", 12, ", ") + ",";
  }
  if (line.find("ErrorType") != std::string::npos) {
    message += " Error Type: " + FieldValue(line, "ErrorType\": ", 12, ", ") + ",";
  }
  if (line.find("ErrorMessage") != std::string::npos) {
    message += " Error Message: " + FieldValue(line, "ErrorMessage\": ", 15, ", ") + ",";
  }
  if (line.find("SourcePath") != std::string::npos) {
    // From the value's opening quote up to the next comma.
    message += " SourcePath: " + FoldBackslashPairs(FieldValue(line, "SourcePath", 13, ","));
  }
  return message;
}

void CollectOfficeLogsWith(const OfficeLogCollection& collection) {
  LogInfo("Processing the Office Logs \n");
  std::string pattern = OfficeLogPattern(collection.sourceFolder, collection.computerName, collection.startDate);
  std::wstring widePattern = ChangeUtf8ToWideStr(pattern.c_str());
  WIN32_FIND_DATAW found;
  UniqueFind search(FindFirstFileW(widePattern.c_str(), &found));
  if (!search) {
    LogError("Error finding files in directory and exited with error: %d \n", static_cast<int>(GetLastError()));
    return;
  }
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    // Strictly later: a log last written at the very start belongs to an
    // earlier attempt.
    if (ToUlonglong(found.ftLastWriteTime) <= collection.startFileTime) continue;
    std::string name = ChangeWideToUtf8Str(found.cFileName);
    // One level; when it cannot be made, the copy fails and says so.
    CreateDirectoryW(ChangeUtf8ToWideStr(collection.destinationFolder.c_str()).c_str(), nullptr);
    std::string copyPath = collection.destinationFolder + "\\office_log_" + name;
    LogInfo("CopyPath: %s\n", copyPath.c_str());
    std::string sourcePath = collection.sourceFolder + "\\" + name;
    if (CopyFileW(ChangeUtf8ToWideStr(sourcePath.c_str()).c_str(), ChangeUtf8ToWideStr(copyPath.c_str()).c_str(),
                  FALSE)) {
      LogInfo("%s log file copied successfully\n", sourcePath.c_str());
      ParseOfficeLog(copyPath);
    } else {
      LogInfo("Copying %s failed with ErrorCode: %d", name.c_str(), static_cast<int>(GetLastError()));
    }
  } while (FindNextFileW(search.get(), &found));
}

void CollectOfficeLogs() {
  const AgentParameters& params = AgentParams();
  const InstallationStart& start = GetInstallationStart();
  OfficeLogCollection collection;
  collection.sourceFolder = kOfficeLogSourceFolder;
  collection.computerName = params.gv_localComputerName;
  collection.startDate = start.date;
  collection.startFileTime = start.fileTime;
  char folder[MAX_PATH * 2];
  snprintf(folder, sizeof(folder), "%s\\logs\\%d", params.RZAgentInstallDir.c_str(), FileNameNumber());
  collection.destinationFolder = folder;
  CollectOfficeLogsWith(collection);
}
