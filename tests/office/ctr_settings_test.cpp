// The settings document read from a real file in a temporary agent folder.
#include "office/ctr_settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "agent/agent_parameters.h"
#include "office/office_state.h"
#include "support/test_support.h"

namespace {

using testing_support::TempDir;

const char* const kNoFile = nullptr;

struct SettingsCase {
  const char* name;
  const char* document;  // kNoFile: no settings file at all
  std::vector<int> optedLanguageIds;
  std::map<int, std::string> languageTable;  // after the codes were looked up
  std::vector<std::string> selectedLanguageCodes;
  std::vector<int> optedProofingIds;
  std::map<int, std::string> proofingTable;
  int howToInstall;
};

const SettingsCase kCases[] = {
    {"ordered_lists_keep_duplicates_and_lower_the_codes",
     "<office-ctr-settings>"
     "<O365Languages language_id=\"2\" o365_abbreviation=\"fr-fr\"/>"
     "<O365CTRLanguages language_id=\"1\"/>"
     "<O365CTRLanguages language_id=\"2\"/>"
     "<O365CTRLanguages language_id=\"1\"/>"
     "<O365Languages language_id=\"1\" o365_abbreviation=\"EN-US\"/>"
     "<O365CTRSettings how_to_install=\"1\"/>"
     "</office-ctr-settings>",
     {1, 2, 1},
     {{1, "EN-US"}, {2, "fr-fr"}},
     {"en-us", "fr-fr", "en-us"},
     {},
     {},
     1},
    {"later_table_entry_replaces_and_unknown_id_gets_empty_entry",
     "<office-ctr-settings>"
     "<O365Languages language_id=\"7\" o365_abbreviation=\"de-de\"/>"
     "<O365Languages language_id=\"7\" o365_abbreviation=\"de-at\"/>"
     "<O365Languages language_id=\"8\"/>"
     "<O365CTRLanguages language_id=\"7\"/>"
     "<O365CTRLanguages language_id=\"9\"/>"
     "<O365CTRLanguages/>"
     "<O365CTRSettings how_to_install=\"3\"/>"
     "</office-ctr-settings>",
     {7, 9, 0},
     {{0, ""}, {7, "de-at"}, {8, ""}, {9, ""}},
     {"de-at", "", ""},
     {},
     {},
     3},
    {"integer_conversion_follows_the_library",
     "<office-ctr-settings>"
     "<O365CTRLanguages language_id=\" 0x1F\"/>"
     "<O365CTRLanguages language_id=\"-12\"/>"
     "<O365CTRLanguages language_id=\"+7\"/>"
     "<O365CTRLanguages language_id=\"42abc\"/>"
     "<O365CTRLanguages language_id=\"abc\"/>"
     "<O365CTRLanguages language_id=\"\"/>"
     "<O365CTRLanguages language_id=\"99999999999\"/>"
     "<O365CTRLanguages language_id=\"-99999999999\"/>"
     "<O365CTRSettings how_to_install=\"0x2\"/>"
     "</office-ctr-settings>",
     {31, -12, 7, 42, 0, 0, INT_MAX, INT_MIN},
     {{31, ""}, {-12, ""}, {7, ""}, {42, ""}, {0, ""}, {INT_MAX, ""}, {INT_MIN, ""}},
     {"", "", "", "", "", "", "", ""},
     {},
     {},
     2},
    {"proofing_lists_and_tables",
     "<office-ctr-settings>"
     "<O365CTRProofingTools proofing_language_id=\"5\"/>"
     "<O365CTRProofingTools proofing_language_id=\"5\"/>"
     "<O365CTRProofingTools/>"
     "<O365ProofingLanguages proofing_language_id=\"5\" abbreviation=\"es-es\"/>"
     "<O365ProofingLanguages proofing_language_id=\"5\" abbreviation=\"ES-MX\"/>"
     "<O365ProofingLanguages proofing_language_id=\"6\"/>"
     "</office-ctr-settings>",
     {},
     {},
     {},
     {5, 5, 0},
     {{5, "ES-MX"}, {6, ""}},
     2},
    {"names_are_case_sensitive_and_only_direct_children_count",
     "<office-ctr-settings>"
     "<o365ctrlanguages language_id=\"1\"/>"
     "<O365CTRLANGUAGES language_id=\"2\"/>"
     "<Group><O365CTRLanguages language_id=\"3\"/><O365CTRSettings how_to_install=\"1\"/></Group>"
     "<O365CTRLanguages language_id=\"4\"/>"
     "<o365ctrsettings how_to_install=\"1\"/>"
     "</office-ctr-settings>",
     {4},
     {{4, ""}},
     {""},
     {},
     {},
     2},
    {"other_root_reads_nothing",
     "<Office-Ctr-Settings><O365CTRLanguages language_id=\"1\"/><O365CTRSettings how_to_install=\"1\"/>"
     "</Office-Ctr-Settings>",
     {},
     {},
     {},
     {},
     {},
     2},
    {"malformed_file_gives_empty_lists_even_after_good_elements",
     "<office-ctr-settings><O365CTRLanguages language_id=\"1\"/>"
     "<O365Languages language_id=\"1\" o365_abbreviation=\"en-us\"/>"
     "<O365CTRSettings how_to_install=\"1\"/><broken",
     {},
     {},
     {},
     {},
     {},
     2},
    {"empty_file", "", {}, {}, {}, {}, {}, 2},
    {"binary_garbage", "\x01\x02\xff\xfe<<<&&&", {}, {}, {}, {}, {}, 2},
    {"no_file", kNoFile, {}, {}, {}, {}, {}, 3},
    {"how_to_install_zero_means_ask",
     "<office-ctr-settings><O365CTRSettings how_to_install=\"0\"/></office-ctr-settings>", {}, {}, {}, {}, {}, 3},
    {"how_to_install_empty_means_ask",
     "<office-ctr-settings><O365CTRSettings how_to_install=\"\"/></office-ctr-settings>", {}, {}, {}, {}, {}, 3},
    {"how_to_install_absent_means_ask", "<office-ctr-settings><O365CTRSettings/></office-ctr-settings>", {}, {}, {},
     {}, {}, 3},
    {"how_to_install_unknown_value_kept",
     "<office-ctr-settings><O365CTRSettings how_to_install=\"5\"/></office-ctr-settings>", {}, {}, {}, {}, {}, 5},
    {"how_to_install_first_settings_element_counts",
     "<office-ctr-settings><O365CTRSettings how_to_install=\"1\"/><O365CTRSettings how_to_install=\"2\"/>"
     "</office-ctr-settings>",
     {}, {}, {}, {}, {}, 1},
};

void PrintTo(const SettingsCase& c, std::ostream* os) { *os << c.name; }

class CtrSettingsTest : public ::testing::TestWithParam<SettingsCase> {
 protected:
  void SetUp() override {
    ResetOfficeState();
    saved_ = AgentParams().RZAgentInstallDir;
    // The install folder ends with a separator, as the agent stores it.
    AgentParams().RZAgentInstallDir = dir_.path() + "\\";
  }
  void TearDown() override {
    AgentParams().RZAgentInstallDir = saved_;
    ResetOfficeState();
  }
  TempDir dir_{"office_ctr_settings"};
  std::string saved_;
};

TEST_P(CtrSettingsTest, ReadsTheDocument) {
  const SettingsCase& c = GetParam();
  if (c.document) {
    ASSERT_TRUE(testing_support::WriteFileBytes(dir_ / "client-data\\office-ctr-settings.xml", c.document));
  }
  // Results of a previous run must not survive a re-read.
  OfficeCtx().optedLanguageIds = {99};
  OfficeCtx().selectedLanguageCodes = {"xx-xx"};
  ReadCtrSettingsLanguages();
  ReadHowToInstall();
  const OfficeState& state = OfficeCtx();
  EXPECT_EQ(state.optedLanguageIds, c.optedLanguageIds);
  EXPECT_EQ(state.languageTable, c.languageTable);
  EXPECT_EQ(state.selectedLanguageCodes, c.selectedLanguageCodes);
  EXPECT_EQ(state.optedProofingIds, c.optedProofingIds);
  EXPECT_EQ(state.proofingTable, c.proofingTable);
  EXPECT_EQ(state.HowToInstall, c.howToInstall);
}

INSTANTIATE_TEST_SUITE_P(Documents, CtrSettingsTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SettingsCase>& info) { return std::string(info.param.name); });

TEST(CtrSettingsPathTest, KeepsTheInstallFoldersSeparatorAndIsReadable) {
  TempDir dir("office_ctr_settings_path");
  const std::string saved = AgentParams().RZAgentInstallDir;
  AgentParams().RZAgentInstallDir = dir.path() + "\\";
  EXPECT_EQ(CtrSettingsPath(), dir.path() + "\\\\client-data\\office-ctr-settings.xml");
  // The doubled separator must still reach the file (and the dump must cope
  // with both a present and a missing document).
  LogCtrSettingsDocument();
  ASSERT_TRUE(testing_support::WriteFileBytes(
      dir / "client-data\\office-ctr-settings.xml",
      "<office-ctr-settings>\r\n<O365CTRSettings how_to_install=\"1\"/>\r\n</office-ctr-settings>"));
  LogCtrSettingsDocument();
  ResetOfficeState();
  ReadHowToInstall();
  EXPECT_EQ(OfficeCtx().HowToInstall, 1);
  AgentParams().RZAgentInstallDir = saved;
  ResetOfficeState();
}

}  // namespace
