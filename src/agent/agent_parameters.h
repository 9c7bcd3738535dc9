// The agent's settings, read once at start-up into one record.
//
// Start-up fills the record the driver owns; the driver hands each subsystem
// the part it needs, and no later module reads the agent's keys. Text fields
// are UTF-8. A value that may be missing from the registry is an
// std::optional: empty optional means "not there", which is different from a
// value that is present but empty.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "util/registry_paths.h"

using OptionalText = std::optional<std::string>;

// The management server, from the server key.
struct ServerEndpoint {
  std::string RZServerName;
  OptionalText RZServerInstalledTime;
  OptionalText RZServerFlatName;
  OptionalText RZServerIPAddress;
  OptionalText NotificationServerIP;
  // Two characters or fewer count as missing.
  OptionalText RZServerSecIPAddress;
  OptionalText RZLastAccessName;
  int RZServerPort = 0;
  OptionalText NotificationServerPort;
  // Plain port plus 363 when the registry has none.
  int RZServerSecurePort = 0;
  std::string RZServerProtocol = "http";
  // The port requests use: plain for "http", secure otherwise.
  int serverPort = 0;
};

// A distribution server (DS) standing in for the management server in a
// branch office. Only read when EnableDistributionServer is "yes"; otherwise
// the protocol and port follow the management server.
struct DistributionEndpoint {
  std::string DistributionServerName;
  OptionalText DistributionServerFlatName;
  OptionalText DistributionLastAccessName;
  int DistributionServerPort = 0;
  int DistributionServerSecurePort = 0;
  // May hold several addresses separated by commas.
  OptionalText DistributionServerIPAddress;
  // Three characters or fewer count as missing.
  OptionalText DistributionServerSecIPAddress;
  std::string DistributionServerProtocol = "http";
  int dsServerPort = 0;
  std::string closedNetwork = "false";
  int closedNetworkFlag = 0;
};

struct AgentParameters {
  // The root of the agent's keys the record is read from and written back
  // to; tests point it at keys of their own.
  std::string agentKey = reg_path::kAgent;

  ServerEndpoint server;
  DistributionEndpoint ds;

  // Agent installation folder; ends with a path separator.
  std::string RZAgentInstallDir;
  std::string AgentServiceName;
  std::string MSPName;
  std::string CustomerId;
  std::string RZProductCode = "RZEE";
  OptionalText RemoteOfficeName;
  OptionalText RemoteOfficeID;
  DWORD HTTPRequestTimeout = 60000;     // milliseconds
  DWORD HTTPConnectionTimeout = 30000;  // milliseconds
  // Kilobytes per second; 0 means unlimited, at most 8192.
  unsigned DataTransferRate_KBps = 1024;
  int dsRouteEnabled = 0;
  std::string RZAgentVersion;
  std::string CustomerName;
  DWORD DirectDownloadEnabled = 0;
  OptionalText InstallSource;
  OptionalText InstallMode;  // "2" silent, "5" manual
  DWORD BlockCrashedConfig = 0;
  DWORD ShutdownBlocked = 0;
  int EnableChecksum = 1;
  // "yes" (any case) when requests go through the agent proxy; "NO" otherwise.
  std::string ProxyEnabled = "NO";
  DWORD isFailOverDSEnabled = 0;
  // Set when the request dispatcher switches fail-over off for this run.
  bool failOverSwitchedOff = false;
  // "yes" (any case) when a distribution server serves this agent.
  std::string EnableDistributionServer;
  DWORD ImagedComputer = 0;
  DWORD FIPSModeEnabled = 0;
  int gv_compressionEnabled = 0;
  DWORD ServerRootCertificateInstalled = 0;
  DWORD DSRootCertificateInstalled = 0;
  // 1: server certificates must validate. The download handlers may switch
  // it off for the rest of the process.
  int strictCertificateMode = 0;
  OptionalText RZAgentResourceID;

  // Proxy, read only while ProxyEnabled is "yes".
  std::string ProxyUserName;
  std::string ProxyPassword;  // decoded
  std::string ProxyServerName;  // "host:port"
  std::string ProxyByPass = "<local>";
  int IsAutoProxyDetectionEnabled = 0;

  // Local machine, from the operating system. Address, MAC, mask and logon
  // server may stay empty (under Wine, or with no network).
  std::string gv_localComputerName;
  std::string localIPAddress;
  std::string localMACAddress;
  std::string localSubnetMask;
  std::string logonServer;
  // The machine's DNS domain, else its workgroup or NetBIOS domain; lower case.
  std::string clientNamespace;

  // "client-data/<customer id>/domains/<namespace>", lower case.
  std::string gv_clientDataPath;
  std::string tempFolder;
  std::string clientAuthDllPath;

  bool isWow64 = false;
  using Wow64RedirectionFn = BOOL(WINAPI*)(PVOID*);
  using Wow64RevertFn = BOOL(WINAPI*)(PVOID);
  Wow64RedirectionFn Wow64DisableWow64FsRedirection = nullptr;
  Wow64RevertFn Wow64RevertWow64FsRedirection = nullptr;

  std::wstring userAgent = L"KQHostAgent";
};

// Fills `params` from the agent's keys: 0 on success, 13 when a required
// value is missing, 10047 on an imaged computer (after the dump is logged).
// Writes back the repaired values: DataTransferRate_KBps, EnableDSRoute,
// DistributionLastAccessName and DistributionServerProtocol. Registers the
// proxy-change hook with the service name it read.
int InitializeAgentParameters(AgentParameters* params);

// The group readers start-up runs, each filling its part of `params`; each
// returns 0 or 13.
int InitializeServerDetailsFromRegistry(AgentParameters* params);
int InitializeDSServerDetailsFromRegistry(AgentParameters* params);
int InitializeLocalMachineDetails(AgentParameters* params);
int InitializeAgentDetails(AgentParameters* params);
int InitializeAgentDetailsEx(AgentParameters* params);

// Sets the wide user agent of every request from UTF-8 text.
void SetUserAgent(AgentParameters* params, const char* userAgent);

// Windows family from GetVersionExA: see OsFamilyFromVersion.
unsigned GetOsFamily();
int isVistaAndAbove();
int isWin7AndAbove();
int isWin7orWin8();

// The file store's port and addresses, read from the server key at the
// moment of use (a missing value reads as empty): the request dispatcher may
// switch routes during a run. The distribution server's values when
// EnableDistributionServer is "yes", else the management server's.
struct StoreServerValues {
  std::string securePort;
  std::string lastAccessName;
  std::string name;
  std::string flatName;
  std::string ipAddress;
  std::string secIpAddress;
};
StoreServerValues ReadStoreServerValues(const AgentParameters& params);

// Writers for the request dispatcher when it changes routes: each updates
// the caller's record and writes the registry value as text. Return the
// registry result.
LONG UpdateRZLastAccessName(AgentParameters* params, const std::string& name);
LONG UpdateDistributionServerIPAddress(AgentParameters* params, const std::string& address);
LONG UpdateDistributionLastAccessName(AgentParameters* params, const std::string& name);
// Also keeps the DWORD IsDSEnabled in the server key in step while fail-over
// is on (and not switched off in `params`): 1 for anything but "no",
// deleted for "no".
LONG UpdateEnableDistributionServer(AgentParameters* params, const std::string& value);

// --- the process-wide record (agent_parameters_record.cpp) ---
// The one record of the run. The driver owns it: it fills it at start-up and
// hands its parts down; nothing below the driver reads it.
AgentParameters& AgentParams();
// Puts the record back to its initial state (a fresh start-up in tests).
void ResetAgentParameters();

// The request engine calls NotifyProxyDetailsChanged when it learns that the
// proxy details changed; start-up registers the hook that asks the agent
// service to restart its on-demand process.
void RegisterProxyChangeHook(std::function<void()> hook);
void NotifyProxyDetailsChanged();

// Sends a user-defined control code to the service named `serviceName`
// through the service control manager. 0 on success, else the system error.
DWORD SendAgentServiceMessage(const std::string& serviceName, DWORD controlCode);
// The agent's control code: restart the on-demand process.
const DWORD kRestartOnDemandServiceMessage = 147;

// ProxyPassword is stored as the Base64 text (CryptoAPI's plain Base64, no
// header) of the UTF-8 password. Empty on malformed input.
std::string DecodeProxyPassword(const std::string& stored);
std::string EncodeProxyPassword(const std::string& password);

// --- pure pieces, exposed for tests ---
// A text value shorter than 4 characters, or missing, is "http".
std::string ProtocolOrHttp(const OptionalText& value);
// Plain port when the protocol is "http" (any case), else the secure port.
int EffectivePort(const std::string& protocol, int plainPort, int securePort);
// Secure port from its value, or plain port plus 363 when missing.
int SecurePortOr363(const OptionalText& value, int plainPort);
// A secondary address this short or shorter counts as missing.
OptionalText DropShortAddress(const OptionalText& value, size_t maxIgnoredLength);

struct TransferRateDecision {
  unsigned rate = 0;
  bool writeBack = false;  // write "%u" of rate to the registry
};
TransferRateDecision DecideTransferRate(const OptionalText& value);

struct ClosedNetworkDecision {
  bool closed = false;
  const char* message = nullptr;  // info line to log
};
ClosedNetworkDecision DecideClosedNetwork(const OptionalText& isDSRouteEnabled, const OptionalText& isDSOnlyRouteEnabled,
                                          const OptionalText& agentRouteEnabled);

// Whether the DS last access name must be replaced by the DS address: it is
// present and matches (any case) none of the DS address, name, flat name and
// secondary address.
bool DSLastAccessNeedsRepair(const DistributionEndpoint& ds);

// 0 5.0, 1 5.x, 2 6.0, 3 6.1, 4 6.2, 5 6.3, 6 10.0, 7 anything newer or
// unknown; all ones when the platform is not NT or the major version is 4 or
// below.
unsigned OsFamilyFromVersion(DWORD platformId, DWORD major, DWORD minor);
