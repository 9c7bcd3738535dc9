#include "transport/transfer_settings.h"

#include "agent/agent_parameters.h"
#include "agent/registry.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace {

std::wstring Wide(const std::string& utf8) { return ChangeUtf8ToWideStr(utf8.c_str()); }

bool RegistryFlag(const std::string& key, const char* name, DWORD wanted) {
  DWORD value = 0;
  if (ReadDwordRegistryData(HKEY_LOCAL_MACHINE, key.c_str(), name, &value) != ERROR_SUCCESS) return false;
  return wanted == 0 ? value != 0 : value == wanted;
}

// The folder named by the settings, else the system's, without separators
// at its end.
std::wstring TempFolderFor(const AgentParameters& params) {
  if (!params.tempFolder.empty()) return Wide(params.tempFolder);
  wchar_t path[MAX_PATH + 1] = L"";
  DWORD length = GetTempPathW(MAX_PATH + 1, path);
  std::wstring folder(path, length);
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  return folder;
}

ProxySettings ProxyFor(const AgentParameters& params) {
  ProxySettings proxy;
  proxy.enabled = EqualsNoCase(params.ProxyEnabled, "yes");
  proxy.server = Wide(params.ProxyServerName);
  proxy.bypass = Wide(params.ProxyByPass);
  proxy.user = Wide(params.ProxyUserName);
  proxy.password = Wide(params.ProxyPassword);
  return proxy;
}

std::string NameOrLastAccessed(const OptionalText& lastAccessName, const std::string& name) {
  const std::string last = lastAccessName.value_or("");
  return last.empty() ? name : last;
}

AgentServers ServersFor(const AgentParameters& params) {
  AgentServers servers;
  servers.distribution = EqualsNoCase(params.EnableDistributionServer, "yes");
  servers.managementName = NameOrLastAccessed(params.server.RZLastAccessName, params.server.RZServerName);
  servers.managementProtocol = params.server.RZServerProtocol;
  servers.managementPort = params.server.serverPort;
  servers.dsName = NameOrLastAccessed(params.ds.DistributionLastAccessName, params.ds.DistributionServerName);
  servers.dsProtocol = params.ds.DistributionServerProtocol;
  servers.dsPlainPort = params.ds.DistributionServerPort;
  servers.dsSecurePort = params.ds.DistributionServerSecurePort;
  servers.dsServerPort = params.ds.dsServerPort;
  return servers;
}

}  // namespace

TransferSettings TransferSettingsFor(const AgentParameters& params) {
  TransferSettings settings;
  settings.keys = reg_path::AgentKeys(params.agentKey);
  settings.userAgent = params.userAgent;
  settings.proxy = ProxyFor(params);
  settings.servers = ServersFor(params);
  settings.rateKBps = params.DataTransferRate_KBps;
  settings.blockMethod = RegistryFlag(settings.keys.agent, "isOldBitRateEnabled", 0);
  settings.resumable = RegistryFlag(settings.keys.settings, "DownloadMode", 1);
  settings.connectTimeoutMs = params.HTTPConnectionTimeout;
  settings.requestTimeoutMs = params.HTTPRequestTimeout;
  settings.tempFolder = TempFolderFor(params);
  settings.agentFolder = params.RZAgentInstallDir;
  settings.directDownload = params.DirectDownloadEnabled != 0;
  settings.closedNetwork = params.ds.closedNetworkFlag == 1;
  settings.strictCertificates = params.strictCertificateMode == 1;
  settings.customerId = params.CustomerId;
  settings.rootsInstalled = RootCertificateState{params.ServerRootCertificateInstalled,
                                                 params.DSRootCertificateInstalled};
  return settings;
}

TransferRunState TransferRunStateFor(const TransferSettings& settings) {
  TransferRunState run;
  run.roots = settings.rootsInstalled;
  run.dsServerPort = settings.servers.dsServerPort;
  return run;
}

bool StrictCertificatesNow(const TransferSettings& settings, const TransferRunState& run) {
  return settings.strictCertificates && !run.strictCertificatesOff;
}
