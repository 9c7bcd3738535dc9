// Pure pieces of the Office configuration: the configure.xml text, escaping,
// the language-pack check, the culture and product lists, command lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <pugixml.hpp>

#include "office/installed_office.h"
#include "office/office_setup.h"

namespace {

OfficeConfigurationInput SampleInput() {
  OfficeConfigurationInput input;
  input.channel = "MonthlyEnterprise";
  input.clientEdition = "64";
  input.source = "https://srv:8383/store/office/731";
  input.version = "16.0.17328.20184";
  input.productId = "O365ProPlusRetail";
  input.languages = {"de-de", "en-us"};
  return input;
}

TEST(OfficeConfigurationTextTest, SourceNamedTwiceWhenDirectDownloadIsOff) {
  EXPECT_EQ(BuildOfficeConfigurationText(SampleInput()),
            "<Configuration>\n"
            "<Add Channel=\"MonthlyEnterprise\" OfficeClientEdition=\"64\" "
            "SourcePath=\"https://srv:8383/store/office/731\" Version=\"16.0.17328.20184\">\n"
            "<Product ID=\"O365ProPlusRetail\">\n"
            "<Language ID=\"de-de\"/>\n"
            "<Language ID=\"en-us\"/>\n"
            "</Product>\n</Add>\n"
            "<Updates Enabled=\"FALSE\" UpdatePath=\"https://srv:8383/store/office/731\" "
            "Version=\"16.0.17328.20184\"/>\n"
            "<Display AcceptEULA=\"TRUE\" Level=\"None\"/>\n"
            "<Logging Name=\"OfficeSetup.txt\" Path=\"%temp%\"/>\n"
            "<Property Name=\"FORCEAPPSHUTDOWN\" Value=\"FALSE\"/>\n"
            "</Configuration>");
}

TEST(OfficeConfigurationTextTest, NoSourceAtAllWhenDirectDownloadIsOn) {
  OfficeConfigurationInput input = SampleInput();
  input.directDownload = true;
  input.excludedApps = {"groove", "lync"};
  input.forceAppShutdown = true;
  EXPECT_EQ(BuildOfficeConfigurationText(input),
            "<Configuration>\n"
            "<Add Channel=\"MonthlyEnterprise\" OfficeClientEdition=\"64\" Version=\"16.0.17328.20184\">\n"
            "<Product ID=\"O365ProPlusRetail\">\n"
            "<Language ID=\"de-de\"/>\n"
            "<Language ID=\"en-us\"/>\n"
            "<ExcludeApp ID=\"groove\"/>\n"
            "<ExcludeApp ID=\"lync\"/>\n"
            "</Product>\n</Add>\n"
            "<Updates Enabled=\"FALSE\" Version=\"16.0.17328.20184\"/>\n"
            "<Display AcceptEULA=\"TRUE\" Level=\"None\"/>\n"
            "<Logging Name=\"OfficeSetup.txt\" Path=\"%temp%\"/>\n"
            "<Property Name=\"FORCEAPPSHUTDOWN\" Value=\"TRUE\"/>\n"
            "</Configuration>");
}

// Whatever the values hold, setup must read back exactly those values and no
// extra attribute.
TEST(OfficeConfigurationTextTest, EscapedValuesParseBackUnchanged) {
  OfficeConfigurationInput input = SampleInput();
  input.source = "\\\\srv\\share&co\\\"x\" Injected=\"1";
  input.channel = "<Current>";
  input.productId = "O'Brien&Sons";
  input.languages = {"en-us\"/><Language ID=\"xx"};
  input.excludedApps = {"a>b"};
  const std::string text = BuildOfficeConfigurationText(input);
  EXPECT_NE(text.find("SourcePath=\"\\\\srv\\share&amp;co\\&quot;x&quot; Injected=&quot;1\""), std::string::npos);

  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(text.c_str()));
  pugi::xml_node add = document.child("Configuration").child("Add");
  EXPECT_STREQ(add.attribute("SourcePath").value(), input.source.c_str());
  EXPECT_STREQ(add.attribute("Channel").value(), "<Current>");
  EXPECT_FALSE(add.attribute("Injected"));
  EXPECT_STREQ(add.child("Product").attribute("ID").value(), "O'Brien&Sons");
  EXPECT_STREQ(add.child("Product").child("Language").attribute("ID").value(), input.languages[0].c_str());
  EXPECT_FALSE(add.child("Product").child("Language").next_sibling("Language"));
  EXPECT_STREQ(add.child("Product").child("ExcludeApp").attribute("ID").value(), "a>b");
  EXPECT_STREQ(document.child("Configuration").child("Updates").attribute("UpdatePath").value(), input.source.c_str());
  EXPECT_STREQ(document.child("Configuration").child("Logging").attribute("Path").value(), "%temp%");
}

TEST(EscapeXmlAttributeTest, EveryMarkupCharacter) {
  EXPECT_EQ(EscapeXmlAttribute(""), "");
  EXPECT_EQ(EscapeXmlAttribute("plain \\\\x\\y %temp%"), "plain \\\\x\\y %temp%");
  EXPECT_EQ(EscapeXmlAttribute("&<>\"'"), "&amp;&lt;&gt;&quot;&apos;");
  EXPECT_EQ(EscapeXmlAttribute("&amp;"), "&amp;amp;");
}

struct LanguagePackCase {
  std::vector<std::string> installed;
  std::vector<std::string> selected;
  int result;
  std::string remark;
};

TEST(CheckLanguagePackTest, Table) {
  const LanguagePackCase cases[] = {
      {{"en-us", "fr-fr"}, {"en-us"}, 0, "Configure Language Pack: fr-fr"},
      {{"en-us", "fr-fr"}, {"fr-fr", "en-us"}, 1, ""},
      {{"en-us", "fr-fr"}, {}, 0, "Configure Language Pack: en-us, fr-fr"},
      {{}, {}, 1, ""},
      // Installed letter case is kept in the remark; comparison is on lower case.
      {{"EN-US", "De-DE"}, {"en-us"}, 0, "Configure Language Pack: De-DE"},
      // Selected codes are already lower case: an upper-case code never matches.
      {{"en-us"}, {"EN-US"}, 0, "Configure Language Pack: en-us"},
      {{"en-us"}, {"", "en-us", "en-us"}, 1, ""},
  };
  for (const LanguagePackCase& c : cases) {
    std::string remark = "stale";
    EXPECT_EQ(CheckLanguagePackFor(c.installed, c.selected, &remark), c.result) << c.remark;
    EXPECT_EQ(remark, c.remark);
  }
}

TEST(InstalledCulturesTest, MergedSortedDistinctWithoutProofing) {
  struct Case {
    const char* office;
    const char* client;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"fr-fr,de-de,de-de.proof", "en-us,fr-fr", {"de-de", "en-us", "fr-fr"}},
      {"", "", {}},
      {",,en-us,,", "", {"en-us"}},
      {"en-US", "en-us", {"en-US", "en-us"}},  // byte-wise: upper case sorts first
      {"x-PROOF,Proofing,fr-fr", "es-es.Proof", {"fr-fr"}},
      {"", "zh-cn,ar-sa", {"ar-sa", "zh-cn"}},
  };
  for (const Case& c : cases) EXPECT_EQ(MergeInstalledCultures(c.office, c.client), c.expected) << c.office;
}

TEST(ProductReleaseIdTest, AccessRuntimeGivesWayToTheSuite) {
  struct Case {
    const char* ids;
    const char* expected;
  };
  const Case cases[] = {
      {"AccessRuntimeRetail,O365ProPlusRetail", "O365ProPlusRetail"},
      {"accessruntimeretail,VisioProRetail,ProjectProRetail", "VisioProRetail"},
      {"AccessRuntimeRetail", "AccessRuntimeRetail"},
      {"AccessRuntimeRetail,", "AccessRuntimeRetail"},
      {"O365ProPlusRetail,AccessRuntimeRetail", "O365ProPlusRetail"},
      {",,O365BusinessRetail", "O365BusinessRetail"},
      {"", ""},
      {",", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(PickProductReleaseId(c.ids), c.expected) << c.ids;
}

TEST(SplitPiecesTest, ExcludedAppSeparators) {
  EXPECT_EQ(SplitPieces("groove,lync", ",=\""), (std::vector<std::string>{"groove", "lync"}));
  EXPECT_EQ(SplitPieces("\"groove\"=1,,lync=\"\"", ",=\""), (std::vector<std::string>{"groove", "1", "lync"}));
  EXPECT_TRUE(SplitPieces("", ",").empty());
  EXPECT_TRUE(SplitPieces(",,,", ",").empty());
}

TEST(SetupCommandLineTest, ExactText) {
  EXPECT_EQ(ExtractCommandLine("C:\\RZ\\\\patches\\731-setup.exe", "C:\\RZ\\patches\\office\\731"),
            "\"C:\\RZ\\\\patches\\731-setup.exe\" /extract:\"C:\\RZ\\patches\\office\\731\" /quiet /norestart");
  EXPECT_EQ(ConfigureCommandLine("C:\\RZ\\patches\\office\\731", "C:\\RZ\\patches\\office\\731\\configure.xml"),
            "\"C:\\RZ\\patches\\office\\731\\setup.exe\" /configure "
            "\"C:\\RZ\\patches\\office\\731\\configure.xml\"");
}

}  // namespace
