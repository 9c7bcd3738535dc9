// Every registry key the program reads or writes, under HKEY_LOCAL_MACHINE.
// One spelling each, so a search finds every user of a key.
#pragma once

#include <string>

namespace reg_path {

// The root of the agent's own keys. The program's code is handed its keys as
// an AgentKeys value; a test hands in a root of its own and runs beside
// other tests.
inline constexpr char kAgent[] = "SOFTWARE\\Varnholt\\Plexmoor\\RZAgent";

// Office's own Click-to-Run values.
inline constexpr char kClickToRunConfiguration[] = "SOFTWARE\\Microsoft\\Office\\ClickToRun\\Configuration";
inline constexpr char kClickToRunInventory[] = "SOFTWARE\\Microsoft\\Office\\ClickToRun\\Inventory\\Office\\16.0";

// The agent's keys under one root.
struct AgentKeys {
  explicit AgentKeys(const std::string& root = kAgent)
      : agent(root),
        serverInfo(root + "\\ServerInfo"),
        metadataVersions(root + "\\metadataVersions"),
        certificates(root + "\\Certificates"),
        systemDetails(root + "\\SystemDetails"),
        agentFeatures(root + "\\AgentFeatures"),
        settings(root + "\\Settings"),
        ifModifiedSince(root + "\\IfModifiedSince"),
        fileMetaData(root + "\\FileMetaData"),
        patch(root + "\\Patch"),
        officePatchData(root + "\\Patch\\OfficePatchData"),
        tracking(root + "\\KQTracking"),
        trackingWow64(Wow64View(root) + "\\KQTracking") {}
  std::string agent;
  std::string serverInfo;
  std::string metadataVersions;
  std::string certificates;
  std::string systemDetails;
  std::string agentFeatures;
  std::string settings;
  std::string ifModifiedSince;
  // The state of resumable downloads, one subkey per download.
  std::string fileMetaData;
  // The deployment's state: the patch key and the prompt state per deployment.
  std::string patch;
  std::string officePatchData;
  // The tracking values, also as a path of their own in the 32-bit view,
  // because a 32-bit process under WOW64 names the redirected key explicitly.
  std::string tracking;
  std::string trackingWow64;

 private:
  // "SOFTWARE\Wow6432Node\<rest>" for "SOFTWARE\<rest>".
  static std::string Wow64View(const std::string& root) {
    const size_t first = root.find('\\');
    return first == std::string::npos ? root : root.substr(0, first) + "\\Wow6432Node" + root.substr(first);
  }
};

}  // namespace reg_path
