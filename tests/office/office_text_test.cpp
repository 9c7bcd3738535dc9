// Pure pieces of the Office configuration: the language-pack check and the
// culture and product lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace
