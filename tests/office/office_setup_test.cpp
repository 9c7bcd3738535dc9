// configure.xml on disk, the direct-download switch, the source builders and
// real setup runs through the Office deployment tool stand-in.
#include "office/office_setup.h"

#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <string>
#include <vector>

#include "agent/agent_parameters.h"
#include "agent/registry.h"
#include "office/installed_office.h"
#include "office/office_state.h"
#include "options/run_options.h"
#include "support/test_support.h"
#include "util/handles.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace {

using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

class OfficeSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::ClearAgentRegistry();
    RunOptions options;
    options.patchId = 731;
    options.channel = "MonthlyEnterprise";
    options.clientEdition = "64";
    options.version = "16.0.17328.20184";
    options.productReleaseId = "O365ProPlusRetail";
    options.installerPath = dir_.path() + "\\\\patches\\731-setup.exe";
    office_.run = OfficeRunValuesFor(options, dir_.path() + "\\");
    testing_support::MakeDirs(PackageFolder());
    office_.installedLanguages = {"en-us", "fr-fr"};
  }
  void TearDown() override { testing_support::ClearAgentRegistry(); }

  std::string PackageFolder() const { return office_.run.packageFolder; }
  std::string ConfigurationPath() const { return OfficeConfigurationPath(office_.run); }
  std::string ConfigurationBytes() { return ReadFileBytes(ConfigurationPath()); }
  int WriteConfiguration(const std::string& source, int usePackageFolder) {
    return WriteOfficeConfiguration(&office_, source, usePackageFolder);
  }

  TempDir dir_{"office_setup"};
  OfficeState office_;
};

TEST_F(OfficeSetupTest, ConfigurationWithSourceIsByteExact) {
  writeValueEx(HKEY_LOCAL_MACHINE, reg_path::kClickToRunConfiguration, "ProductReleaseIds",
               "AccessRuntimeRetail,O365BusinessRetail", REG_SZ, 1);
  writeValueEx(HKEY_LOCAL_MACHINE, reg_path::kClickToRunConfiguration, "O365BusinessRetail.ExcludedApps", "groove,lync",
               REG_SZ, 1);
  // A longer file from an earlier attempt must leave no tail behind.
  ASSERT_TRUE(WriteFileBytes(ConfigurationPath(), std::string(4000, 'x')));

  // Every markup character of an attribute value is escaped, and letters
  // outside ASCII become character references.
  const std::string source = "\\\\srv\\office&co\\\"731\"<'x'>\xC3\xA9\xE9\x80\x9A";
  ASSERT_EQ(WriteConfiguration(source, 0), 0);
  EXPECT_EQ(ConfigurationBytes(),
            "<Configuration>\r\n"
            "<Add Channel=\"MonthlyEnterprise\" OfficeClientEdition=\"64\" "
            "SourcePath=\"\\\\srv\\office&amp;co\\&quot;731&quot;&lt;&apos;x&apos;&gt;&#xE9;&#x901A;\" "
            "Version=\"16.0.17328.20184\">\r\n"
            "<Product ID=\"O365BusinessRetail\">\r\n"
            "<Language ID=\"en-us\"/>\r\n"
            "<Language ID=\"fr-fr\"/>\r\n"
            "<ExcludeApp ID=\"groove\"/>\r\n"
            "<ExcludeApp ID=\"lync\"/>\r\n"
            "</Product>\r\n</Add>\r\n"
            "<Updates Enabled=\"FALSE\" UpdatePath=\"\\\\srv\\office&amp;co\\&quot;731&quot;&lt;&apos;x&apos;&gt;&#xE9;&#x901A;\" "
            "Version=\"16.0.17328.20184\"/>\r\n"
            "<Display AcceptEULA=\"TRUE\" Level=\"None\"/>\r\n"
            "<Logging Name=\"OfficeSetup.txt\" Path=\"%temp%\"/>\r\n"
            "<Property Name=\"FORCEAPPSHUTDOWN\" Value=\"FALSE\"/>\r\n"
            "</Configuration>");
  // What a parser reads back is exactly the source given.
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(ConfigurationBytes().c_str()));
  EXPECT_EQ(std::string(document.child("Configuration").child("Add").attribute("SourcePath").value()), source);
}

TEST_F(OfficeSetupTest, DirectDownloadConfigurationIsByteExact) {
  // The agent's state wins even when the Office patch value says no; no
  // installed product falls back to the command line's.
  testing_support::SeedAgentValue("", "LastDirectDownloadState", "1", REG_DWORD);
  testing_support::SeedAgentValue("Patch\\OfficePatchData", "OfficeDirectDownload", "0", REG_DWORD);
  office_.HowToInstall = 1;
  EXPECT_EQ(GetStoreSourceUrl(office_.run, "srv", "8383"), "https://srv:8383/store/office/731");
  ASSERT_EQ(WriteConfiguration(GetStoreSourceUrl(office_.run, "srv", "8383"), 0), 0);
  EXPECT_EQ(ConfigurationBytes(),
            "<Configuration>\r\n"
            "<Add Channel=\"MonthlyEnterprise\" OfficeClientEdition=\"64\" Version=\"16.0.17328.20184\">\r\n"
            "<Product ID=\"O365ProPlusRetail\">\r\n"
            "<Language ID=\"en-us\"/>\r\n"
            "<Language ID=\"fr-fr\"/>\r\n"
            "</Product>\r\n</Add>\r\n"
            "<Updates Enabled=\"FALSE\" Version=\"16.0.17328.20184\"/>\r\n"
            "<Display AcceptEULA=\"TRUE\" Level=\"None\"/>\r\n"
            "<Logging Name=\"OfficeSetup.txt\" Path=\"%temp%\"/>\r\n"
            "<Property Name=\"FORCEAPPSHUTDOWN\" Value=\"TRUE\"/>\r\n"
            "</Configuration>");
}

TEST_F(OfficeSetupTest, ForceShutdownFollowsModeAndConsent) {
  const struct {
    int howToInstall;
    bool closeApplications;
    const char* value;
  } cases[] = {{3, false, "FALSE"}, {3, true, "TRUE"}, {1, false, "TRUE"}, {2, false, "FALSE"}};
  for (const auto& c : cases) {
    office_.HowToInstall = c.howToInstall;
    office_.closeApplications = c.closeApplications;
    ASSERT_EQ(WriteConfiguration("src", 0), 0);
    const std::string line = std::string("<Property Name=\"FORCEAPPSHUTDOWN\" Value=\"") + c.value + "\"/>\r\n";
    EXPECT_NE(ConfigurationBytes().find(line), std::string::npos) << c.howToInstall << " " << c.closeApplications;
  }
}

TEST_F(OfficeSetupTest, PackageFolderSourceAndRefusals) {
  ASSERT_EQ(WriteConfiguration("ignored", 1), 0);
  EXPECT_NE(ConfigurationBytes().find("UpdatePath=\"" + PackageFolder() + "\""), std::string::npos);
  EXPECT_EQ(ConfigurationBytes().find("ignored"), std::string::npos);
  // A refused write leaves no earlier configuration for setup to run.
  ASSERT_EQ(WriteConfiguration("first", 0), 0);
  EXPECT_EQ(WriteConfiguration("", 0), 13);
  EXPECT_FALSE(FileExists(ConfigurationPath()));

  ASSERT_EQ(WriteConfiguration("first", 0), 0);
  office_.installedLanguages.clear();
  EXPECT_EQ(WriteConfiguration("second", 0), 13);
  EXPECT_FALSE(FileExists(ConfigurationPath()));

  // A file that cannot be created gives the system's error, never 0.
  office_.installedLanguages = {"en-us"};
  ASSERT_TRUE(RemoveDirectoryW(ChangeUtf8ToWideStr(PackageFolder().c_str()).c_str()));
  EXPECT_EQ(WriteConfiguration("third", 0), ERROR_PATH_NOT_FOUND);
}

TEST_F(OfficeSetupTest, DirectDownloadSwitch) {
  const struct {
    const char* last;    // LastDirectDownloadState, nullptr: missing
    const char* office;  // OfficeDirectDownload, nullptr: missing
    DWORD type;
    int expected;
  } cases[] = {
      {nullptr, nullptr, REG_DWORD, 0}, {"7", "0", REG_DWORD, 1}, {"0", "1", REG_DWORD, 1},
      {nullptr, "1", REG_DWORD, 1},     {"0", "0", REG_DWORD, 0},
      {"0", "0", REG_SZ, 0},  // a text "0" is no DWORD: its bytes must not read as on
  };
  for (const auto& c : cases) {
    testing_support::ClearAgentRegistry();
    if (c.last) testing_support::SeedAgentValue("", "LastDirectDownloadState", c.last, c.type);
    if (c.office) testing_support::SeedAgentValue("Patch\\OfficePatchData", "OfficeDirectDownload", c.office, c.type);
    EXPECT_EQ(IsOfficeDirectDownloadEnabled(reg_path::AgentKeys()), c.expected)
        << (c.last ? c.last : "-") << (c.office ? c.office : "-");
  }
}

TEST_F(OfficeSetupTest, SharePathFromTheServerInUseReadNow) {
  testing_support::SeedAgentValue("ServerInfo", "RZServerFlatName", "RZSRV");
  testing_support::SeedAgentValue("ServerInfo", "DistributionServerFlatName", "DSSRV");
  // The share of the server in use, as the fallback stage builds it.
  AgentParameters params;
  auto sharePath = [&] { return GetSharePath(office_.run, ReadStoreServerValues(params).flatName); };
  params.EnableDistributionServer = "no";
  EXPECT_EQ(sharePath(), "\\\\RZSRV\\office\\731");
  params.EnableDistributionServer = "YES";
  EXPECT_EQ(sharePath(), "\\\\DSSRV\\office\\731");
  // A changed registry value counts at once; the record is not consulted.
  testing_support::SeedAgentValue("ServerInfo", "DistributionServerFlatName", "DSSRV2");
  EXPECT_EQ(sharePath(), "\\\\DSSRV2\\office\\731");
}

// --- real setup runs through the stand-in ---

class SetupRunTest : public OfficeSetupTest {
 protected:
  void SetUp() override {
    OfficeSetupTest::SetUp();
    GetSystemTimeAsFileTime(&start_);
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {0};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(computer, &length);
    computer_ = ChangeWideToUtf8Str(computer);
    ASSERT_TRUE(
        testing_support::CopyFileUtf8(testing_support::BinPath("setup_standin.exe"), office_.run.installerPath));
  }
  void TearDown() override {
    for (const std::string& path : NewSetupLogs()) DeleteFileA(path.c_str());
    OfficeSetupTest::TearDown();
  }

  void Script(const std::string& folder, const std::string& text) {
    ASSERT_TRUE(WriteFileBytes(folder + "\\setup_standin.txt", text));
  }
  std::string InstallerFolder() { return dir_.path() + "\\patches"; }

  // Setup logs of this computer written since the test began.
  std::vector<std::string> NewSetupLogs() {
    std::vector<std::string> found;
    WIN32_FIND_DATAA data;
    UniqueFind find(FindFirstFileA(("C:\\Windows\\Temp\\" + computer_ + "-*.log").c_str(), &data));
    if (!find) return found;
    do {
      if (CompareFileTime(&data.ftLastWriteTime, &start_) >= 0) {
        found.push_back(std::string("C:\\Windows\\Temp\\") + data.cFileName);
      }
    } while (FindNextFileA(find.get(), &data));
    return found;
  }

  FILETIME start_{};
  std::string computer_;
};

TEST_F(SetupRunTest, ExtractThenConfigureWithExactCommandLines) {
  Script(InstallerFolder(), "configure_exit=3010\n");
  ASSERT_EQ(ExtractOfficeSetup(office_.run), 0);
  const std::string folder = PackageFolder();
  EXPECT_TRUE(FileExists(folder + "\\setup.exe"));
  EXPECT_EQ(ReadFileBytes(InstallerFolder() + "\\setup_standin.calls.txt"),
            "\"" + office_.run.installerPath + "\" /extract:\"" + folder + "\" /quiet /norestart\r\n");

  ASSERT_EQ(WriteConfiguration("\\\\srv\\office\\731", 0), 0);
  // 3010 (restart needed) is a success.
  EXPECT_EQ(RunOfficeSetupConfigure(office_.run), 0);
  EXPECT_EQ(ReadFileBytes(folder + "\\setup_standin.calls.txt"),
            "\"" + folder + "\\setup.exe\" /configure \"" + folder + "\\configure.xml\"\r\n");
  // Setup got exactly the bytes that were written.
  EXPECT_EQ(ReadFileBytes(folder + "\\configure.received.xml"), ConfigurationBytes());

  // The stand-in's own log, as the log collection will read it.
  std::vector<std::string> logs = NewSetupLogs();
  ASSERT_EQ(logs.size(), 1u);
  const std::string log = ReadFileBytes(logs[0]);
  ASSERT_EQ(log.substr(0, 2), std::string("\xFF\xFE", 2));
  std::wstring text(reinterpret_cast<const wchar_t*>(log.data() + 2), (log.size() - 2) / 2);
  EXPECT_NE(text.find(L"\"Attempt\": 1, \"ErrorCode\": 3010, "), std::wstring::npos);
  EXPECT_NE(text.find(L"\"SourcePath\": \"\\\\\\\\srv\\\\office\\\\731\", "), std::wstring::npos);
}

TEST_F(SetupRunTest, ResultsMappedThroughTheSuccessList) {
  const struct {
    const char* script;
    int extract;
    int configure;
  } cases[] = {
      {"extract_exit=1508\nconfigure_exit=17002\nconfigure_delay_ms=200\n", 0, 17002},
      {"extract_exit=3010\nconfigure_exit=1641\n", 0, 0},
      {"extract_exit=17006\nconfigure_exit=17006\nwrite_log=0\n", 17006, 17006},
  };
  for (const auto& c : cases) {
    Script(InstallerFolder(), c.script);
    EXPECT_EQ(ExtractOfficeSetup(office_.run), c.extract) << c.script;
    ASSERT_EQ(WriteConfiguration("src", 0), 0);
    EXPECT_EQ(RunOfficeSetupConfigure(office_.run), c.configure) << c.script;
  }
}

}  // namespace
