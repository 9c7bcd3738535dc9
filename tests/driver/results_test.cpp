#include "driver/results.h"
#include "agent/custom_remarks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/agent_parameters.h"
#include "agent/registry.h"
#include "agent/rz_json.h"
#include "log/agent_log.h"
#include "log/seconds_clock.h"
#include "support/test_support.h"
#include "util/handles.h"
#include "util/registry_paths.h"
#include "util/text.h"

using namespace testing_support;

namespace {


std::vector<std::string> FileNames(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  UniqueFind search(FindFirstFileW(ChangeUtf8ToWideStr((folder + "\\*").c_str()).c_str(), &found));
  if (!search) return names;
  do {
    std::string name = ChangeWideToUtf8Str(found.cFileName);
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileW(search.get(), &found));
  return names;
}

// An agent folder with its data folder, set as the process's install folder.
class RemarkFile : public ::testing::Test {
 protected:
  RemarkFile() : dir_("remark_file") {
    MakeDirs(dir_ / "data");
    AgentParams().RZAgentInstallDir = dir_.path() + "\\";
  }
  ~RemarkFile() override { AgentParams().RZAgentInstallDir.clear(); }
  std::string Path() const { return dir_ / "data\\custom-patch-remarks.json"; }

  static int WriteRemark(const std::string& remark) {
    return WriteCustomPatchRemarks(AgentParams().RZAgentInstallDir, remark);
  }

  TempDir dir_;
};

}  // namespace

TEST_F(RemarkFile, ExactBytesWithCrLfAndTabIndentation) {
  EXPECT_EQ(CustomPatchRemarksPath(AgentParams().RZAgentInstallDir), dir_.path() + "\\\\data\\custom-patch-remarks.json");
  ASSERT_EQ(WriteRemark("abc"), 1);
  EXPECT_EQ(ReadFileBytes(Path()), "{\r\n\t\"custom_remarks\" : \"abc\"\r\n}\r\n");
}

TEST_F(RemarkFile, RewriteKeepsOnlyTheLatestAndLeavesNoTemporaryFile) {
  ASSERT_EQ(WriteRemark("Office updates postponed by users, and a much longer first remark text"), 1);
  ASSERT_EQ(WriteRemark("Configure Language Pack: fr-fr"), 1);
  EXPECT_EQ(ReadFileBytes(Path()), "{\r\n\t\"custom_remarks\" : \"Configure Language Pack: fr-fr\"\r\n}\r\n");
  EXPECT_EQ(FileNames(dir_ / "data"), std::vector<std::string>{"custom-patch-remarks.json"});
}

TEST_F(RemarkFile, QuotesAndBackslashesAreEscapedAndReadBackUnchanged) {
  const std::string remark = "Failed to download \"C:\\pkg\\a b.cab\" with error code : 5\n";
  ASSERT_EQ(WriteRemark(remark), 1);
  EXPECT_EQ(ReadFileBytes(Path()),
            "{\r\n\t\"custom_remarks\" : \"Failed to download \\\"C:\\\\pkg\\\\a b.cab\\\" with error code : 5\\n\"\r\n}"
            "\r\n");
  Json::Value read;
  ASSERT_EQ(CRZJson().LoadJSONDO(Path(), &read), 0);
  EXPECT_EQ(read["custom_remarks"].asString(), remark);
}

TEST_F(RemarkFile, EmptyRemarkLeavesTheFileAlone) {
  ASSERT_EQ(WriteRemark("kept"), 1);
  std::string before = ReadFileBytes(Path());
  EXPECT_EQ(WriteRemark(""), 0);
  EXPECT_EQ(ReadFileBytes(Path()), before);
}

TEST_F(RemarkFile, ReplacedEvenWhileAReaderHoldsTheOldFile) {
  ASSERT_EQ(WriteRemark("old"), 1);
  // A reader that shares read and write but not delete blocks the rename;
  // the new remark must arrive anyway.
  UniqueFile reader(CreateFileW(ChangeUtf8ToWideStr(Path().c_str()).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(reader);
  EXPECT_EQ(WriteRemark("new"), 1);
  reader.reset();
  EXPECT_EQ(ReadFileBytes(Path()), "{\r\n\t\"custom_remarks\" : \"new\"\r\n}\r\n");
  EXPECT_EQ(FileNames(dir_ / "data").size(), 1u);
}

TEST(RZJson, LoadResultCodes) {
  TempDir dir("rzjson_load");
  using namespace std::string_literals;
  struct Case {
    const char* name;
    bool exists;
    std::string bytes;
    int expected;
  };
  const Case cases[] = {
      {"missing.json", false, "", 2},
      {"empty.json", true, "", 2},
      {"leading_zero.json", true, "\0{\"a\": 1}"s, 2},
      {"broken.json", true, "{ \"a\": ", 13},
      {"not_json.json", true, "custom remarks", 13},
      {"commented.json", true, "// list\n{\"a\": 1 /* one */}\0junk"s, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir / c.name;
    if (c.exists) {
      ASSERT_TRUE(WriteFileBytes(path, c.bytes));
    }
    Json::Value value("untouched");
    EXPECT_EQ(CRZJson().LoadJSONDO(path, &value), c.expected);
    if (c.expected == 0) {
      EXPECT_EQ(value["a"].asInt(), 1);
    } else {
      EXPECT_EQ(value.asString(), "untouched");
    }
  }
}

TEST(Tracking, KeyPathFollowsTheWow64StateAndTheStartDateIsYyyymmdd) {
  const reg_path::AgentKeys program;
  EXPECT_EQ(TrackingKeyPath(program, true), "SOFTWARE\\Wow6432Node\\Varnholt\\Plexmoor\\RZAgent\\KQTracking");
  EXPECT_EQ(TrackingKeyPath(program, false), "SOFTWARE\\Varnholt\\Plexmoor\\RZAgent\\KQTracking");
  // Any root has its 32-bit view under the same first element.
  EXPECT_EQ(TrackingKeyPath(reg_path::AgentKeys("Software\\Tests\\A-7"), true),
            "Software\\Wow6432Node\\Tests\\A-7\\KQTracking");
  SYSTEMTIME may10 = {};
  may10.wYear = 2024;
  may10.wMonth = 5;
  may10.wDay = 10;
  EXPECT_EQ(InstallationDateText(may10), "20240510");
}

TEST(Tracking, FlowAndTimeAreWrittenAsDwordsInOrder) {
  TempDir dir("tracking_log");
  ScopedTestKey agentKey("tracking");
  const reg_path::AgentKeys keys(agentKey.path());
  writeValue(HKEY_LOCAL_MACHINE, keys.agent.c_str(), "RZAgentLogLevel", "4", REG_DWORD);
  ASSERT_EQ(OpenAgentLog("tracking.log", dir.path().c_str(), 2, keys.agent), 0);
  // The test build is a native process, so it is not under WOW64.
  const std::string key = TrackingKeyPath(keys, false);
  int before = GetTimeInSeconds();
  RecordTrackingValues(key, 2);
  int after = GetTimeInSeconds();
  CloseAgentLog();

  DWORD flow = 0;
  DWORD time = 0;
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, key.c_str(), "OfficeInstallFlow", &flow), ERROR_SUCCESS);
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, key.c_str(), "LastKQDataModifiedTime", &time), ERROR_SUCCESS);
  EXPECT_EQ(flow, 2u);
  EXPECT_GE(static_cast<int>(time), before);
  EXPECT_LE(static_cast<int>(time), after);
  DWORD type = 0;
  UniqueHKey opened;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, opened.put()), 0);
  ASSERT_EQ(RegQueryValueExA(opened.get(), "LastKQDataModifiedTime", nullptr, &type, nullptr, nullptr), 0);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));

  std::string log = ReadFileBytes(dir / "tracking.log");
  size_t flowAt = log.find("Value Name: OfficeInstallFlow");
  size_t timeAt = log.find("Value Name: LastKQDataModifiedTime");
  ASSERT_NE(flowAt, std::string::npos);
  ASSERT_NE(timeAt, std::string::npos);
  EXPECT_LT(flowAt, timeAt);
}


// The README's exit-code table is a copy of the program's, row for row; the
// closing line names the step a code came from, with the remark on one line.
TEST(RunSummary, ReadmeTableAndClosingLine) {
  std::vector<std::string> rows;
  for (const ExitCodeMeaning& row : ExitCodeMeanings()) {
    rows.push_back(std::string("| ") + StepName(row.step) + " | " + (row.other ? "other" : std::to_string(row.code)) +
                   " | " + row.meaning + " |");
  }
  std::string readme = ReadFileBytes(ZPath(TEST_SOURCE_DIR) + "\\README.md");
  size_t at = readme.find("| Step | Exit code | Meaning |\n|---|---|---|\n");
  ASSERT_NE(at, std::string::npos);
  std::vector<std::string> documented;
  for (at = readme.find('\n', at) + 1, at = readme.find('\n', at) + 1; at < readme.size() && readme[at] == '|';) {
    size_t end = readme.find('\n', at);
    documented.push_back(readme.substr(at, end - at));
    at = end + 1;
  }
  EXPECT_EQ(documented, rows);

  // One code, several steps: the meaning follows the step.
  const struct {
    RunStep step;
    int code;
    const char* meaning;
  } meanings[] = {
      {RunStep::Installer, 2, "the installer package is missing"},
      {RunStep::ListDecryptor, 2, "the package-file list's decryptor, or the list it decrypts, is missing"},
      {RunStep::ListFiles, 2, "the package-file list is unusable: missing, no JSON object, or over 16 MiB"},
      {RunStep::RunningApps, 5, "the prompt program failed"},
      {RunStep::ListDecryptor, 5, "the code of the package-file list's decryptor"},
      {RunStep::ListDownload, 404, "the server's store has no package-file list"},
      {RunStep::ListFiles, 404, "the server's store has not one of the package files"},
      {RunStep::Store, 17002, "the code of setup from the server's store or Microsoft's content network"},
      {RunStep::AgentSettings, 5, "the code of the step: start-up"},
  };
  for (const auto& m : meanings) EXPECT_EQ(MeaningOfExitCode(m.step, m.code), m.meaning) << m.code;

  EXPECT_EQ(RunSummaryText(60000, RunStep::ListFiles, InstallSource::None,
                           "Failed to download a.cab with error checksum mismatch.\n", std::nullopt),
            "Run summary : exit code 60000 (a package file failed its checksum); installed from : none; "
            "remark : Failed to download a.cab with error checksum mismatch.; installed Office : not checked");
  OfficeVerificationResult mismatch;
  mismatch.verdict = OfficeVerification::Mismatch;
  mismatch.mismatches = {{"version", "16.0.2", "16.0.1"}, {"platform", "64", "x86"}};
  EXPECT_EQ(RunSummaryText(0, RunStep::Share, InstallSource::Share, "", mismatch),
            "Run summary : exit code 0 (success); installed from : the network share; remark : none; installed "
            "Office : not as asked (version,platform)");
}
