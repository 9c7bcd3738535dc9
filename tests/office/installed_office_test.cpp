// The installed Office read from Wine's registry, in both views.
#include "office/installed_office.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/registry.h"
#include "office/office_state.h"
#include "support/test_support.h"
#include "util/registry_paths.h"

namespace {

const int k64 = 1;
const int k32 = 0;

void Put(const char* key, const char* name, const char* data, int is64) {
  ASSERT_EQ(writeValueEx(HKEY_LOCAL_MACHINE, key, name, data, REG_SZ, is64), ERROR_SUCCESS);
}
void PutConfig(const char* name, const char* data, int is64) { Put(reg_path::kClickToRunConfiguration, name, data, is64); }

// The value as it stands now in one view; "<missing>" when absent.
std::string Current(const char* name, int is64) {
  std::string text;
  if (ReadViewString(reg_path::kClickToRunConfiguration, name, &text, is64) != ERROR_SUCCESS) return "<missing>";
  return text;
}

class InstalledOfficeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::ClearAgentRegistry();
    ResetOfficeState();
  }
  void TearDown() override {
    testing_support::ClearAgentRegistry();
    ResetOfficeState();
  }
};

TEST_F(InstalledOfficeTest, LanguagesMergedSortedWithoutProofing) {
  PutConfig("ClientCulture", "en-us,fr-fr", k64);
  Put(reg_path::kClickToRunInventory, "OfficeCulture", "fr-fr,de-de,de-de.proof", k64);
  // The 32-bit view is not asked while the 64-bit one has values.
  PutConfig("ClientCulture", "ja-jp", k32);
  Put(reg_path::kClickToRunInventory, "OfficeCulture", "ko-kr", k32);
  EXPECT_EQ(GetInstalledLanguages(), (std::vector<std::string>{"de-de", "en-us", "fr-fr"}));
}

TEST_F(InstalledOfficeTest, LanguagesFallBackToThe32BitViewPerValue) {
  Put(reg_path::kClickToRunInventory, "OfficeCulture", "fr-fr", k64);
  PutConfig("ClientCulture", "", k64);  // present but empty counts as nothing
  PutConfig("ClientCulture", "en-us", k32);
  ASSERT_EQ(Current("ClientCulture", k64), "");  // the views really are apart
  EXPECT_EQ(GetInstalledLanguages(), (std::vector<std::string>{"en-us", "fr-fr"}));
}

TEST_F(InstalledOfficeTest, ProductFromEitherView) {
  EXPECT_EQ(GetProductReleaseId(), "");
  PutConfig("ProductReleaseIds", "AccessRuntimeRetail,O365ProPlusRetail", k32);
  EXPECT_EQ(GetProductReleaseId(), "O365ProPlusRetail");
  PutConfig("ProductReleaseIds", "AccessRuntimeRetail", k64);
  EXPECT_EQ(GetProductReleaseId(), "AccessRuntimeRetail");
}

TEST_F(InstalledOfficeTest, ExcludedAppsFromTheFirstMatchingValueOfTheOpenedView) {
  PutConfig("Platform", "x64", k64);
  PutConfig("O365ProPlusRetail.EXCLUDEDAPPS", "\"groove\"=,,lync", k64);
  PutConfig("VisioProRetail.ExcludedApps", "teams", k64);
  PutConfig("O365ProPlusRetail.ExcludedApps", "onenote", k32);
  EXPECT_EQ(GetExcludedApps(), (std::vector<std::string>{"groove", "lync"}));
  // Without the 64-bit key the 32-bit one is used.
  testing_support::ClearAgentRegistry();
  PutConfig("O365ProPlusRetail.ExcludedApps", "onenote", k32);
  EXPECT_EQ(GetExcludedApps(), (std::vector<std::string>{"onenote"}));
}

TEST_F(InstalledOfficeTest, UpdateChannelsRestoredEachInItsOwnView) {
  // Saved as ANSI bytes, written back through the UTF-8 writer: a channel
  // outside ASCII must come back as it was.
  PutConfig("UpdateChannel", "http://cdn/Kan\xC3\xA4le", k32);
  PutConfig("UpdateChannel", "http://cdn/64", k64);
  const std::string before32 = Current("UpdateChannel", k32);
  ReadUpdateChannels();
  PutConfig("UpdateChannel", "changed", k64);
  PutConfig("UpdateChannel", "changed", k32);
  ResetUpdateChannels();
  EXPECT_EQ(Current("UpdateChannel", k64), "http://cdn/64");
  EXPECT_EQ(Current("UpdateChannel", k32), before32);
}

TEST_F(InstalledOfficeTest, ChannelMissingAtStartIsNeitherWrittenNorDeleted) {
  PutConfig("UpdateChannel", "http://cdn/32", k32);
  ReadUpdateChannels();
  PutConfig("UpdateChannel", "set-by-setup", k64);
  PutConfig("UpdateChannel", "set-by-setup", k32);
  ResetUpdateChannels();
  EXPECT_EQ(Current("UpdateChannel", k64), "set-by-setup");
  EXPECT_EQ(Current("UpdateChannel", k32), "http://cdn/32");
}

}  // namespace
