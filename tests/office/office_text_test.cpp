// Pure pieces of the Office configuration: the language-pack check, the
// culture and product lists, and the check of what setup installed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "office/installed_check.h"
#include "office/installed_office.h"
#include "office/office_setup.h"

namespace {

TEST(CheckLanguagePackTest, Table) {
  const struct {
    std::vector<std::string> installed;
    std::vector<std::string> selected;
    int result;
    std::string remark;
  } cases[] = {
      {{"en-us", "fr-fr"}, {"en-us"}, 0, "Configure Language Pack: fr-fr"},
      {{"en-us", "fr-fr"}, {"fr-fr", "en-us"}, 1, ""},
      {{"en-us", "fr-fr"}, {}, 0, "Configure Language Pack: en-us, fr-fr"},
      {{}, {}, 1, ""},
      // The remark keeps the installed letter case; comparison is on lower case.
      {{"EN-US", "De-DE"}, {"en-us"}, 0, "Configure Language Pack: De-DE"},
      // Letters outside ASCII are lowered too and reach the remark intact.
      {{"xx-\xC3\x89\xC3\x89"}, {"xx-\xC3\xA9\xC3\xA9"}, 1, ""},
      {{"xx-\xC3\x89\xC3\x89"}, {"en-us"}, 0, "Configure Language Pack: xx-\xC3\x89\xC3\x89"},
  };
  for (const auto& c : cases) {
    std::string remark = "stale";
    EXPECT_EQ(CheckLanguagePackFor(c.installed, c.selected, &remark), c.result) << c.remark;
    EXPECT_EQ(remark, c.remark);
  }
}

TEST(InstalledListsTest, CulturesAndProduct) {
  EXPECT_EQ(MergeInstalledCultures(",,en-us,x-PROOF", "en-US,es-es.Proof"),
            (std::vector<std::string>{"en-US", "en-us"}));  // byte-wise order, case kept
  const struct {
    const char* ids;
    const char* expected;
  } cases[] = {
      {"accessruntimeretail,VisioProRetail,ProjectProRetail", "VisioProRetail"},
      {"AccessRuntimeRetail,", "AccessRuntimeRetail"},
      {"O365ProPlusRetail,AccessRuntimeRetail", "O365ProPlusRetail"},
      {",,O365BusinessRetail", "O365BusinessRetail"},
      {",", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(PickProductReleaseId(c.ids), c.expected) << c.ids;
}

TEST(InstalledCheckTest, Table) {
  using V = OfficeVerification;
  const RequestedOffice asked{"16.0.17928.20114", "64", "O365ProPlusRetail", {"en-us", "de-de"}};
  const InstalledOffice same{"16.0.17928.20114", "x64", {"O365ProPlusRetail"}, {"de-de", "en-us"}};
  const struct {
    const char* name;
    InstalledOffice installed;
    RequestedOffice requested;
    V verdict;
    bool newer;
    std::vector<std::string> mismatches;
  } cases[] = {
      {"equal", same, asked, V::Verified, false, {}},
      {"older", {"16.0.17928.9999", "x64", same.products, same.languages}, asked, V::Mismatch, false, {"version"}},
      // 17928 above 9999 compares as numbers, not as text.
      {"newer", {"16.0.17928.100000", "x64", same.products, same.languages}, asked, V::Verified, true, {}},
      {"a missing part counts as 0", {"16.0.17928.20114.0", "x64", same.products, same.languages}, asked,
       V::Verified, false, {}},
      {"not a dotted number", {"16.0.latest", "x64", same.products, same.languages}, asked, V::Mismatch, false,
       {"version"}},
      {"VersionToReport unreadable", {"", "x64", same.products, same.languages}, asked, V::Unreadable, false, {}},
      {"platform", {same.version, "x86", same.products, same.languages}, asked, V::Mismatch, false, {"platform"}},
      {"x86 with 32", {same.version, "X86", same.products, same.languages},
       {asked.version, "32", asked.productId, asked.languages}, V::Verified, false, {}},
      {"product ids in another letter case", {same.version, "x64", {"visioproretail", "o365proplusretail"},
       same.languages}, asked, V::Verified, false, {}},
      {"product missing", {same.version, "x64", {"VisioProRetail"}, same.languages}, asked, V::Mismatch, false,
       {"product"}},
      {"a missing language", {same.version, "x64", same.products, {"en-us", "fr-fr"}}, asked, V::Mismatch, false,
       {"languages"}},
      {"everything off", {"15.0.1", "x86", {}, {}}, asked, V::Mismatch, false,
       {"version", "platform", "product", "languages"}},
  };
  for (const auto& c : cases) {
    const OfficeVerificationResult result = CompareInstalledOffice(c.installed, c.requested);
    EXPECT_EQ(result.verdict, c.verdict) << c.name;
    EXPECT_EQ(result.newer, c.newer) << c.name;
    std::vector<std::string> what;
    for (const auto& mismatch : result.mismatches) what.push_back(mismatch.what);
    EXPECT_EQ(what, c.mismatches) << c.name;
  }
  // A mismatch names what was asked and what was found.
  const auto languages = CompareInstalledOffice({same.version, "x64", same.products, {"en-us"}}, asked).mismatches;
  ASSERT_EQ(languages.size(), 1u);
  EXPECT_EQ(languages[0].asked, "de-de");
  EXPECT_EQ(languages[0].found, "en-us");
}

}  // namespace
