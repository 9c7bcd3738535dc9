// The fixture of whole deployments of the real program under Wine: a seeded
// agent, the server's settings document, an installed Click-to-Run Office in
// both registry views, an installer package that holds the setup stand-in,
// and the test servers' nginx as the server's file store.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/registry.h"
#include "support/agent_program_test.h"
#include "support/servers.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace testing_support {


inline const char kChannel[] = "http://officecdn.microsoft.com/pr/492350f6-3a01-4f97-b9c0-c7c6ddf67d60";
// The program copy is named like the agent names it: the number before the
// first "-" names the deployment key and the Office log folder.
inline const char kProgram[] = "731-OfficeInstaller.exe";
inline const char kArgs[] = "-pid 12 -ch Current -oce 64 -in office-12.exe -prid O365ProPlusRetail -v 16.0.17928.20114";

inline size_t Count(const std::string& text, const std::string& what) {
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
    // The store is nginx: the package-file list flow that follows a failed
    // store installation gets quick answers (404 for a list that is not
    // there) instead of connection failures, each retried after a pause.
    SeedAgentValue("ServerInfo", "RZServerSecurePort", std::to_string(Servers().nginxHttps));
    MakeDirs(agent_ / "data");
    ASSERT_TRUE(CopyFileUtf8(BinPath("OfficeInstaller.exe"), agent_ / kProgram));
    WriteSettings({"en-us"});
    SeedOffice("en-us");
    PlaceInstaller("");
    // Prompt state of an earlier run of this deployment.
    writeValue(HKEY_LOCAL_MACHINE, (kProgramKeys.officePatchData + "\\731").c_str(), "FirstPromptTime", "100", REG_SZ);
  }
  // The settings document: the selected languages and the install mode.
  void WriteSettings(const std::vector<std::string>& selected, int howToInstall = 1) {
    std::string xml = "<?xml version=\"1.0\"?>\n<office-ctr-settings>\n";
    int id = 1;
    for (const std::string& culture : selected) {
      xml += "<O365Languages language_id=\"" + std::to_string(id) + "\" o365_abbreviation=\"" + culture + "\"/>\n";
      xml += "<O365CTRLanguages language_id=\"" + std::to_string(id) + "\"/>\n";
      ++id;
    }
    xml += "<O365CTRSettings how_to_install=\"" + std::to_string(howToInstall) + "\"/>\n</office-ctr-settings>\n";
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
  std::string PackageFolder(int patchId = 12) const { return agent_ / ("patches\\office\\" + std::to_string(patchId)); }
  // The store's folder for a patch, as the program's source.
  static std::string StoreUrl(const std::string& address = "127.0.0.1", int patchId = 12) {
    return "https://" + address + ":" + std::to_string(Servers().nginxHttps) + "/store/office/" + std::to_string(patchId);
  }
  bool DeploymentKeyExists() const {
    std::string value;
    return ReadViewString((kProgramKeys.officePatchData + "\\731").c_str(), "FirstPromptTime", &value, 0) == 0;
  }
  bool TrackingFlow(DWORD* flow) const {
    return ReadDwordRegistryData(HKEY_LOCAL_MACHINE, kProgramKeys.tracking.c_str(), "OfficeInstallFlow", flow) == 0;
  }
  bool UpdateUrlPresent(int is64) const {
    std::string value;
    return ReadViewString(reg_path::kClickToRunConfiguration, "UpdateURL", &value, is64) == 0;
  }

  std::string installer_;
  TempDir record_{"deploy_record"};
};

}  // namespace testing_support
