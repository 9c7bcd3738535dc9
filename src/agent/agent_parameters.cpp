// Start-up of the agent parameters: the group readers, the routing rules, the
// values repaired in the registry and the dump in the agent log.
#include "agent/agent_parameters.h"

#include <cstdio>

#include "agent/agent_reading.h"
#include "agent/registry.h"
#include "log/agent_log.h"
#include "util/handles.h"
#include "util/raw_registry.h"
#include "util/registry_paths.h"
#include "util/text.h"

using agent_reading::ReadDword;
using agent_reading::ReadInstallFolder;
using agent_reading::ReadLoggedText;
using agent_reading::ReadText;
using agent_reading::Show;

namespace agent_reading {

OptionalText ReadText(const char* key, const char* name) {
  std::string value;
  if (ReadRegSZ(HKEY_LOCAL_MACHINE, key, name, &value) != ERROR_SUCCESS) return std::nullopt;
  return value;
}

OptionalText ReadLoggedText(const char* reader, const char* key, const char* name) {
  OptionalText value = ReadText(key, name);
  if (!value) LogError("%s : Unable to read %s from registry \n", reader, name);
  return value;
}

DWORD ReadDword(const char* key, const char* name, DWORD fallback) {
  DWORD value = fallback;
  if (ReadDwordRegistryData(HKEY_LOCAL_MACHINE, key, name, &value) != ERROR_SUCCESS) return fallback;
  return value;
}

const char* Show(const OptionalText& text) { return text ? text->c_str() : "(null)"; }

OptionalText ReadInstallFolder(const std::string& agentKey) {
  RawRegistryValue value;
  if (ReadRawRegistryValue(agentKey.c_str(), "RZAgentInstallDir", &value) != ERROR_SUCCESS) return std::nullopt;
  return FolderFromRegistryValue(value);
}

}  // namespace agent_reading

namespace {

const char kStars[] = "****************************************************************** \n";

bool IsYes(const std::string& text) { return EqualsNoCase(text, "yes"); }

std::string LowerThroughWide(const std::string& utf8) {
  std::wstring wide = ChangeUtf8ToWideStr(utf8.c_str());
  if (!wide.empty()) CharLowerBuffW(&wide[0], static_cast<DWORD>(wide.size()));
  return ChangeWideToUtf8Str(wide.c_str());
}

void DetermineWow64(AgentParameters& params) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (!kernel) return;
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
  params.Wow64DisableWow64FsRedirection = reinterpret_cast<AgentParameters::Wow64RedirectionFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
  params.Wow64RevertWow64FsRedirection = reinterpret_cast<AgentParameters::Wow64RevertFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")));
  BOOL wow64 = FALSE;
  if (isWow64Process && isWow64Process(GetCurrentProcess(), &wow64)) params.isWow64 = wow64 != FALSE;
}

std::string TempFolder() {
  wchar_t buffer[255] = L"";
  DWORD length = GetEnvironmentVariableW(L"TEMP", buffer, 255);
  if (length == 0 || length >= 255) return std::string();
  return ChangeWideToUtf8Str(std::wstring(buffer, length));
}

// The agent's resource id is written by several of its programs; the named
// mutex keeps a reader from seeing it half-written.
void ReadResourceId(AgentParameters& params) {
  int processId = static_cast<int>(GetCurrentProcessId());
  UniqueHandleNull mutex(CreateMutexA(nullptr, TRUE, "rzResourceId_Mutex"));
  DWORD createError = GetLastError();
  if (!mutex) {
    LogError("GetResourceID : Unable to create rzResourceId_Mutex, error %lu \n",
             static_cast<unsigned long>(createError));
  } else if (createError == ERROR_ALREADY_EXISTS) {
    LogInfo(" Waiting for releasing rzResourceId_Mutex - %d\n", processId);
    WaitForSingleObject(mutex.get(), INFINITE);  // an abandoned mutex is ours as well
    LogInfo("rzResourceId_Mutex released from another process - %d\n", processId);
  } else {
    LogInfo("rzResourceId_Mutex created successfully\n");
  }

  params.RZAgentResourceID = ReadText(reg_path::AgentKeys(params.agentKey).systemDetails.c_str(), "RZAgentResourceID");
  if (!params.RZAgentResourceID || params.RZAgentResourceID->empty()) {
    params.RZAgentResourceID.reset();
    LogInfo("GetResourceID : Unable to get the RZ Agent Resource ID from Registry , So trying to get the same from "
            "server .\n");
    LogInfo("GetResourceID : Skipping Resource ID retreving from server as no policy is currently running.\n");
  }

  if (mutex) {
    if (ReleaseMutex(mutex.get())) {
      LogInfo("ClearProcessMutex: rzResourceId_Mutex released successfully \n");
    } else {
      LogError("ClearProcessMutex: rzResourceId_Mutex cannot be released with the error %ld \n",
               static_cast<long>(GetLastError()));
    }
  }
}

void ApplyClosedNetworkRule(AgentParameters& params) {
  const char* key = params.agentKey.c_str();
  ClosedNetworkDecision decision = DecideClosedNetwork(ReadText(key, "IsDSRouteEnabled"),
                                                       ReadText(key, "IsDSOnlyRouteEnabled"),
                                                       ReadText(key, "AGENT_ROUTE_ENABLED"));
  params.ds.closedNetwork = decision.closed ? "true" : "false";
  params.ds.closedNetworkFlag = decision.closed ? 1 : 0;
  LogInfo("%s", decision.message);
}

void PrintParameterDump(const AgentParameters& p) {
  const ServerEndpoint& s = p.server;
  LogInfo(kStars);
  LogInfo("Plexmoor Server Name                -> %s \n", s.RZServerName.c_str());
  LogInfo("Plexmoor Server Flat Name           -> %s \n", Show(s.RZServerFlatName));
  LogInfo("Plexmoor Server IPAddress           -> %s \n", Show(s.RZServerIPAddress));
  LogInfo("Plexmoor Server Secondary IPAddress -> %s \n", Show(s.RZServerSecIPAddress));
  LogInfo("Plexmoor Last Access Name           -> %s \n", Show(s.RZLastAccessName));
  LogInfo("Plexmoor Server Port                -> %d \n", s.serverPort);
  LogInfo("Plexmoor Server Protocol            -> %s \n", s.RZServerProtocol.c_str());
  LogInfo("Plexmoor Agent Version              -> %s \n", p.RZAgentVersion.c_str());
  LogInfo("Plexmoor Agent InstallDir           -> %s \n", p.RZAgentInstallDir.c_str());
  LogInfo("Plexmoor Client Namespace           -> %s \n", p.clientNamespace.c_str());
  LogInfo("Plexmoor Server Data Path           -> %s \n", p.gv_clientDataPath.c_str());
  LogInfo("Plexmoor MSP Name\t           -> %s \n", p.MSPName.c_str());
  LogInfo("Plexmoor Customer Name\t           -> %s \n", p.CustomerName.c_str());
  LogInfo("Plexmoor Customer Id\t\t   -> %s \n", p.CustomerId.c_str());
  LogInfo("Plexmoor Product Code               -> %s \n", p.RZProductCode.c_str());
  LogInfo("Local Computer Name                       -> %s \n", p.gv_localComputerName.c_str());
  LogInfo("Local Computer IP Address                 -> %s \n", p.localIPAddress.c_str());
  LogInfo("Local Computer MAC Address                -> %s \n", p.localMACAddress.c_str());
  LogInfo("Local Computer Subnet Mask                -> %s \n", p.localSubnetMask.c_str());
  LogInfo("RZ Distribution Server Enabled            -> %s \n", p.EnableDistributionServer.c_str());
  LogInfo("The remote office name is                 -> %s \n", Show(p.RemoteOfficeName));
  LogInfo("Plexmoor Agent HTTP Request Timeout -> %d \n", static_cast<int>(p.HTTPRequestTimeout));
  LogInfo("Local Computer Domain controller          -> %s \n", p.logonServer.c_str());
  LogInfo("The Agent Machine Resource Id is given by -> %s \n", Show(p.RZAgentResourceID));
  LogInfo("Agent Checksum Enabled\t\t               -> %d \n", p.EnableChecksum);
  LogInfo("Agent Data Transfer Rate in KBps\t\t   -> %d \n", static_cast<int>(p.DataTransferRate_KBps));
  LogInfo("Agent Installation Source\t\t\t\t   -> %s \n", Show(p.InstallSource));
  LogInfo("Agent Installation Mode\t\t\t\t   -> %s (2-> silent, 5->Manual) \n", Show(p.InstallMode));
  LogInfo("Server Security Certificate Installed\t   -> %d (1-> yes, 0-> No) \n",
          static_cast<int>(p.ServerRootCertificateInstalled));
  if (s.NotificationServerIP && !s.NotificationServerIP->empty()) {
    LogInfo("Plexmoor Notification Server IP\t   -> %s \n", s.NotificationServerIP->c_str());
  }
  if (s.NotificationServerPort) {
    LogInfo("Plexmoor Notification Server Port   -> %s \n", s.NotificationServerPort->c_str());
  }
  LogInfo(kStars);
  if (IsYes(p.EnableDistributionServer)) {
    const DistributionEndpoint& d = p.ds;
    LogInfo("RZ Distribution Server  Name      \t\t\t-> %s \n", d.DistributionServerName.c_str());
    LogInfo("RZ Distribution Server  IPAddress \t\t\t-> %s \n", Show(d.DistributionServerIPAddress));
    LogInfo("RZ Distribution Server  Sec IPAddress         \t\t-> %s \n", Show(d.DistributionServerSecIPAddress));
    LogInfo("RZ Distribution Server  Port      \t\t\t-> %d \n", d.dsServerPort);
    LogInfo("RZ Distribution Server  Last Access Name\t\t-> %s \n", Show(d.DistributionLastAccessName));
    LogInfo("RZ Distribution Server  Protocol  \t\t\t-> %s \n", d.DistributionServerProtocol.c_str());
    LogInfo("Remote Office ID                          -> %s \n", Show(p.RemoteOfficeID));
    LogInfo(kStars);
  }
  // The proxy group is read only while the proxy is on.
  if (IsYes(p.ProxyEnabled)) {
    LogInfo("*********************************************************** \n");
    LogInfo("Proxy Server Name -> %s \n", p.ProxyServerName.c_str());
    LogInfo("Proxy UserName    -> %s \n", p.ProxyUserName.c_str());
    LogInfo("Proxy ByPass List -> %s \n", p.ProxyByPass.c_str());
    LogInfo("*********************************************************** \n");
  }
}

// Requests go to the DS as if it were the management server.
void ApplyDSRoute(AgentParameters& p) {
  p.server.RZServerName = p.ds.DistributionServerName;
  p.server.RZServerFlatName = p.ds.DistributionServerName;
  p.server.RZServerIPAddress = p.ds.DistributionServerIPAddress;
  if (p.ds.DistributionServerSecIPAddress) p.server.RZServerSecIPAddress = p.ds.DistributionServerSecIPAddress;
  p.server.RZLastAccessName = p.ds.DistributionLastAccessName;
  p.ProxyEnabled = "NO";
  LogInfo("Enable Distribution Server Route                       -> %d \n", p.dsRouteEnabled);
  LogInfo(kStars);
}

}  // namespace

void SetUserAgent(AgentParameters* params, const char* userAgent) {
  LogInfo("SetUserAgent : user agent is to be set as %s\n", userAgent ? userAgent : "");
  params->userAgent = ChangeUtf8ToWideStr(userAgent ? userAgent : "");
}

int InitializeServerDetailsFromRegistry(AgentParameters* out) {
  const char* reader = "InitializeServerDetailsFromRegistry";
  LogInfo("InitializeServerDetailsFromRegistry : Test AFW !!! \n");
  AgentParameters& params = *out;
  ServerEndpoint& s = params.server;
  const std::string serverInfo = reg_path::AgentKeys(params.agentKey).serverInfo;
  const char* key = serverInfo.c_str();

  OptionalText name = ReadLoggedText(reader, key, "RZServerName");
  if (!name) return 13;
  s.RZServerName = *name;
  s.RZServerInstalledTime = ReadLoggedText(reader, key, "RZServerInstalledTime");
  s.RZServerFlatName = ReadLoggedText(reader, key, "RZServerFlatName");
  s.RZServerIPAddress = ReadLoggedText(reader, key, "RZServerIPAddress");
  s.NotificationServerIP = ReadLoggedText(reader, key, "NotificationServerIP");
  s.RZServerSecIPAddress = DropShortAddress(ReadLoggedText(reader, key, "RZServerSecIPAddress"), 2);
  s.RZLastAccessName = ReadLoggedText(reader, key, "RZLastAccessName");
  OptionalText port = ReadLoggedText(reader, key, "RZServerPort");
  if (!port) return 13;
  s.RZServerPort = AtoiLike(port->c_str());
  s.NotificationServerPort = ReadLoggedText(reader, key, "NotificationServerPort");
  s.RZServerSecurePort = SecurePortOr363(ReadText(key, "RZServerSecurePort"), s.RZServerPort);
  s.RZServerProtocol = ProtocolOrHttp(ReadText(key, "RZServerProtocol"));
  s.serverPort = EffectivePort(s.RZServerProtocol, s.RZServerPort, s.RZServerSecurePort);
  return 0;
}

int InitializeDSServerDetailsFromRegistry(AgentParameters* out) {
  const char* reader = "InitializeDSServerDetailsFromRegistry";
  LogInfo("InitializeDSServerDetailsFromRegistry : Reading reporting server regsirty entries\n");
  AgentParameters& params = *out;
  DistributionEndpoint& d = params.ds;
  const std::string serverInfo = reg_path::AgentKeys(params.agentKey).serverInfo;
  const char* key = serverInfo.c_str();

  OptionalText name = ReadLoggedText(reader, key, "DistributionServerName");
  if (!name) return 13;
  d.DistributionServerName = *name;
  d.DistributionServerFlatName = ReadLoggedText(reader, key, "DistributionServerFlatName");
  d.DistributionLastAccessName = ReadLoggedText(reader, key, "DistributionLastAccessName");
  OptionalText port = ReadLoggedText(reader, key, "DistributionServerPort");
  if (!port) return 13;
  d.DistributionServerPort = AtoiLike(port->c_str());
  d.DistributionServerSecurePort = SecurePortOr363(ReadText(key, "DistributionServerSecurePort"),
                                                   d.DistributionServerPort);
  d.DistributionServerIPAddress = ReadLoggedText(reader, key, "DistributionServerIPAddress");
  d.DistributionServerSecIPAddress = DropShortAddress(ReadLoggedText(reader, key, "DistributionServerSecIPAddress"), 3);
  d.DistributionServerProtocol = ProtocolOrHttp(ReadText(key, "DistributionServerProtocol"));

  ApplyClosedNetworkRule(params);

  // A last access name that no longer names this DS (the DS was replaced or
  // re-addressed) would send requests to a machine that is not the DS.
  if (DSLastAccessNeedsRepair(d)) {
    LogInfo("InitializeDSServerDetailsFromRegistry: DS last access address ( %s ) is updated with different "
            "address... Assiging DS primary address as last access address \n",
            d.DistributionLastAccessName->c_str());
    if (d.DistributionServerIPAddress) {
      writeValue(HKEY_LOCAL_MACHINE, key, "DistributionLastAccessName",
                 d.DistributionServerIPAddress->c_str(), REG_SZ);
    }
    d.DistributionLastAccessName = ReadText(key, "DistributionLastAccessName");
  }

  // The DS always speaks the management server's protocol.
  writeValue(HKEY_LOCAL_MACHINE, key, "DistributionServerProtocol", params.server.RZServerProtocol.c_str(),
             REG_SZ);
  d.DistributionServerProtocol = ProtocolOrHttp(ReadText(key, "DistributionServerProtocol"));
  d.dsServerPort = EffectivePort(d.DistributionServerProtocol, d.DistributionServerPort,
                                 d.DistributionServerSecurePort);
  return 0;
}

int InitializeAgentDetailsEx(AgentParameters* out) {
  const char* reader = "InitializeAgentDetailsEx";
  LogDebug(" @@@@@@@@@@@@@ Inside InitializeAgentDetailsEx_AFW @@@@@@@@@@@@@ \n");
  AgentParameters& params = *out;
  const char* key = params.agentKey.c_str();

  OptionalText serviceName = ReadLoggedText(reader, key, "AgentServiceName");
  if (!serviceName) return 13;
  params.AgentServiceName = *serviceName;
  OptionalText msp = ReadLoggedText(reader, key, "MSPName");
  if (!msp) return 13;
  params.MSPName = *msp;
  OptionalText customerId = ReadText(key, "CustomerId");
  if (!customerId || customerId->empty()) {
    LogError("GetCustomerId: error while retrieving customerid\n");
    return 13;
  }
  params.CustomerId = *customerId;
  OptionalText productCode = ReadText(reg_path::AgentKeys(params.agentKey).serverInfo.c_str(), "RZProductCode");
  if (!productCode) {
    LogError("%s : Unable to read gv_rzProductCode from registry \n", reader);
    return 13;
  }
  params.RZProductCode = *productCode;
  OptionalText installDir = ReadInstallFolder(params.agentKey);
  if (!installDir) {
    LogError("%s : Unable to read %s from registry \n", reader, "RZAgentInstallDir");
    return 13;
  }
  params.RZAgentInstallDir = *installDir;

  params.RemoteOfficeName = ReadLoggedText(reader, key, "RemoteOfficeName");
  params.RemoteOfficeID = ReadLoggedText(reader, key, "RemoteOfficeID");
  params.HTTPRequestTimeout = ReadDword(key, "HTTPRequestTimeout", 60000);
  params.HTTPConnectionTimeout = ReadDword(key, "HTTPConnectionTimeout", 30000);

  TransferRateDecision rate = DecideTransferRate(ReadText(key, "DataTransferRate_KBps"));
  params.DataTransferRate_KBps = rate.rate;
  if (rate.writeBack) {
    // Keep the stored value in the range the agent's other programs accept.
    char text[16];
    snprintf(text, sizeof(text), "%u", rate.rate);
    writeValue(HKEY_LOCAL_MACHINE, key, "DataTransferRate_KBps", text, REG_SZ);
  }

  OptionalText dsRoute = ReadText(key, "EnableDSRoute");
  if (!dsRoute) {
    writeValue(HKEY_LOCAL_MACHINE, key, "EnableDSRoute", "no", REG_SZ);
    params.dsRouteEnabled = 0;
  } else {
    params.dsRouteEnabled = EqualsNoCase(*dsRoute, "yes") || EqualsNoCase(*dsRoute, "true") ? 1 : 0;
  }

  ReadResourceId(params);

  params.gv_clientDataPath =
      "client-data/" + LowerThroughWide(params.CustomerId) + "/domains/" + LowerThroughWide(params.clientNamespace);
  return 0;
}

int InitializeAgentDetails(AgentParameters* out) {
  const char* reader = "InitializeAgentDetails";
  AgentParameters& params = *out;
  const char* key = params.agentKey.c_str();
  SetUserAgent(out, "Plexmoor Agent");
  // A value the agent group misses is logged there and leaves its field at
  // the default; only the two below end start-up.
  InitializeAgentDetailsEx(out);

  OptionalText version = ReadLoggedText(reader, key, "RZAgentVersion");
  if (!version) return 13;
  params.RZAgentVersion = *version;
  OptionalText customerName = ReadLoggedText(reader, key, "CustomerName");
  if (!customerName) return 13;
  params.CustomerName = *customerName;

  params.DirectDownloadEnabled = ReadDword(key, "DirectDownloadEnabled", 0);
  params.InstallSource = ReadLoggedText(reader, key, "InstallSource");
  params.InstallMode = ReadLoggedText(reader, key, "InstallMode");
  params.BlockCrashedConfig = ReadDword(key, "BlockCrashedConfig", 0);
  LogInfo("InitializeAgentDetails : Some configuration is crashed (if value is one) : %d \n",
          static_cast<int>(params.BlockCrashedConfig));
  params.ShutdownBlocked = ReadDword(key, "ShutdownBlocked", 0);
  LogInfo("InitializeAgentDetails : BlockedShutdown value : %d \n", static_cast<int>(params.ShutdownBlocked));
  OptionalText checksum = ReadText(key, "EnableChecksum");
  params.EnableChecksum = !checksum || EqualsNoCase(*checksum, "yes") ? 1 : 0;
  return 0;
}

namespace {

// Steps 1 to 4 of start-up: the process's WOW64 state, the folders and the
// certificate flags. Nothing here ends start-up.
void ReadProcessAndCertificateValues(AgentParameters& params) {
  DetermineWow64(params);

  if (params.RZAgentInstallDir.empty()) params.RZAgentInstallDir = ReadInstallFolder(params.agentKey).value_or("");
  params.tempFolder = TempFolder();

  params.clientAuthDllPath = params.RZAgentInstallDir + "bin\\" + "ClientAuthHandler.dll";
  LogInfo("InitializeClientAuthDllPath : Clientauthhandler path ==> %s\n", params.clientAuthDllPath.c_str());

  const std::string certificates = reg_path::AgentKeys(params.agentKey).certificates;
  OptionalText strict = ReadText(certificates.c_str(), "sc_value");
  params.strictCertificateMode = strict && *strict == "1" ? 1 : 0;
  params.ServerRootCertificateInstalled = ReadDword(certificates.c_str(), "ServerRootCertificateInstalled", 0);
  params.DSRootCertificateInstalled = ReadDword(certificates.c_str(), "DSRootCertificateInstalled", 0);
}

// The install folder again, the management server and, when one serves this
// agent, the distribution server: 0 or 13.
int ReadServerGroups(AgentParameters& params) {
  OptionalText installDir = ReadInstallFolder(params.agentKey);
  if (!installDir) {
    LogError("InitializeAgentDetails : Error occured while retrieving the local computer name !!! \n");
    return 13;
  }
  params.RZAgentInstallDir = *installDir;

  if (InitializeServerDetailsFromRegistry(&params) != 0) {
    LogError("InitializeAgentParameters : Error while fetching Server details from registry! \n");
    return 13;
  }

  params.isFailOverDSEnabled = ReadDword(params.agentKey.c_str(), "isFailOverDSEnabled", 0);
  if (params.isFailOverDSEnabled == 1) LogInfo("InitializeAgentParameters: FailOverDS Enabled..\n");

  OptionalText dsEnabled = ReadText(params.agentKey.c_str(), "EnableDistributionServer");
  if (!dsEnabled) {
    LogError("InitializeAgentParameters : Error while fetching Master Agent entry from registry! \n");
    return 13;
  }
  params.EnableDistributionServer = *dsEnabled;
  if (!IsYes(params.EnableDistributionServer)) {
    params.ds.DistributionServerProtocol = params.server.RZServerProtocol;
    params.ds.dsServerPort = params.server.serverPort;
  } else if (InitializeDSServerDetailsFromRegistry(&params) != 0) {
    LogError("InitializeAgentParameters : Error while fetching DS Server details from registry! \n");
    return 13;
  }
  return 0;
}

// The local machine, the proxy and the agent group: 0 or 13.
int ReadMachineProxyAndAgent(AgentParameters& params) {
  if (InitializeLocalMachineDetails(&params) != 0) {
    LogError("InitializeAgentParameters : Error while the local machine details ! \n");
    return 13;
  }

  const reg_path::AgentKeys keys(params.agentKey);
  params.ProxyEnabled = ReadText(keys.agent.c_str(), "ProxyEnabled").value_or("NO");
  if (IsYes(params.ProxyEnabled)) {
    // The transport writes ConnectWithoutProxy once it found that the server
    // is only reachable directly.
    if (IsYes(ReadText(keys.serverInfo.c_str(), "ConnectWithoutProxy").value_or("no"))) params.ProxyEnabled = "NO";
  }
  int proxyResult = IsYes(params.ProxyEnabled) ? agent_reading::ReadProxyDetails(params) : 0;
  if (proxyResult != 0 || InitializeAgentDetails(&params) != 0) {
    LogError("InitializeAgentParameters : Error while the Agent details ! \n");
    return 13;
  }
  return 0;
}

// The flags read after the dump: FIPS mode, compression and the closed
// network hint. Each is logged; none ends start-up.
void ReadFeatureFlags(AgentParameters& params) {
  const reg_path::AgentKeys keys(params.agentKey);
  DWORD fips = 0;
  if (ReadDwordRegistryData(HKEY_LOCAL_MACHINE, keys.agent.c_str(), "FIPSModeEnabled", &fips) != ERROR_SUCCESS) {
    fips = 0;
    LogError("InitializeAgentParameters :Failed to read FIPSModeEnabled Reg key..\n");
  }
  params.FIPSModeEnabled = fips;
  if (fips == 1) LogInfo("InitializeAgentParameters : FIPS mode enabled.\n");

  DWORD compression = 0;
  if (ReadDwordRegistryData(HKEY_LOCAL_MACHINE, keys.agentFeatures.c_str(), "CompressionEnable", &compression) !=
      ERROR_SUCCESS) {
    params.gv_compressionEnabled = 0;
    LogInfo("gv_compressionEnabled is set as false (default)\n");
  } else if (compression == 1) {
    params.gv_compressionEnabled = 1;
    LogInfo("gv_compressionEnabled is set as true\n");
  } else {
    params.gv_compressionEnabled = 0;
    LogInfo("gv_compressionEnabled is set as false\n");
  }

  OptionalText closedHint = ReadText(keys.agent.c_str(), "IsDSRouteEnabled");
  if (closedHint) {
    if (EqualsNoCase(*closedHint, "true")) {
      LogInfo("IsDSRouteEnabled :true, Server is present in a closed network\n");
    } else {
      LogInfo("IsDSRouteEnabled :false \n");
    }
  }
}

}  // namespace

int InitializeAgentParameters(AgentParameters* out) {
  LogDebug("@@@@@@@ Inside InitializeAgentParameters Method @@@@@@@@ \n");
  AgentParameters& params = *out;
  ReadProcessAndCertificateValues(params);
  if (ReadServerGroups(params) != 0 || ReadMachineProxyAndAgent(params) != 0) return 13;

  // The hook outlives start-up; it keeps the service name it was given.
  const std::string serviceName = params.AgentServiceName;
  RegisterProxyChangeHook([serviceName] { agent_reading::OnProxyDetailsChanged(serviceName); });

  PrintParameterDump(params);

  if (IsYes(params.EnableDistributionServer) && params.dsRouteEnabled == 1) ApplyDSRoute(params);

  params.ImagedComputer = ReadDword(params.agentKey.c_str(), "ImagedComputer", 0);
  if (params.ImagedComputer == 1) {
    LogInfo("InitializeAgentParameters : Computer is detected as imaged One .. \n");
    return 10047;
  }
  LogInfo("InitializeAgentParameters : Computer is not an imaged one .. \n");

  ReadFeatureFlags(params);

  LogDebug("@@@@@@@@ End Of InitializeAgentParameters Method @@@@@@@@ \n");
  return 0;
}

LONG UpdateRZLastAccessName(AgentParameters* params, const std::string& name) {
  params->server.RZLastAccessName = name;
  return writeValue(HKEY_LOCAL_MACHINE, reg_path::AgentKeys(params->agentKey).serverInfo.c_str(), "RZLastAccessName",
                    name.c_str(), REG_SZ);
}

LONG UpdateDistributionServerIPAddress(AgentParameters* params, const std::string& address) {
  params->ds.DistributionServerIPAddress = address;
  return writeValue(HKEY_LOCAL_MACHINE, reg_path::AgentKeys(params->agentKey).serverInfo.c_str(),
                    "DistributionServerIPAddress", address.c_str(), REG_SZ);
}

LONG UpdateDistributionLastAccessName(AgentParameters* params, const std::string& name) {
  params->ds.DistributionLastAccessName = name;
  return writeValue(HKEY_LOCAL_MACHINE, reg_path::AgentKeys(params->agentKey).serverInfo.c_str(),
                    "DistributionLastAccessName", name.c_str(), REG_SZ);
}

StoreServerValues ReadStoreServerValues(const AgentParameters& params) {
  const bool distribution = IsYes(params.EnableDistributionServer);
  const std::string serverInfo = reg_path::AgentKeys(params.agentKey).serverInfo;
  auto read = [distribution, &serverInfo](const char* management, const char* distributionName) {
    std::string value;
    if (ReadViewString(serverInfo.c_str(), distribution ? distributionName : management, &value, 0) !=
        ERROR_SUCCESS) {
      value.clear();
    }
    return value;
  };
  StoreServerValues values;
  values.securePort = read("RZServerSecurePort", "DistributionServerSecurePort");
  values.lastAccessName = read("RZLastAccessName", "DistributionLastAccessName");
  values.name = read("RZServerName", "DistributionServerName");
  values.flatName = read("RZServerFlatName", "DistributionServerFlatName");
  values.ipAddress = read("RZServerIPAddress", "DistributionServerIPAddress");
  values.secIpAddress = read("RZServerSecIPAddress", "DistributionServerSecIPAddress");
  return values;
}

LONG UpdateEnableDistributionServer(AgentParameters* out, const std::string& value) {
  AgentParameters& params = *out;
  params.EnableDistributionServer = value;
  const reg_path::AgentKeys keys(params.agentKey);
  LONG rc = writeValue(HKEY_LOCAL_MACHINE, keys.agent.c_str(), "EnableDistributionServer", value.c_str(), REG_SZ);
  if (params.isFailOverDSEnabled == 1 && !params.failOverSwitchedOff) {
    if (EqualsNoCase(value, "no")) {
      deleteValue(HKEY_LOCAL_MACHINE, keys.serverInfo.c_str(), "IsDSEnabled");
    } else {
      writeValue(HKEY_LOCAL_MACHINE, keys.serverInfo.c_str(), "IsDSEnabled", "1", REG_DWORD);
    }
  }
  return rc;
}

unsigned GetOsFamily() {
  OSVERSIONINFOA version;
  ZeroMemory(&version, sizeof(version));
  version.dwOSVersionInfoSize = sizeof(version);  // the 156-byte record
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
  BOOL ok = GetVersionExA(&version);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  if (!ok) {
    LogError("GetOsFamily : Unable to find the OSVersion , Errorcode %d \n", static_cast<int>(GetLastError()));
    return 1;
  }
  unsigned family = OsFamilyFromVersion(version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion);
  if (family == 0xFFFFFFFFu) LogError("GetOsFamily :The windows is unable to found . \n");
  return family;
}

int isVistaAndAbove() {
  bool yes = GetOsFamily() >= 2u;
  LogDebug(yes ? "isVistaAndAbove : TRUE\n" : "isVistaAndAbove : FALSE\n");
  return yes ? 1 : 0;
}

int isWin7AndAbove() {
  bool yes = GetOsFamily() >= 3u;
  LogDebug(yes ? "isWin7AndAbove : TRUE\n" : "isWin7AndAbove : FALSE\n");
  return yes ? 1 : 0;
}

int isWin7orWin8() {
  unsigned family = GetOsFamily();
  bool yes = family == 3u || family == 4u;
  LogDebug(yes ? "isWin7orWin8 : TRUE\n" : "isWin7orWin8 : FALSE\n");
  return yes ? 1 : 0;
}
