// Whole deployments of the real program under Wine: a seeded agent, the
// server's settings document, an installed Click-to-Run Office in both
// registry views, and an installer package that holds the setup stand-in.
#include <gtest/gtest.h>

#include "flows/deployment_fixture.h"

using namespace testing_support;

namespace {

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
            "<Add Channel=\"Current\" OfficeClientEdition=\"64\" SourcePath=\"" + StoreUrl() + "\" "
            "Version=\"16.0.17928.20114\">\r\n"
            "<Product ID=\"O365ProPlusRetail\">\r\n"
            "<Language ID=\"en-us\"/>\r\n"
            "</Product>\r\n</Add>\r\n"
            "<Updates Enabled=\"FALSE\" UpdatePath=\"" + StoreUrl() + "\" "
            "Version=\"16.0.17928.20114\"/>\r\n"
            "<Display AcceptEULA=\"TRUE\" Level=\"None\"/>\r\n"
            "<Logging Name=\"OfficeSetup.txt\" Path=\"%temp%\"/>\r\n"
            "<Property Name=\"FORCEAPPSHUTDOWN\" Value=\"TRUE\"/>\r\n"
            "</Configuration>");

  DWORD flow = 0;
  EXPECT_TRUE(TrackingFlow(&flow));
  EXPECT_EQ(flow, 1u);
  DWORD when = 0;
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, kProgramKeys.tracking.c_str(), "LastKQDataModifiedTime", &when),
            0);
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
  // Two distinct addresses (127.0.0.2 answers 404 to everything); the
  // first in byte order is not the server name.
  SeedAgentValue("ServerInfo", "RZServerName", "127.0.0.2");
  PlaceInstaller("configure_exit=17002");
  // The package-file list flow follows and finds no list in the store.
  EXPECT_EQ(Run(), 404u);
  EXPECT_EQ(Count(Calls(), "/configure"), 1u);
  EXPECT_NE(Received(1).find("SourcePath=\"" + StoreUrl() + "\""), std::string::npos);

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
                     "\"" + StoreUrl() + "\""),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("log file copied successfully"), std::string::npos);
  EXPECT_NE(log.find("Proceeding with old office zip flow.\n"), std::string::npos);
  EXPECT_NE(log.find("Exit Code : 404\n"), std::string::npos);
  // A failed run checks nothing installed and says so in its closing line.
  std::string version;
  EXPECT_NE(ReadViewString(kProgramKeys.tracking.c_str(), "InstalledOfficeVersion", &version, 0), 0);
  EXPECT_NE(log.find("Run summary : exit code 404 (the server's store has no package-file list); installed from : "
                     "none; remark : Failed to download office patch meta json with error code : 404; installed "
                     "Office : not checked\n"),
            std::string::npos)
      << log;
}

TEST_F(DeploymentFlow, SetupResultsThatEndTheAttemptsOverTwoAddresses) {
  SeedAgentValue("ServerInfo", "RZServerSecIPAddress", "127.0.0.2");
  const struct {
    int setupExit;
    size_t setupRuns;
    DWORD exitCode;  // 404: the package-file list flow followed and found no list
  } cases[] = {
      {258, 1, 258}, {404, 1, 404}, {3010, 1, 0}, {17002, 1, 404}, {17006, 1, 20001},
      {1603, 2, 404},  // any other failure tries the next address
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
  SeedAgentValue("ServerInfo", "RZServerSecIPAddress", "127.0.0.2");
  PlaceInstaller("configure_exits=1603,0");
  EXPECT_EQ(Run(), 0u);
  EXPECT_EQ(Count(Calls(), "/configure"), 2u);
  EXPECT_NE(Received(1).find(StoreUrl()), std::string::npos);
  EXPECT_NE(Received(2).find(StoreUrl("127.0.0.2")), std::string::npos);
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
  writeValue(HKEY_LOCAL_MACHINE, kProgramKeys.officePatchData.c_str(), "ProceedOldFlowDirectly", "1", REG_DWORD);
  // Straight to the package-file list, which the store does not have.
  EXPECT_EQ(Run(), 404u);
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
  SeedAgentValue("ServerInfo", "RZServerSecIPAddress", "127.0.0.2");
  // The package-file list flow that follows finds no list.
  EXPECT_EQ(Run(), 404u);
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
  // Nor for the package-file list.
  EXPECT_NE(ReadFileBytes(agent_ / "data\\custom-patch-remarks.json")
                .find("Failed to download office patch meta json with error code : 1168"),
            std::string::npos);
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

// What setup leaves behind is compared with what the run asked for; the
// exit code and the tracking flow stay those of setup's success either way.
class InstalledOfficeCheck : public DeploymentFlow {
 protected:
  void RunLeaving(const std::string& version, const std::string& rest, DWORD expectedVerified) {
    PlaceInstaller("installed_version=" + version + "\ninstalled_platform=x64\n" + rest);
    EXPECT_EQ(Run(), 0u);
    DWORD flow = 0;
    EXPECT_TRUE(TrackingFlow(&flow));
    EXPECT_EQ(flow, 1u);
    DWORD verified = 9;
    EXPECT_EQ(
        ReadDwordRegistryData(HKEY_LOCAL_MACHINE, kProgramKeys.tracking.c_str(), "InstalledOfficeVerified", &verified),
        0);
    EXPECT_EQ(verified, expectedVerified);
    std::string recorded;
    EXPECT_EQ(ReadViewString(kProgramKeys.tracking.c_str(), "InstalledOfficeVersion", &recorded, 0), 0);
    EXPECT_EQ(recorded, version);
    log_ = Log();
    EXPECT_LT(log_.find("Installed Office : version " + version + ", platform x64"), log_.find("Exit Code : 0\n"));
    EXPECT_NE(log_.find("Run summary : exit code 0 (success); installed from : the server's file store; remark : "
                        "none; installed Office : "),
              std::string::npos)
        << log_;
  }
  std::string log_;
};

TEST_F(InstalledOfficeCheck, WhatWasAskedForIsVerified) {
  RunLeaving("16.0.17928.20114", "installed_products=VisioProRetail,o365proplusretail\ninstalled_cultures=en-us", 1);
  EXPECT_NE(log_.find("installed Office : verified\n"), std::string::npos);
  EXPECT_EQ(log_.find("does not match"), std::string::npos);
}

TEST_F(InstalledOfficeCheck, AnOlderVersionLeftInPlaceIsAMismatch) {
  RunLeaving("16.0.17126.20132", "installed_products=O365ProPlusRetail", 0);
  EXPECT_NE(log_.find("Installed Office does not match the deployment : version asked 16.0.17928.20114, found "
                      "16.0.17126.20132\n"),
            std::string::npos);
  EXPECT_NE(log_.find("installed Office : not as asked (version)\n"), std::string::npos);
}
