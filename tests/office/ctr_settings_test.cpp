// The settings document read from a real file in a temporary agent folder.
#include "office/ctr_settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "log/agent_log.h"
#include "office/office_state.h"
#include "support/test_support.h"

namespace {

// A document and what reading it gives. A row says what differs from the
// common outcome: no languages read and the asking install mode (3).
struct SettingsCase {
  const char* name;
  const char* document;  // nullptr: no settings file at all
  std::vector<int> optedLanguageIds;
  std::map<int, std::string> languageTable;  // after the codes were looked up
  std::vector<std::string> selectedLanguageCodes;
  int howToInstall = 3;
  // The parser's failure as the log names it after the path; nullptr: the
  // document parses (or is missing) and no such line is logged.
  const char* parseFailure = nullptr;

  SettingsCase Languages(std::vector<int> opted, std::map<int, std::string> table,
                         std::vector<std::string> selected) const {
    SettingsCase c = *this;
    c.optedLanguageIds = std::move(opted);
    c.languageTable = std::move(table);
    c.selectedLanguageCodes = std::move(selected);
    return c;
  }
  SettingsCase InstallMode(int how) const {
    SettingsCase c = *this;
    c.howToInstall = how;
    return c;
  }
  SettingsCase Fails(const char* failure) const {
    SettingsCase c = *this;
    c.parseFailure = failure;
    return c;
  }
};
void PrintTo(const SettingsCase& c, std::ostream* os) { *os << c.name; }

SettingsCase Document(const char* name, const char* document) { return SettingsCase{name, document}; }

#define DOC(body) "<office-ctr-settings>" body "</office-ctr-settings>"

const SettingsCase kCases[] = {
    Document("duplicates_kept_later_entry_replaces_codes_lowered",
             DOC("<O365Languages language_id=\"2\" o365_abbreviation=\"fr-fr\"/><O365CTRLanguages language_id=\"1\"/>"
                 "<O365CTRLanguages language_id=\"2\"/><O365CTRLanguages language_id=\"1\"/>"
                 "<O365Languages language_id=\"1\" o365_abbreviation=\"de-de\"/>"
                 "<O365Languages language_id=\"1\" o365_abbreviation=\"EN-US\"/>"
                 "<O365CTRSettings how_to_install=\"1\"/>"))
        .Languages({1, 2, 1}, {{1, "EN-US"}, {2, "fr-fr"}}, {"en-us", "fr-fr", "en-us"})
        .InstallMode(1),
    Document("unknown_or_missing_id_gives_empty_code_and_entry",
             DOC("<O365Languages language_id=\"8\"/><O365CTRLanguages language_id=\"9\"/><O365CTRLanguages/>"))
        .Languages({9, 0}, {{0, ""}, {8, ""}, {9, ""}}, {"", ""})
        .InstallMode(2),
    Document("integer_conversion_follows_the_library",
             DOC("<O365CTRLanguages language_id=\" 0x1F\"/><O365CTRLanguages language_id=\"-12\"/>"
                 "<O365CTRLanguages language_id=\"42abc\"/><O365CTRLanguages language_id=\"abc\"/>"
                 "<O365CTRLanguages language_id=\"99999999999\"/><O365CTRLanguages language_id=\"-99999999999\"/>"
                 "<O365CTRSettings how_to_install=\"0x2\"/>"))
        .Languages({31, -12, 42, 0, INT_MAX, INT_MIN},
                   {{31, ""}, {-12, ""}, {42, ""}, {0, ""}, {INT_MAX, ""}, {INT_MIN, ""}}, {"", "", "", "", "", ""})
        .InstallMode(2),
    Document("names_case_sensitive_only_direct_children",
             DOC("<o365ctrlanguages language_id=\"1\"/><Group><O365CTRLanguages language_id=\"3\"/>"
                 "<O365CTRSettings how_to_install=\"1\"/></Group><O365CTRLanguages language_id=\"4\"/>"
                 "<o365ctrsettings how_to_install=\"1\"/>"))
        .Languages({4}, {{4, ""}}, {""})
        .InstallMode(2),
    Document("other_root_reads_nothing",
             "<Office-Ctr-Settings><O365CTRLanguages language_id=\"1\"/><O365CTRSettings how_to_install=\"1\"/>"
             "</Office-Ctr-Settings>")
        .InstallMode(2),
    // pugixml keeps what it read before the error; none of it may count.
    Document("malformed_after_good_elements",
             "<office-ctr-settings><O365CTRLanguages language_id=\"1\"/>"
             "<O365Languages language_id=\"1\" o365_abbreviation=\"en-us\"/><O365CTRSettings how_to_install=\"1\"/>"
             "<broken")
        .InstallMode(2)
        .Fails("Error parsing start element tag at offset 157"),
    Document("empty_file", "").InstallMode(2).Fails("No document element found at offset 0"),
    Document("binary_garbage", "\x01\x02\xff\xfe<<<&&&")
        .InstallMode(2)
        .Fails("Could not determine tag type at offset 5"),
    Document("no_file", nullptr),
    Document("how_zero_means_ask", DOC("<O365CTRSettings how_to_install=\"0\"/>")),
    Document("how_empty_means_ask", DOC("<O365CTRSettings how_to_install=\"\"/>")),
    Document("how_absent_means_ask", DOC("<O365CTRSettings/>")),
    Document("how_unknown_value_kept", DOC("<O365CTRSettings how_to_install=\"5\"/>")).InstallMode(5),
};

class CtrSettingsTest : public ::testing::TestWithParam<SettingsCase> {
 protected:
  void SetUp() override {
    // The install folder ends with a separator, as the agent stores it, so
    // the document path holds a doubled one that must still work.
    state_.run.agentFolder = dir_.path() + "\\";
  }
  void Write(const char* document) {
    ASSERT_TRUE(testing_support::WriteFileBytes(dir_ / "client-data\\office-ctr-settings.xml", document));
  }
  testing_support::TempDir dir_{"office_ctr_settings"};
  OfficeState state_;
};

TEST_P(CtrSettingsTest, ReadsTheDocument) {
  const SettingsCase& c = GetParam();
  if (c.document) Write(c.document);
  // Results of an earlier read must not survive.
  state_.selectedLanguageCodes = {"xx-xx"};
  OpenAgentLog("capture.log", dir_.path().c_str(), 2);
  LogCtrSettingsDocument(state_.run.agentFolder);
  ReadCtrSettingsLanguages(&state_);
  ReadHowToInstall(&state_);
  CloseAgentLog();
  const OfficeState& state = state_;
  EXPECT_EQ(state.optedLanguageIds, c.optedLanguageIds);
  EXPECT_EQ(state.languageTable, c.languageTable);
  EXPECT_EQ(state.selectedLanguageCodes, c.selectedLanguageCodes);
  EXPECT_EQ(state.HowToInstall, c.howToInstall);

  // A broken document is named once, with what the parser found and where.
  const std::string log = testing_support::ReadTextFile(dir_ / "capture.log");
  const std::string prefix =
      "ReadCtrSettingsLanguages : Failed to parse " + CtrSettingsPath(state_.run.agentFolder) + " : ";
  if (c.parseFailure) {
    EXPECT_NE(log.find(prefix + c.parseFailure + "\n"), std::string::npos) << log;
    EXPECT_EQ(log.find(prefix), log.rfind(prefix)) << log;
  } else {
    EXPECT_EQ(log.find("Failed to parse"), std::string::npos) << log;
  }
}

INSTANTIATE_TEST_SUITE_P(Documents, CtrSettingsTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SettingsCase>& info) { return std::string(info.param.name); });

}  // namespace
