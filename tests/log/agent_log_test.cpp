#include "log/agent_log.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "agent/agent_parameters.h"
#include "agent/registry.h"
#include "support/test_support.h"
#include "util/registry_paths.h"

using testing_support::ReadTextFile;
using testing_support::TempDir;

namespace {


class AgentLogTest : public ::testing::Test {
 protected:
  void SetUp() override { keys_.Clear(); }
  void TearDown() override {
    CloseAgentLog();
    keys_.Clear();
  }
  // Opens the log for appending, its level read under this test's keys.
  int Open(const char* fileName, const std::string& folder) {
    return OpenAgentLog(fileName, folder.c_str(), 1, keys_.root());
  }
  void SetLevel(const char* level) {
    writeValue(HKEY_LOCAL_MACHINE, keys_.root().c_str(), "RZAgentLogLevel", level, REG_DWORD);
  }

  // The agent's keys of this test program alone.
  testing_support::ScopedTestKey key_{"agent_log"};
  testing_support::AgentKeysAt keys_{key_.path()};

  // Opens the log at the given registry level, writes one line per level,
  // closes it and returns the file.
  std::string WriteAllLevels(const TempDir& dir, const char* level) {
    if (level) SetLevel(level);
    EXPECT_EQ(Open("levels.log", dir.path()), 0);
    LogInfo("info line\n");
    LogError("error line\n");
    LogDebug("debug line\n");
    LogTrace("trace line\n");
    CloseAgentLog();
    return ReadTextFile(dir / "levels.log");
  }
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

}  // namespace

TEST_F(AgentLogTest, LevelFilterUsesTheLowEightBits) {
  struct Case {
    const char* level;
    bool info, error, debug, trace;
  } cases[] = {
      {"0", false, false, false, false},  {"2", true, true, false, false},  {"4", true, true, true, true},
      {"258", true, true, false, false},  {"256", false, false, false, false}, {nullptr, true, true, false, false},
      {"1", true, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level ? c.level : "missing");
    TempDir dir("log_levels");
    if (!c.level) deleteValue(HKEY_LOCAL_MACHINE, keys_.root().c_str(), "RZAgentLogLevel");
    std::string text = WriteAllLevels(dir, c.level);
    EXPECT_NE(text.find("Log open time: "), std::string::npos);
    EXPECT_NE(text.find("Log close time: "), std::string::npos);
    EXPECT_EQ(text.find("[INFO] info line") != std::string::npos, c.info);
    EXPECT_EQ(text.find("[ERROR] error line") != std::string::npos, c.error);
    EXPECT_EQ(text.find("[DEBUG] debug line") != std::string::npos, c.debug);
    EXPECT_EQ(text.find("[TRACE] trace line") != std::string::npos, c.trace);
  }
}

TEST_F(AgentLogTest, LineHeadFormat) {
  TempDir dir("log_head");
  SetLevel("2");
  ASSERT_EQ(Open("head.log", dir.path()), 0);
  LogInfo("value %d and %S\n", 42, L"wide");
  LogInfo("no line end ");
  LogInfo("runs on\n");
  CloseAgentLog();
  std::vector<std::string> lines = Lines(ReadTextFile(dir / "head.log"));
  ASSERT_EQ(lines.size(), 4u);
  const std::string head = R"(\[ \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3} \] \[ \d+ \] )";
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(head + R"(\[INFO\] Log open time: \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3})")))
      << lines[0];
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(head + R"(\[INFO\] value 42 and wide)"))) << lines[1];
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(head + R"(\[INFO\] no line end )" + head + R"(\[INFO\] runs on)")))
      << lines[2];
  EXPECT_TRUE(std::regex_match(lines[3], std::regex(head + R"(\[INFO\] Log close time: .*)"))) << lines[3];
}

TEST_F(AgentLogTest, WideTextArrivesAsUtf8WhateverTheLocale) {
  // A package file of a folder in Cyrillic: German, Chinese and an emoji
  // beyond the 16-bit range.
  const wchar_t* wide = L"C:\\\x0410\x0433\x0435\x043D\x0442\\Gr\x00FC\x00DF" L"e\x901A\x9053\xD83D\xDE00.cab";
  const std::string utf8 =
      "C:\\\xD0\x90\xD0\xB3\xD0\xB5\xD0\xBD\xD1\x82\\Gr\xC3\xBC\xC3\x9F" "e\xE9\x80\x9A\xE9\x81\x93\xF0\x9F\x98\x80.cab";
  TempDir dir("log_wide");
  SetLevel("4");
  ASSERT_EQ(Open("wide.log", dir.path()), 0);
  // Every way the program hands wide text to a log line, at every level,
  // with the conversions that share those lines.
  LogInfo("1 %S|\n", wide);
  LogError("2 %S|\n", wide);
  LogDebug("3 %ls|\n", wide);
  LogTrace("4 %s %S %d %llu %lu %02X %x %%|\n", "n\xC3\xA4", wide, -7, 1ULL << 40, 4000000000UL, 10, 255);
  LogInfo("5 %-3S|%.4S|%C|\n", L"a", L"Gr\x00FC\x00DF" L"e", L'\x00FC');
  CloseAgentLog();
  const std::string text = ReadTextFile(dir / "wide.log");
  for (const std::string& line :
       {"[INFO] 1 " + utf8 + "|", "[ERROR] 2 " + utf8 + "|", "[DEBUG] 3 " + utf8 + "|",
        "[TRACE] 4 n\xC3\xA4 " + utf8 + " -7 1099511627776 4000000000 0A ff %|",
        std::string("[INFO] 5 a  |Gr\xC3\xBC\xC3\x9F|\xC3\xBC|")}) {
    EXPECT_NE(text.find(line + "\n"), std::string::npos) << line << "\n" << text;
  }
}

TEST_F(AgentLogTest, OpeningTwiceKeepsTheFirstFile) {
  TempDir dir("log_twice");
  SetLevel("4");
  ASSERT_EQ(Open("first.log", dir.path()), 0);
  EXPECT_EQ(Open("second.log", dir.path()), 0);
  CloseAgentLog();
  EXPECT_NE(ReadTextFile(dir / "first.log").find("[TRACE] gv_logFilePtr already Set"), std::string::npos);
  EXPECT_FALSE(testing_support::FileExists(dir / "second.log"));
}

TEST_F(AgentLogTest, AppendsAcrossRunsAndCreatesTheFolder) {
  TempDir dir("log_append");
  std::string folder = dir / "deep\\logs";
  ASSERT_EQ(Open("a.log", folder), 0);
  LogError("first run\n");
  CloseAgentLog();
  ASSERT_EQ(Open("a.log", folder), 0);
  LogError("second run\n");
  CloseAgentLog();
  std::string text = ReadTextFile(folder + "\\a.log");
  EXPECT_LT(text.find("first run"), text.find("second run"));
  LogError("after close is dropped\n");
  EXPECT_EQ(ReadTextFile(folder + "\\a.log"), text);
}

TEST_F(AgentLogTest, ThreadsNeverInterleaveWithinALine) {
  TempDir dir("log_threads");
  ASSERT_EQ(Open("threads.log", dir.path()), 0);
  const int kLines = 3000;
  auto writer = [](char tag) {
    std::string payload(60, tag);
    for (int i = 0; i < kLines; ++i) LogError("%s %d\n", payload.c_str(), i);
  };
  std::thread a(writer, 'A');
  std::thread b(writer, 'B');
  a.join();
  b.join();
  CloseAgentLog();
  std::vector<std::string> lines = Lines(ReadTextFile(dir / "threads.log"));
  ASSERT_EQ(lines.size(), static_cast<size_t>(2 * kLines + 2));
  const std::regex line(R"(\[ [^\]]+ \] \[ \d+ \] \[ERROR\] (A{60}|B{60}) \d+)");
  int bad = 0;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    if (!std::regex_match(lines[i], line)) ++bad;
  }
  EXPECT_EQ(bad, 0);
}

TEST(ErrorLogTime, TrueTwelveHourDial) {
  struct Case {
    WORD hour, minute;
    const char* expected;
  } cases[] = {
      {0, 5, "Dec 08,2026 12:05AM"},  {6, 47, "Dec 08,2026 06:47AM"}, {11, 59, "Dec 08,2026 11:59AM"},
      {12, 30, "Dec 08,2026 12:30PM"}, {13, 0, "Dec 08,2026 01:00PM"}, {23, 59, "Dec 08,2026 11:59PM"},
  };
  for (const Case& c : cases) {
    SYSTEMTIME t = {};
    t.wYear = 2026;
    t.wMonth = 12;
    t.wDay = 8;
    t.wHour = c.hour;
    t.wMinute = c.minute;
    EXPECT_EQ(FormatErrorLogTime(t), c.expected);
  }
}

TEST_F(AgentLogTest, ErrorLogAppendsTwoLinesPerEntryEvenToAnEmptyFile) {
  TempDir dir("log_errorlog");
  // The folder comes from the registry value, read when the log starts; its
  // missing separator is added.
  keys_.SeedValue("", "RZAgentInstallDir", dir.path());
  ASSERT_EQ(InitializeAgentLog("rzprereqhandler.log", keys_.root()), 0);
  EXPECT_EQ(AgentLogInstallDir(), dir.path() + "\\");
  testing_support::WriteFileBytes(dir / "logs\\rzerror.log", "");
  WriteErrorLog("\tResume Download failed with error code : 5 and total failed count value = 1\n");
  WriteErrorLog("100% literal %s %d");
  std::vector<std::string> lines = Lines(ReadTextFile(dir / "logs\\rzerror.log"));
  ASSERT_EQ(lines.size(), 5u);  // the first text carries its own line break
  const std::regex stamp(R"([A-Z][a-z]{2} \d{2},\d{4} \d{2}:\d{2}(AM|PM))");
  EXPECT_TRUE(std::regex_match(lines[0], stamp)) << lines[0];
  EXPECT_EQ(lines[1], "\tResume Download failed with error code : 5 and total failed count value = 1");
  EXPECT_EQ(lines[2], "");
  EXPECT_TRUE(std::regex_match(lines[3], stamp));
  EXPECT_EQ(lines[4], "100% literal %s %d");
}

TEST_F(AgentLogTest, TwoProcessesAppendingNeverCutALine) {
  TempDir dir("log_two_writers");
  const int kLines = 3000;
  std::vector<std::thread> writers;
  for (const char* tag : {"alpha", "omega"}) {
    writers.emplace_back([this, &dir, tag] {
      testing_support::ProcessRun run = testing_support::RunProcess(
          "\"" + testing_support::BinPath("log_append_child.exe") + "\" \"" + dir.path() + "\" " + tag + " " +
          std::to_string(kLines) + " \"" + keys_.root() + "\"");
      EXPECT_EQ(run.exitCode, 0u) << tag;
    });
  }
  for (std::thread& writer : writers) writer.join();

  const std::regex whole(R"(\[ [0-9: -]+ \] \[ \d+ \] \[INFO\] ((alpha|omega) line \d{5} with a body .*\.|Log (open|close) time: .*))");
  int counted = 0;
  for (const std::string& line : Lines(ReadTextFile(dir / "shared.log"))) {
    ASSERT_TRUE(std::regex_match(line, whole)) << line;
    if (line.find(" line ") != std::string::npos) ++counted;
  }
  EXPECT_EQ(counted, 2 * kLines);
}
