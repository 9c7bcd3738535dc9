// Every registry key the program reads or writes, under HKEY_LOCAL_MACHINE.
// One spelling each, so a search finds every user of a key.
#pragma once

#include <string>

namespace reg_path {

// The agent's own keys.
inline constexpr char kAgent[] = "SOFTWARE\\Varnholt\\Plexmoor\\RZAgent";
inline constexpr char kServerInfo[] = "SOFTWARE\\Varnholt\\Plexmoor\\RZAgent\\ServerInfo";
inline constexpr char kMetadataVersions[] = "SOFTWARE\\Varnholt\\Plexmoor\\RZAgent\\metadataVersions";
inline constexpr char kCertificates[] = "SOFTWARE\\Varnholt\\Plexmoor\\RZAgent\\Certificates";
inline constexpr char kSystemDetails[] = "SOFTWARE\\Varnholt\\Plexmoor\\RZAgent\\SystemDetails";
inline constexpr char kAgentFeatures[] = "SOFTWARE\\Varnholt\\Plexmoor\\RZAgent\\AgentFeatures";
inline constexpr char kSettings[] = "SOFTWARE\\Varnholt\\Plexmoor\\RZAgent\\Settings";
inline constexpr char kIfModifiedSince[] = "SOFTWARE\\Varnholt\\Plexmoor\\RZAgent\\IfModifiedSince";
// The state of resumable downloads, one subkey per download.
inline constexpr char kFileMetaData[] = "SOFTWARE\\Varnholt\\Plexmoor\\RZAgent\\FileMetaData";

// The deployment's state: the patch key and the prompt state per deployment.
inline constexpr char kPatch[] = "SOFTWARE\\Varnholt\\Plexmoor\\RZAgent\\Patch";
inline constexpr char kOfficePatchData[] = "SOFTWARE\\Varnholt\\Plexmoor\\RZAgent\\Patch\\OfficePatchData";

// The tracking values, written as a path of their own because a 32-bit
// process under WOW64 names the redirected key explicitly.
inline constexpr char kTracking[] = "SOFTWARE\\Varnholt\\Plexmoor\\RZAgent\\KQTracking";
inline constexpr char kTrackingWow64[] = "SOFTWARE\\Wow6432Node\\Varnholt\\Plexmoor\\RZAgent\\KQTracking";

// Office's own Click-to-Run values.
inline constexpr char kClickToRunConfiguration[] = "SOFTWARE\\Microsoft\\Office\\ClickToRun\\Configuration";
inline constexpr char kClickToRunInventory[] = "SOFTWARE\\Microsoft\\Office\\ClickToRun\\Inventory\\Office\\16.0";

// The agent's keys the start-up reads, under one root: the program's root is
// kAgent; a test hands in a root of its own, so it runs beside other tests.
struct AgentKeys {
  explicit AgentKeys(const std::string& root)
      : agent(root),
        serverInfo(root + "\\ServerInfo"),
        certificates(root + "\\Certificates"),
        systemDetails(root + "\\SystemDetails"),
        agentFeatures(root + "\\AgentFeatures") {}
  std::string agent;
  std::string serverInfo;
  std::string certificates;
  std::string systemDetails;
  std::string agentFeatures;
};

}  // namespace reg_path
