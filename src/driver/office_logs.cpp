#include "driver/office_logs.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <vector>

#include "agent/agent_parameters.h"
#include "driver/results.h"
#include "log/agent_log.h"
#include "options/run_options.h"
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

// Office's setup logs can reach gigabytes, and the product is a 32-bit
// process: a whole log in memory exhausts its address space. A log is
// therefore read through one fixed block and handed out line by line, and a
// line is kept only up to a fixed length; the rest of an overlong line is
// skipped up to its line feed. Error entries are short lines.
const DWORD kBlockBytes = 64 * 1024;
const size_t kMaxLineUnits = 64 * 1024;

// After this many error entries of one file the rest are only counted: a
// setup that retried over and over must not flood the agent log.
const unsigned long kMaxEntriesPerFile = 1000;

// The UTF-16LE lines of an open file. A line ends at a line feed, which is
// not part of it; a carriage return stays. The byte-order mark stays as the
// first character of the first line. A dangling odd byte at the end of the
// file is not a whole character and is dropped.
class Utf16LeLines {
 public:
  explicit Utf16LeLines(HANDLE file) : file_(file), bytes_(kBlockBytes + 1), units_(kBlockBytes / 2 + 1) {}

  // The next line, cut at kMaxLineUnits. False at the end of the file or
  // after a failed read (readError() then says why).
  bool Next(std::wstring* line) {
    line->clear();
    bool any = false;
    for (;;) {
      if (next_ == count_ && !Fill()) return any;
      any = true;
      const wchar_t* begin = units_.data() + next_;
      const wchar_t* end = units_.data() + count_;
      const wchar_t* feed = std::find(begin, end, L'\n');
      size_t take = std::min(static_cast<size_t>(feed - begin), kMaxLineUnits - line->size());
      line->append(begin, take);
      if (feed != end) {
        next_ = static_cast<size_t>(feed - units_.data()) + 1;
        return true;
      }
      next_ = count_;
    }
  }

  DWORD readError() const { return readError_; }

 private:
  // Reads the next block and decodes its whole characters; an odd byte at
  // the end of a block waits for the next one.
  bool Fill() {
    next_ = count_ = 0;
    while (!done_ && count_ == 0) {
      size_t have = 0;
      if (carried_) bytes_[have++] = carry_;
      DWORD read = 0;
      if (!ReadFile(file_, bytes_.data() + have, kBlockBytes, &read, nullptr)) {
        DWORD error = GetLastError();
        readError_ = error ? error : ERROR_READ_FAULT;
        done_ = true;
        break;
      }
      if (read == 0) {
        done_ = true;
        break;
      }
      size_t total = have + read;
      count_ = total / 2;
      for (size_t i = 0; i < count_; ++i) {
        units_[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes_[2 * i]) |
                                         (static_cast<unsigned char>(bytes_[2 * i + 1]) << 8));
      }
      carried_ = (total % 2) != 0;
      if (carried_) carry_ = bytes_[total - 1];
    }
    return count_ > 0;
  }

  HANDLE file_;
  std::vector<char> bytes_;
  std::vector<wchar_t> units_;
  size_t next_ = 0;
  size_t count_ = 0;
  bool carried_ = false;
  char carry_ = 0;
  bool done_ = false;
  DWORD readError_ = 0;
};

// What the exception being handled says about itself; call only inside a
// catch block (the text lives as long as the exception). Allocates nothing,
// since the exception may well be a failed allocation.
const char* CurrentExceptionText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
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

void ParseOfficeLog(const std::string& copyPath) {
  LogInfo("************** Parsing started for file %s ************** \n", copyPath.c_str());
  std::wstring widePath = ChangeUtf8ToWideStr(copyPath.c_str());
  UniqueFile file(CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) {
    LogInfo("Cant able to open error code: %d\n", static_cast<int>(GetLastError()));
  } else {
    Utf16LeLines lines(file.get());
    std::wstring line;
    unsigned long logged = 0;
    unsigned long leftOut = 0;
    while (lines.Next(&line)) {
      // Most lines are not attempts; they are not worth a conversion.
      if (line.find(L"Attempt") == std::wstring::npos) continue;
      std::string message = OfficeLogLineMessage(Utf16LineToUtf8(line, nullptr));
      if (message.empty()) continue;
      if (logged < kMaxEntriesPerFile) {
        LogInfo("%s \n", message.c_str());
        ++logged;
      } else {
        ++leftOut;
      }
    }
    if (lines.readError() != 0) {
      LogError("ParseOfficeLog : Reading %s stopped with error code : %d\n", copyPath.c_str(),
               static_cast<int>(lines.readError()));
    }
    if (leftOut > 0) {
      LogInfo("ParseOfficeLog : %lu more error entries of %s were left out of this log.\n", leftOut,
              copyPath.c_str());
    }
  }
  LogInfo("************** Parsing ended for log file %s **************\n", copyPath.c_str());
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
      // One log that cannot be read through does not keep the others out.
      try {
        ParseOfficeLog(copyPath);
      } catch (...) {
        LogError("ParseOfficeLog : Parsing %s stopped : %s\n", copyPath.c_str(), CurrentExceptionText());
      }
    } else {
      LogInfo("Copying %s failed with ErrorCode: %d", name.c_str(), static_cast<int>(GetLastError()));
    }
  } while (FindNextFileW(search.get(), &found));
}

void CollectOfficeLogs() {
  // The logs are diagnostics only: whatever goes wrong here, the deployment
  // still goes on to its next source and to finishing.
  try {
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
  } catch (...) {
    // Even the log line may fail when memory is short; that must not escape.
    try {
      LogError("CollectOfficeLogs : Collecting the Office logs stopped : %s\n", CurrentExceptionText());
    } catch (...) {
    }
  }
}
