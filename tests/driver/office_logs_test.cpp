#include "driver/office_logs.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <string>
#include <vector>

#include "agent/agent_parameters.h"
#include "driver/results.h"
#include "log/agent_log.h"
#include "options/run_options.h"
#include "support/test_support.h"
#include "util/handles.h"
#include "util/text.h"

using namespace testing_support;

namespace {

const char kHead[] = "05/10/2024 10:15:02.118\tSETUP (0x1a2c)\t0x1b3c\tClick-To-Run\taoh72\tMedium\t";

// Office writes its logs as UTF-16LE with a byte-order mark.
std::string Utf16LeFile(const std::wstring& text) {
  std::string bytes = "\xFF\xFE";
  for (wchar_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>((c >> 8) & 0xFF);
  }
  return bytes;
}

void SetLastWriteTime(const std::string& path, ULONGLONG time) {
  HANDLE file = CreateFileW(ChangeUtf8ToWideStr(path.c_str()).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(time);
  ft.dwHighDateTime = static_cast<DWORD>(time >> 32);
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &ft));
  CloseHandle(file);
}

void WriteLog(const std::string& path, const std::wstring& text, ULONGLONG lastWrite) {
  ASSERT_TRUE(WriteFileBytes(path, Utf16LeFile(text)));
  SetLastWriteTime(path, lastWrite);
}

ULONGLONG Now() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

const ULONGLONG kSecond = 10000000ULL;

// Captures what the collection writes into the agent log.
class AgentLogCapture {
 public:
  explicit AgentLogCapture(const std::string& folder) : folder_(folder) { OpenAgentLog("capture.log", folder.c_str(), 2); }
  ~AgentLogCapture() { CloseAgentLog(); }
  std::string Text() {
    CloseAgentLog();
    return ReadTextFile(folder_ + "\\capture.log");
  }

 private:
  std::string folder_;
};

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Positions of the needles in order; fails when one is missing or out of order.
void ExpectInOrder(const std::string& text, const std::vector<std::string>& needles) {
  size_t at = 0;
  for (const std::string& needle : needles) {
    size_t found = text.find(needle, at);
    ASSERT_NE(found, std::string::npos) << "missing after offset " << at << ": " << needle << "\n" << text;
    at = found + needle.size();
  }
}

}  // namespace

TEST(OfficeLogLine, MessagesFollowTheFieldRules) {
  struct Case {
    const char* what;
    std::string line;
    std::string message;
  };
  const std::string full = std::string(kHead) +
                           "Error::Attempt {\"ErrorCode\": 17002, \"ErrorType\": \"Failure\", \"ErrorMessage\": "
                           "\"Setup failed\", \"SourcePath\": \"\\\\\\\\srv\\\\office\\\\731\", \"Retry\": 0}\r";
  const Case cases[] = {
      {"all four fields; source path backslash pairs folded, quotes kept", full,
       "Error Code: 17002, Error Type: \"Failure\", Error Message: \"Setup failed\", SourcePath: "
       "\"\\\\srv\\office\\731\""},
      {"no Attempt: not examined", std::string(kHead) + "Error {\"ErrorCode\": 17002, \"ErrorType\": \"Failure\", x", ""},
      {"lower-case attempt is not Attempt", "attempt {\"ErrorCode\": 17002, x", ""},
      {"Attempt without any field", std::string(kHead) + "TryInstall::Attempt started, count 1\r", ""},
      {"code marker without a following comma-blank: empty value",
       "Attempt {\"ErrorCode\": 17002}", "Error Code: ,"},
      {"code marker at the very end: start past the line",
       "Attempt \"ErrorCode\": ", "Error Code: ,"},
      {"name without the marker reads from the fixed offset 11",
       "Attempt ErrorCode=17002, more", "Error Code: orCode=17002,"},
      {"message cut at its first comma-blank",
       "Attempt \"ErrorMessage\": \"Files, missing\", \"ErrorType\": \"Failure\", ",
       " Error Type: \"Failure\", Error Message: \"Files,"},
      {"source path as last field without a comma: empty",
       "Attempt {\"SourcePath\": \"C:\\\\x\"}", " SourcePath: "},
      {"backslash pairs fold, an odd one stays",
       "Attempt \"SourcePath\": \"\\\\\\\\\\\\\\\\a\\\\\\b\",", " SourcePath: \"\\\\\\\\a\\\\b\""},
      {"byte-order mark at the line start changes nothing",
       "\xEF\xBB\xBF" "Attempt {\"ErrorType\": \"Failure\", ", " Error Type: \"Failure\","},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(OfficeLogLineMessage(c.line), c.message);
  }
}

TEST(OfficeLogLine, Utf16LinesBecomeUtf8WithReplacementForBrokenUnits) {
  struct Case {
    const char* what;
    std::wstring line;
    std::string utf8;
    bool invalid;
  };
  const Case cases[] = {
      {"ascii with carriage return", L"Attempt\r", "Attempt\r", false},
      {"byte-order mark stays", L"\xFEFF" L"Attempt", "\xEF\xBB\xBF" "Attempt", false},
      {"valid pair", L"a\xD83D\xDE00z", "a\xF0\x9F\x98\x80z", false},
      {"unpaired high unit", L"a\xD83Dz", "a\xEF\xBF\xBDz", true},
      {"lone low unit", L"\xDE00z", "\xEF\xBF\xBDz", true},
      {"high unit at the end", L"Attempt\xD83D", "Attempt\xEF\xBF\xBD", true},
      {"empty", L"", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bool invalid = !c.invalid;
    EXPECT_EQ(Utf16LineToUtf8(c.line, &invalid), c.utf8);
    EXPECT_EQ(invalid, c.invalid);
  }
  EXPECT_EQ(OfficeLogPattern("C:\\Windows\\Temp", "PC7", "20240510"), "C:\\Windows\\Temp\\PC7-20240510-*.log");
}

class OfficeLogCollectionTest : public ::testing::Test {
 protected:
  OfficeLogCollectionTest() : dir_("office_logs") {
    MakeDirs(source());
    // The agent's logs folder always exists (the agent log lives there);
    // the collection creates only the numbered folder inside it.
    MakeDirs(dir_ / "agent\\logs");
    collection_.sourceFolder = source();
    collection_.computerName = "PC7";
    collection_.startDate = "20240510";
    collection_.startFileTime = Now() - 3600 * kSecond;
    collection_.destinationFolder = dir_ / "agent\\\\logs\\731";
  }
  std::string source() const { return dir_ / "temp"; }
  std::string copy(const std::string& name) const { return collection_.destinationFolder + "\\office_log_" + name; }

  TempDir dir_;
  OfficeLogCollection collection_;
};

TEST_F(OfficeLogCollectionTest, CopiesOnlyThisAttemptsLogsAndLogsTheirErrors) {
  const ULONGLONG start = collection_.startFileTime;
  std::wstring text = std::wstring(L"05/10/2024 10:15:01.000\tSETUP\tClick-To-Run\tAttempt {\"ErrorCode\": 17002, "
                                   L"\"ErrorType\": \"Failure\", \"SourcePath\": \"\\\\\\\\srv\\\\office\", x}\r\n") +
                       L"plain line without the word\r\n" +
                       L"Attempt broken \xD800 {\"ErrorCode\": 17004, \"ErrorMessage\": \"Bad \xDC00\", x}\r\n" +
                       L"Attempt {\"ErrorCode\": 30088, \"ErrorType\": \"Last\", ";  // no final line break
  WriteLog(source() + "\\PC7-20240510-1015.log", text, start + 5 * kSecond);
  WriteLog(source() + "\\PC7-20240510-0900.log", L"Attempt {\"ErrorCode\": 1, x", start);
  WriteLog(source() + "\\PC7-20240510-0800.log", L"Attempt {\"ErrorCode\": 2, x", start - kSecond);
  WriteLog(source() + "\\PC8-20240510-1100.log", L"Attempt {\"ErrorCode\": 3, x", start + 5 * kSecond);
  WriteLog(source() + "\\PC7-20240511-1100.log", L"Attempt {\"ErrorCode\": 4, x", start + 5 * kSecond);
  MakeDirs(source() + "\\PC7-20240510-folder.log");
  SetLastWriteTime(source() + "\\PC7-20240510-folder.log", start + 5 * kSecond);

  AgentLogCapture log(dir_ / "log");
  CollectOfficeLogsWith(collection_);
  std::string agentLog = log.Text();

  EXPECT_EQ(ReadFileBytes(copy("PC7-20240510-1015.log")), ReadFileBytes(source() + "\\PC7-20240510-1015.log"));
  for (const char* untouched : {"PC7-20240510-0900.log", "PC7-20240510-0800.log", "PC8-20240510-1100.log",
                                "PC7-20240511-1100.log", "PC7-20240510-folder.log"}) {
    EXPECT_FALSE(FileExists(copy(untouched))) << untouched;
  }
  ExpectInOrder(agentLog, {
                              "Processing the Office Logs \n",
                              "CopyPath: " + copy("PC7-20240510-1015.log") + "\n",
                              source() + "\\PC7-20240510-1015.log log file copied successfully\n",
                              "************** Parsing started for file " + copy("PC7-20240510-1015.log") +
                                  " ************** \n",
                              "Error Code: 17002, Error Type: \"Failure\", SourcePath: \"\\\\srv\\office\" \n",
                              // The broken line is kept, its bad units replaced.
                              "Error Code: 17004, Error Message: \"Bad \xEF\xBF\xBD\", \n",
                              "Error Code: 30088, Error Type: \"Last\", \n",
                              "************** Parsing ended for log file " + copy("PC7-20240510-1015.log") +
                                  " **************\n",
                          });
  EXPECT_EQ(agentLog.find("Error Code: 1,"), std::string::npos);
  EXPECT_EQ(agentLog.find("Error Code: 3,"), std::string::npos);
}

TEST_F(OfficeLogCollectionTest, AtMostAThousandEntriesPerFileThenTheNumberLeftOut) {
  // One file just over the cap, one exactly at it: the count starts afresh
  // for every file.
  std::wstring over;
  std::wstring at;
  for (int i = 1; i <= 1001; ++i) {
    over += L"Attempt {\"ErrorCode\": A" + std::to_wstring(i) + L", x}\r\nno entry here\r\n";
    if (i <= 1000) at += L"Attempt {\"ErrorCode\": B" + std::to_wstring(i) + L", x}\r\n";
  }
  WriteLog(source() + "\\PC7-20240510-1015.log", over, collection_.startFileTime + kSecond);
  WriteLog(source() + "\\PC7-20240510-1016.log", at, collection_.startFileTime + kSecond);

  AgentLogCapture log(dir_ / "log");
  CollectOfficeLogsWith(collection_);
  std::string agentLog = log.Text();

  EXPECT_EQ(Count(agentLog, "Error Code: A"), 1000u);
  EXPECT_EQ(Count(agentLog, "Error Code: B"), 1000u);
  ExpectInOrder(agentLog, {"Error Code: A1000, \n",
                           "ParseOfficeLog : 1 more error entries of " + copy("PC7-20240510-1015.log") +
                               " were left out of this log.\n",
                           "************** Parsing ended for log file " + copy("PC7-20240510-1015.log")});
  EXPECT_EQ(Count(agentLog, "were left out"), 1u) << "a file at the cap leaves nothing out";
}

TEST_F(OfficeLogCollectionTest, ASecondCollectionOverwritesTheEarlierCopies) {
  const std::string name = "PC7-20240510-1015.log";
  WriteLog(source() + "\\" + name, L"Attempt {\"ErrorCode\": 17002, x\r\n", collection_.startFileTime + kSecond);
  CollectOfficeLogsWith(collection_);
  ASSERT_EQ(ReadFileBytes(copy(name)), Utf16LeFile(L"Attempt {\"ErrorCode\": 17002, x\r\n"));

  WriteLog(source() + "\\" + name, L"Attempt {\"ErrorCode\": 17006, x\r\nsecond attempt\r\n",
           collection_.startFileTime + 2 * kSecond);
  CollectOfficeLogsWith(collection_);
  EXPECT_EQ(ReadFileBytes(copy(name)), Utf16LeFile(L"Attempt {\"ErrorCode\": 17006, x\r\nsecond attempt\r\n"));
}

TEST_F(OfficeLogCollectionTest, NoMatchLogsOneErrorAndCreatesNothing) {
  WriteLog(source() + "\\PC7-20240509-1015.log", L"Attempt {\"ErrorCode\": 1, x", collection_.startFileTime + kSecond);
  AgentLogCapture log(dir_ / "log");
  CollectOfficeLogsWith(collection_);
  std::string agentLog = log.Text();
  EXPECT_NE(agentLog.find("Error finding files in directory and exited with error: 2 \n"), std::string::npos)
      << agentLog;
  EXPECT_FALSE(FileExists(collection_.destinationFolder));
}

SIZE_T PeakWorkingSet() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  EXPECT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters)));
  return counters.PeakWorkingSetSize;
}

// A 384 MiB log, mostly a hole of zero bytes, which is one enormous line:
// the 32-bit product has no room for such a file, or such a line, in memory.
TEST(OfficeLogParse, AHugeLogWithAHugeLineIsReadInBoundedMemory) {
  TempDir dir("office_logs_huge");
  const std::string path = dir / "office_log_huge.log";
  const LONGLONG kSize = 384LL * 1024 * 1024;
  const std::string head = Utf16LeFile(L"Attempt {\"ErrorCode\": 17001, x}\r\n");
  // Without the byte-order mark: this text continues the file.
  const std::string tail = Utf16LeFile(L"\nAttempt {\"ErrorCode\": 17002, x}\r\n").substr(2);
  {
    UniqueFile file(CreateFileW(ChangeUtf8ToWideStr(path.c_str()).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), head.data(), static_cast<DWORD>(head.size()), &written, nullptr));
    LARGE_INTEGER at;
    at.QuadPart = kSize - static_cast<LONGLONG>(tail.size());
    ASSERT_TRUE(SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN));
    ASSERT_TRUE(WriteFile(file.get(), tail.data(), static_cast<DWORD>(tail.size()), &written, nullptr));
  }

  const SIZE_T peakBefore = PeakWorkingSet();
  AgentLogCapture log(dir / "log");
  ParseOfficeLog(path);
  std::string agentLog = log.Text();
  const SIZE_T peakAfter = PeakWorkingSet();

  // The entry behind the enormous line is still found.
  ExpectInOrder(agentLog, {"Error Code: 17001, \n", "Error Code: 17002, \n",
                           "************** Parsing ended for log file " + path});
  EXPECT_LT(peakAfter - peakBefore, static_cast<SIZE_T>(32 * 1024 * 1024));
}

// The product's own entry point against the prefix's real C:\Windows\Temp.
TEST(OfficeLogCollectionReal, CollectsFromTheWindowsTempFolder) {
  TempDir agent("office_logs_real");
  MakeDirs(agent / "logs");
  AgentParams().RZAgentInstallDir = agent.path() + "\\";
  AgentParams().gv_localComputerName = "OITEST" + std::to_string(GetCurrentProcessId());
  RecordInstallationStart();
  const InstallationStart& start = GetInstallationStart();
  const std::string name = AgentParams().gv_localComputerName + "-" + start.date + "-1015.log";
  const std::string sourcePath = "C:\\Windows\\Temp\\" + name;
  WriteLog(sourcePath, L"Attempt {\"ErrorCode\": 17002, x\r\n", start.fileTime + kSecond);

  CollectOfficeLogs();

  std::string copyPath = agent.path() + "\\\\logs\\" + std::to_string(FileNameNumber()) + "\\office_log_" + name;
  EXPECT_EQ(ReadFileBytes(copyPath), ReadFileBytes(sourcePath));
  DeleteFileW(ChangeUtf8ToWideStr(sourcePath.c_str()).c_str());
  AgentParams().RZAgentInstallDir.clear();
  AgentParams().gv_localComputerName.clear();
}
