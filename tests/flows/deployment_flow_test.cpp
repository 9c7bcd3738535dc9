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
  EXPECT_NE(ReadViewString(reg_path::kTracking, "InstalledOfficeVersion", &version, 0), 0);
  EXPECT_NE(log.find("Run summary : exit code 404 (the server's store has no package-file list, or not one of its "
                     "files); installed from : none; remark : Failed to download office patch meta json with error "
                     "code : 404; installed Office : not checked\n"),
            std::string::npos)
      << log;
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
    EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, reg_path::kTracking, "InstalledOfficeVerified", &verified), 0);
    EXPECT_EQ(verified, expectedVerified);
    std::string recorded;
    EXPECT_EQ(ReadViewString(reg_path::kTracking, "InstalledOfficeVersion", &recorded, 0), 0);
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
