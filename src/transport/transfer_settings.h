// The settings every transfer of a run works with, taken once from the
// agent's settings at start-up and handed down, and the little that changes
// while the run goes, which the caller owns and lends by pointer.
#pragma once

#include <windows.h>

#include <string>

#include "cert/root_certificates.h"
#include "util/registry_paths.h"

struct AgentParameters;

// The agent's proxy, and whether requests go through it.
struct ProxySettings {
  bool enabled = false;
  std::wstring server;  // "host:port"
  std::wstring bypass;
  std::wstring user;
  std::wstring password;  // decoded
};

// The servers the agent's own requests go to: its distribution server (DS)
// when one serves this agent, else its management server.
struct AgentServers {
  bool distribution = false;  // EnableDistributionServer is "yes"
  // The name last reached, else the server's name.
  std::string managementName;
  std::string managementProtocol;
  int managementPort = 0;  // the port requests use
  std::string dsName;
  std::string dsProtocol;
  // As the agent stores them; the address check derives the port from them.
  int dsPlainPort = 0;
  int dsSecurePort = 0;
  int dsServerPort = 0;  // the port requests use, as start-up found it
};

struct TransferSettings {
  // The agent's keys: the resumable downloads' records, the tracking values,
  // the certificates' state, the stored If-Modified-Since times.
  reg_path::AgentKeys keys;
  // Passed to WinHttpOpen unless a request names its own.
  std::wstring userAgent = L"KQHostAgent";
  ProxySettings proxy;
  AgentServers servers;
  // DataTransferRate_KBps; 0 means no limit.
  unsigned rateKBps = 0;
  // isOldBitRateEnabled: blocks, each its own ranged request, instead of
  // windows inside one answer.
  bool blockMethod = false;
  // DownloadMode 1: file downloads go through the resumable path.
  bool resumable = false;
  // HTTPConnectionTimeout and HTTPRequestTimeout, for get-data requests.
  DWORD connectTimeoutMs = 30000;
  DWORD requestTimeoutMs = 60000;
  // Where get-data bodies and their temporary files go.
  std::wstring tempFolder;
  // RZAgentInstallDir, ending with a separator: the transfer logs and the
  // resumable downloads' repository live under it. Empty while unknown.
  std::string agentFolder;
  // DirectDownloadEnabled: the size check of an open-ended body matches the
  // other way round.
  bool directDownload = false;
  // A closed network: every secure request carries a client certificate.
  bool closedNetwork = false;
  // Server certificates must validate (strictCertificateMode 1) at start.
  bool strictCertificates = false;
  // Names the DS root certificate's folder on the server.
  std::string customerId;
  // The root certificates' installed flags as start-up found them.
  RootCertificateState rootsInstalled;
  // A body without a length stops before the volume's free space falls
  // below this.
  unsigned long long diskReserveBytes = 512ULL * 1024 * 1024;
  // A body that brings fewer than slowMinBytes in slowWindowMs (pacing
  // pauses not counted) has stalled, as if it timed out.
  DWORD slowWindowMs = 60000;
  unsigned slowMinBytes = 1024;
};

// What changes during a run, kept apart from the settings it started with.
struct TransferRunState {
  // The store downloads accept certificates that fail validation from the
  // first one on, for the rest of the run.
  bool strictCertificatesOff = false;
  // The installed flags as the certificate recovery resets and sets them.
  RootCertificateState roots;
  // The DS port, as the check of its addresses last set it.
  int dsServerPort = 0;
  // Bytes announced by every download recorded in this run so far.
  unsigned long long downloadedBytes = 0;
};

// The settings of the agent's record, with the DownloadMode and
// isOldBitRateEnabled values of the registry as they stand now.
TransferSettings TransferSettingsFor(const AgentParameters& params);
// The state a run starts with.
TransferRunState TransferRunStateFor(const TransferSettings& settings);
// Whether server certificates must validate now.
bool StrictCertificatesNow(const TransferSettings& settings, const TransferRunState& run);
