// Whole deployments of the real program under Wine: a seeded agent, the
// server's settings document, an installed Click-to-Run Office in both
// registry views, and an installer package that holds the setup stand-in.
#include <gtest/gtest.h>

#include "agent/registry.h"
#include "support/agent_program_test.h"
#include "util/registry_paths.h"
#include "util/text.h"

using namespace testing_support;

namespace {

const char kChannel[] = "http://officecdn.microsoft.com/pr/492350f6-3a01-4f97-b9c0-c7c6ddf67d60";
// The program copy is named like the agent names it: the number before the
// first "-" names the deployment key and the Office log folder.
const char kProgram[] = "731-OfficeInstaller.exe";
const char kArgs[] = "-pid 12 -ch Current -oce 64 -in office-12.exe -prid O365ProPlusRetail -v 16.0.17928.20114";

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class DeploymentFlow : public AgentProgramTest {
 protected:
  explicit DeploymentFlow(const std::string& folder = "deploy_agent", const std::string& installer = "office-12.exe")
      : AgentProgramTest(folder), installer_(installer) {
    program_ = agent_ / kProgram;
  }

  void SetUp() override {
    AgentProgramTest::SetUp();
    MakeDirs(agent_ / "data");
    ASSERT_TRUE(CopyFileUtf8(BinPath("OfficeInstaller.exe"), agent_ / kProgram));
    WriteSettings({"en-us"});
    SeedOffice("en-us");
    PlaceInstaller("");
    // Prompt state of an earlier run of this deployment.
    writeValue(HKEY_LOCAL_MACHINE, (std::string(reg_path::kOfficePatchData) + "\\731").c_str(), "FirstPromptTime", "100", REG_SZ);
  }
  void WriteSettings(const std::vector<std::string>& selected) {
    std::string xml = "<?xml version=\"1.0\"?>\n<office-ctr-settings>\n";
    int id = 1;
    for (const std::string& culture : selected) {
      xml += "<O365Languages language_id=\"" + std::to_string(id) + "\" o365_abbreviation=\"" + culture + "\"/>\n";
      xml += "<O365CTRLanguages language_id=\"" + std::to_string(id) + "\"/>\n";
      ++id;
    }
    xml += "<O365CTRSettings how_to_install=\"1\"/>\n</office-ctr-settings>\n";
    WriteFileBytes(agent_ / "client-data\\office-ctr-settings.xml", xml);
  }

  void SeedOffice(const std::string& cultures) {
    writeValueEx(HKEY_LOCAL_MACHINE, reg_path::kClickToRunConfiguration, "ClientCulture", cultures.c_str(), REG_SZ, 1);
    writeValueEx(HKEY_LOCAL_MACHINE, reg_path::kClickToRunConfiguration, "ProductReleaseIds", "O365ProPlusRetail", REG_SZ, 1);
    writeValueEx(HKEY_LOCAL_MACHINE, reg_path::kClickToRunConfiguration, "UpdateChannel", kChannel, REG_SZ, 1);
    writeValueEx(HKEY_LOCAL_MACHINE, reg_path::kClickToRunConfiguration, "UpdateURL", "https://old/store", REG_SZ, 1);
    writeValue(HKEY_LOCAL_MACHINE, reg_path::kClickToRunConfiguration, "UpdateChannel", kChannel, REG_SZ);
    writeValue(HKEY_LOCAL_MACHINE, reg_path::kClickToRunConfiguration, "UpdateURL", "https://old/store", REG_SZ);
  }

  // The installer package is the setup stand-in with its script beside it.
  void PlaceInstaller(const std::string& script) {
    MakeDirs(agent_ / "patches");
    ASSERT_TRUE(CopyFileUtf8(BinPath("setup_standin.exe"), agent_ / ("patches\\" + installer_)));
    WriteFileBytes(agent_ / "patches\\setup_standin.txt", script + "\nrecord_dir=" + record_.path() + "\n");
  }

  DWORD Run(const std::string& args = kArgs) { return AgentProgramTest::Run(args, 300000); }

  std::string Calls() const { return ReadTextFile(record_ / "setup_standin.calls.txt"); }
  std::string Received(int n) const { return ReadFileBytes(record_ / ("configure.received." + std::to_string(n) + ".xml")); }
  std::string PackageFolder() const { return agent_ / "patches\\office\\12"; }
  bool DeploymentKeyExists() const {
    std::string value;
    return ReadViewString((std::string(reg_path::kOfficePatchData) + "\\731").c_str(), "FirstPromptTime", &value, 0) == 0;
  }
  bool TrackingFlow(DWORD* flow) const {
    return ReadDwordRegistryData(HKEY_LOCAL_MACHINE, reg_path::kTracking, "OfficeInstallFlow", flow) == 0;
  }
  bool UpdateUrlPresent(int is64) const {
    std::string value;
    return ReadViewString(reg_path::kClickToRunConfiguration, "UpdateURL", &value, is64) == 0;
  }

  std::string installer_;
  TempDir record_{"deploy_record"};
};

// An agent folder and a package whose names are outside ASCII (and, for the
// package, outside any ANSI code page).
class NonAsciiDeployment : public DeploymentFlow {
 protected:
  NonAsciiDeployment() : DeploymentFlow("Gr\xC3\xBC\xC3\x9F" "e", "\xE9\x80\x9A\xE9\x81\x93.exe") {}
};

}  // namespace

TEST_F(DeploymentFlow, SuccessThroughTheFirstAddressCleansUpAndTracks) {
  DWORD code = Run();
  EXPECT_EQ(code, 0u);

  // Extraction and one configure run, with the exact command lines.
  std::string calls = Calls();
  EXPECT_EQ(Count(calls, "/extract:\"" + PackageFolder() + "\" /quiet /norestart"), 1u) << calls;
  EXPECT_EQ(Count(calls, "/configure \"" + PackageFolder() + "\\configure.xml\""), 1u) << calls;

  std::string xml = Received(1);
  EXPECT_EQ(xml,
            "<Configuration>\r\n"
            "<Add Channel=\"Current\" OfficeClientEdition=\"64\" SourcePath=\"https://127.0.0.1:8383/store/office/12\" "
            "Version=\"16.0.17928.20114\">\r\n"
            "<Product ID=\"O365ProPlusRetail\">\r\n"
            "<Language ID=\"en-us\"/>\r\n"
            "</Product>\r\n</Add>\r\n"
            "<Updates Enabled=\"FALSE\" UpdatePath=\"https://127.0.0.1:8383/store/office/12\" "
            "Version=\"16.0.17928.20114\"/>\r\n"
            "<Display AcceptEULA=\"TRUE\" Level=\"None\"/>\r\n"
            "<Logging Name=\"OfficeSetup.txt\" Path=\"%temp%\"/>\r\n"
            "<Property Name=\"FORCEAPPSHUTDOWN\" Value=\"TRUE\"/>\r\n"
            "</Configuration>");

  DWORD flow = 0;
  EXPECT_TRUE(TrackingFlow(&flow));
  EXPECT_EQ(flow, 1u);
  DWORD when = 0;
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, reg_path::kTracking, "LastKQDataModifiedTime", &when), 0);
  EXPECT_GT(when, 1700000000u);
  EXPECT_FALSE(DeploymentKeyExists());
  EXPECT_FALSE(FileExists(PackageFolder()));
  EXPECT_FALSE(UpdateUrlPresent(0));
  EXPECT_FALSE(UpdateUrlPresent(1));
  EXPECT_FALSE(FileExists(agent_ / "data\\custom-patch-remarks.json"));
  std::string log = Log();
  EXPECT_NE(log.find("Installation succeeded. No need for old flow.\n"), std::string::npos);
  EXPECT_NE(log.find("KQTracking is Processed and added value for New Flow Success: 1\n"), std::string::npos);
  EXPECT_NE(log.find("Exit Code : 0\n"), std::string::npos);
  EXPECT_NE(log.find("Log close time: "), std::string::npos);
}

TEST_F(DeploymentFlow, FirstAddressAnswering17002EndsTheAttempts) {
  // Three distinct addresses; the first in byte order is 10.0.0.7.
  SeedAgentValue("ServerInfo", "RZServerFlatName", "srv-flat");
  SeedAgentValue("ServerInfo", "RZServerSecIPAddress", "10.0.0.7");
  PlaceInstaller("configure_exit=17002");
  EXPECT_EQ(Run(), 17002u);
  EXPECT_EQ(Count(Calls(), "/configure"), 1u);
  EXPECT_NE(Received(1).find("SourcePath=\"https://10.0.0.7:8383/store/office/12\""), std::string::npos);

  // Nothing counts as done: the state stays for the next run.
  DWORD flow = 0;
  EXPECT_FALSE(TrackingFlow(&flow));
  EXPECT_TRUE(DeploymentKeyExists());
  EXPECT_TRUE(FileExists(PackageFolder() + "\\setup.exe"));
  EXPECT_FALSE(UpdateUrlPresent(0));
  EXPECT_FALSE(UpdateUrlPresent(1));

  // The attempt's Office log was copied and its error entry logged.
  std::string log = Log();
  EXPECT_NE(log.find("Office installation failed with error code : 17002\n"), std::string::npos);
  EXPECT_NE(log.find("Error Code: 17002, Error Type: \"Failure\", Error Message: \"Setup failed\", SourcePath: "
                     "\"https://10.0.0.7:8383/store/office/12\""),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("log file copied successfully"), std::string::npos);
  EXPECT_NE(log.find("Exit Code : 17002\n"), std::string::npos);
}

TEST_F(DeploymentFlow, SetupResultsThatEndTheAttemptsOverTwoAddresses) {
  SeedAgentValue("ServerInfo", "RZServerSecIPAddress", "10.0.0.7");
  const struct {
    int setupExit;
    size_t setupRuns;
    DWORD exitCode;
  } cases[] = {
      {258, 1, 258}, {404, 1, 404}, {3010, 1, 0}, {17002, 1, 17002}, {17006, 1, 20001},
      {1603, 2, 1603},  // any other failure tries the next address
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setupExit);
    PlaceInstaller("configure_exit=" + std::to_string(c.setupExit));
    const size_t runsBefore = Count(Calls(), "/configure");
    EXPECT_EQ(Run(), c.exitCode);
    EXPECT_EQ(Count(Calls(), "/configure") - runsBefore, c.setupRuns);
  }
}

TEST_F(DeploymentFlow, AFailingAddressMovesOnToTheNext) {
  SeedAgentValue("ServerInfo", "RZServerSecIPAddress", "10.0.0.7");
  PlaceInstaller("configure_exits=1603,0");
  EXPECT_EQ(Run(), 0u);
  EXPECT_EQ(Count(Calls(), "/configure"), 2u);
  EXPECT_NE(Received(1).find("https://10.0.0.7:8383/"), std::string::npos);
  EXPECT_NE(Received(2).find("https://127.0.0.1:8383/"), std::string::npos);
  DWORD flow = 0;
  EXPECT_TRUE(TrackingFlow(&flow));
}

TEST_F(DeploymentFlow, UpdateChannelsComeBackAsTheyWereWhateverTheOutcome) {
  const RawRegistryValue missing;
  const RawRegistryValue number{true, REG_DWORD, std::string("\x02\x00\x00\x00", 4)};
  const RawRegistryValue texts{true, REG_MULTI_SZ, WideBytes(std::wstring(L"first\0second\0\0", 15))};
  const RawRegistryValue text{true, REG_SZ, WideBytes(std::wstring(L"http://cdn/32") + L'\0')};
  const struct {
    const char* what;
    const char* script;  // setup changes the channel in both views
    RawRegistryValue at64;
    RawRegistryValue at32;
  } cases[] = {
      {"success: a number, several texts", "update_channel=http://changed", number, texts},
      {"failure: missing, a text", "update_channel=http://changed\nconfigure_exit=17002", missing, text},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PlaceInstaller(c.script);
    PutRawValue(reg_path::kClickToRunConfiguration, L"UpdateChannel", c.at64, 1);
    PutRawValue(reg_path::kClickToRunConfiguration, L"UpdateChannel", c.at32, 0);
    const size_t runsBefore = Count(Calls(), "/configure");
    Run();
    ASSERT_EQ(Count(Calls(), "/configure"), runsBefore + 1);  // setup ran and changed them
    EXPECT_EQ(GetRawValue(reg_path::kClickToRunConfiguration, L"UpdateChannel", 1), c.at64);
    EXPECT_EQ(GetRawValue(reg_path::kClickToRunConfiguration, L"UpdateChannel", 0), c.at32);
  }
}

TEST_F(DeploymentFlow, AppsInUseBecomes20001) {
  PlaceInstaller("configure_exit=17006");
  EXPECT_EQ(Run(), 20001u);
  EXPECT_EQ(Count(Calls(), "/configure"), 1u);
  EXPECT_NE(Log().find("Exit Code : 20001\n"), std::string::npos);
}

TEST_F(DeploymentFlow, ProceedOldFlowDirectlySkipsTheServerStore) {
  writeValue(HKEY_LOCAL_MACHINE, reg_path::kOfficePatchData, "ProceedOldFlowDirectly", "1", REG_DWORD);
  Run();
  EXPECT_EQ(Count(Calls(), "/configure"), 0u);
  EXPECT_EQ(Count(Calls(), "/extract:"), 1u);
  DWORD flow = 0;
  EXPECT_FALSE(TrackingFlow(&flow));
  EXPECT_TRUE(DeploymentKeyExists());
}

TEST_F(DeploymentFlow, DirectDownloadLeavesTheSourceToMicrosoft) {
  SeedAgentValue("", "LastDirectDownloadState", "1", REG_DWORD);
  EXPECT_EQ(Run(), 0u);
  std::string xml = Received(1);
  EXPECT_EQ(xml.find("SourcePath"), std::string::npos) << xml;
  EXPECT_EQ(xml.find("UpdatePath"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<Add Channel=\"Current\" OfficeClientEdition=\"64\" Version=\"16.0.17928.20114\">"),
            std::string::npos);
  EXPECT_NE(Log().find("Direct download enabled. Cannot proceed with old flow.\n"), std::string::npos);
}

TEST_F(DeploymentFlow, InstalledLanguageNotSelectedStopsWith15050AndARemark) {
  SeedOffice("en-us,fr-fr");
  EXPECT_EQ(Run(), 15050u);
  EXPECT_EQ(Calls(), "");  // nothing extracted, nothing installed
  EXPECT_EQ(ReadFileBytes(agent_ / "data\\custom-patch-remarks.json"),
            "{\r\n\t\"custom_remarks\" : \"Configure Language Pack: fr-fr\"\r\n}\r\n");
  EXPECT_NE(Log().find("The Language Pack is not selected in the CTR Settings\n"), std::string::npos);
}

TEST_F(DeploymentFlow, NoConfigurationWrittenRunsNoSetupAndIsNoSuccess) {
  // No installed language: the language check passes, the writer refuses.
  SeedOffice("");
  SeedAgentValue("ServerInfo", "RZServerSecIPAddress", "10.0.0.7");
  EXPECT_EQ(Run(), 13u);
  EXPECT_EQ(Count(Calls(), "/extract:"), 1u);
  EXPECT_EQ(Count(Calls(), "/configure"), 0u);
  DWORD flow = 0;
  EXPECT_FALSE(TrackingFlow(&flow));
  EXPECT_TRUE(DeploymentKeyExists());
  std::string log = Log();
  // Each address is tried and fails the same way.
  EXPECT_EQ(Count(log, "Failed to get office languages.\n"), 2u) << log;
  EXPECT_EQ(Count(log, "Office installation failed with error code : 13\n"), 2u) << log;
  EXPECT_EQ(log.find("Installation succeeded"), std::string::npos);
  EXPECT_NE(log.find("Exit Code : 13\n"), std::string::npos);
}

TEST_F(DeploymentFlow, EmptyInstallerEndsWith2) {
  WriteFileBytes(agent_ / "patches\\office-12.exe", "");
  EXPECT_EQ(Run(), 2u);
  std::string log = Log();
  EXPECT_NE(log.find("File not found : " + agent_.path() + "\\\\patches\\office-12.exe\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Log close time: "), std::string::npos);
}

TEST_F(DeploymentFlow, FailingExtractionEndsWithItsOwnCode) {
  PlaceInstaller("extract_exit=1603");
  EXPECT_EQ(Run(), 1603u);
  EXPECT_EQ(Count(Calls(), "/configure"), 0u);
  EXPECT_NE(Log().find("Failed to extract office setup.\n"), std::string::npos);
  EXPECT_TRUE(DeploymentKeyExists());
}

TEST_F(DeploymentFlow, NoUsableServerAddressIsNoSuccess) {
  RemoveAgentValue("ServerInfo", "RZServerSecurePort");
  EXPECT_EQ(Run(), 1168u);
  EXPECT_EQ(Count(Calls(), "/configure"), 0u);
  DWORD flow = 0;
  EXPECT_FALSE(TrackingFlow(&flow));
  EXPECT_TRUE(DeploymentKeyExists());
  EXPECT_TRUE(FileExists(PackageFolder()));
}

TEST_F(DeploymentFlow, InvalidCommandLineStillReadsTheSettingsFirst) {
  EXPECT_EQ(Run("-pid 12 -ch Current"), 13u);
  std::string log = Log();
  EXPECT_NE(log.find("Office Installed Language: en-us\n"), std::string::npos);
  EXPECT_NE(log.find("Invalid arguments.\n"), std::string::npos);
  EXPECT_EQ(Calls(), "");
}

TEST_F(NonAsciiDeployment, WholeDeploymentKeepsEveryPathIntact) {
  EXPECT_EQ(Run("-pid 12 -ch Current -oce 64 -in " + installer_ + " -prid O365ProPlusRetail -v 16.0.17928.20114"), 0u);
  std::string calls = Calls();
  EXPECT_EQ(Count(calls, "/extract:\"" + PackageFolder() + "\" /quiet /norestart"), 1u) << calls;
  EXPECT_EQ(Count(calls, "/configure \"" + PackageFolder() + "\\configure.xml\""), 1u) << calls;
  DWORD flow = 0;
  EXPECT_TRUE(TrackingFlow(&flow));
  // The log is where the agent looks for it, and names the package as given.
  std::string log = Log();
  EXPECT_NE(log.find("Office Installer name : " + agent_.path() + "\\\\patches\\" + installer_ + "\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Exit Code : 0\n"), std::string::npos);
}

TEST_F(DeploymentFlow, InstallerNameOutsidePatchesIsRefusedBeforeAnythingRuns) {
  // A real program one level above patches: it must never be started.
  ASSERT_TRUE(CopyFileUtf8(BinPath("setup_standin.exe"), agent_ / "outside.exe"));
  WriteFileBytes(agent_ / "setup_standin.txt", "record_dir=" + record_.path() + "\n");
  EXPECT_EQ(Run("-pid 12 -ch Current -oce 64 -in ..\\outside.exe -prid O365ProPlusRetail -v 1.0"), 13u);
  EXPECT_EQ(Run("-pid 4294967297 -ch Current -oce 64 -in office-12.exe -prid O365ProPlusRetail -v 1.0"), 13u);
  EXPECT_EQ(Calls(), "");
  EXPECT_FALSE(FileExists(agent_ / "patches\\office\\1"));
  EXPECT_NE(Log().find("Invalid arguments.\n"), std::string::npos);
}
