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
  void SetUp() override { testing_support::ClearAgentRegistry(); }
  void TearDown() override { testing_support::ClearAgentRegistry(); }
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

using testing_support::RawRegistryValue;
using testing_support::WideBytes;

void PutRaw(const RawRegistryValue& value, int is64) {
  testing_support::PutRawValue(reg_path::kClickToRunConfiguration, L"UpdateChannel", value, is64);
}
RawRegistryValue GetRaw(int is64) {
  return testing_support::GetRawValue(reg_path::kClickToRunConfiguration, L"UpdateChannel", is64);
}

TEST_F(InstalledOfficeTest, UpdateChannelsComeBackAsTheyWereInEachView) {
  const RawRegistryValue missing;
  const RawRegistryValue text{true, REG_SZ, WideBytes(std::wstring(L"http://cdn/Kan\x00E4le") + L'\0')};
  const RawRegistryValue number{true, REG_DWORD, std::string("\x02\x00\x00\x00", 4)};
  const RawRegistryValue texts{true, REG_MULTI_SZ, WideBytes(std::wstring(L"first\0second\0\0", 15))};
  const RawRegistryValue emptyText{true, REG_SZ, WideBytes(std::wstring(1, L'\0'))};
  const RawRegistryValue expandable{true, REG_EXPAND_SZ, WideBytes(std::wstring(L"%ProgramData%\\cdn") + L'\0')};
  const RawRegistryValue binary{true, REG_BINARY, std::string("\x00\xff\x10", 3)};
  const struct {
    const char* what;
    RawRegistryValue at64;
    RawRegistryValue at32;
  } cases[] = {
      {"text beyond ASCII; a number", text, number},
      {"several texts; an empty text", texts, emptyText},
      {"missing; expandable text", missing, expandable},
      {"binary; missing", binary, missing},
      {"missing in both", missing, missing},
  };
  // What setup leaves behind: a plain text in both views.
  const RawRegistryValue bySetup{true, REG_SZ, WideBytes(std::wstring(L"set-by-setup") + L'\0')};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing_support::ClearAgentRegistry();
    OfficeState state;
    PutRaw(c.at64, k64);
    PutRaw(c.at32, k32);
    ASSERT_EQ(GetRaw(k64), c.at64);  // the views really are apart
    ASSERT_EQ(GetRaw(k32), c.at32);
    ReadUpdateChannels(&state);
    PutRaw(bySetup, k64);
    PutRaw(bySetup, k32);
    ResetUpdateChannels(state);
    EXPECT_EQ(GetRaw(k64), c.at64);
    EXPECT_EQ(GetRaw(k32), c.at32);
  }
}

}  // namespace
