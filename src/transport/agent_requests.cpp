#include "transport/agent_requests.h"

#include "agent/agent_parameters.h"
#include "agent/registry.h"
#include "log/agent_log.h"
#include "transport/request_engine.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace {

std::wstring Wide(const std::string& utf8) { return ChangeUtf8ToWideStr(utf8.c_str()); }

// The server requests go to now: the distribution server when one serves
// this agent, else the management server; the name last reached first.
Url CurrentServer(const TransferSettings& settings, const TransferRunState& run, const std::string& urlPath) {
  const AgentServers& servers = settings.servers;
  const bool ds = servers.distribution;
  Url url;
  url.host = Wide(ds ? servers.dsName : servers.managementName);
  url.scheme = Wide(ds ? servers.dsProtocol : servers.managementProtocol);
  url.port = ds ? run.dsServerPort : servers.managementPort;
  url.path = Wide(urlPath);
  return url;
}

}  // namespace

int InternetGetDataOnlyWithAddress(const TransferSettings& settings, TransferRunState* run, const Url& address,
                                   std::string* body) {
  RequestTarget target;
  target.url = address;
  target.kind = RequestKind::kGetData;
  target.proxy = settings.proxy;
  HttpRequestOptions options;
  return InternetGetRequest(settings, run, target, body, &options, /*bandwidth=*/false);
}

std::string validateDSIPAddress(const TransferSettings& settings, TransferRunState* run,
                                const std::string& addressList) {
  const AgentServers& servers = settings.servers;
  run->dsServerPort = EffectivePort(servers.dsProtocol, servers.dsPlainPort, servers.dsSecurePort);
  if (addressList.find(',') == std::string::npos) {
    LogInfo("validateDSIPAddress: DS IP is not having multiple ip address, hence returning from the function\n");
    return addressList;
  }
  // Every piece between commas, empty ones included, in order.
  std::string address;
  for (size_t start = 0, comma = 0; comma != std::string::npos; start = comma + 1) {
    comma = addressList.find(',', start);
    address = addressList.substr(start, comma - start);
    LogInfo("validateDSIPAddress: splitted string: %s\n", address.c_str());
    Url probe;
    probe.scheme = Wide(servers.dsProtocol);
    probe.host = Wide(address);
    probe.port = run->dsServerPort;
    probe.path = L"testfile.file";
    int result = InternetGetDataOnlyWithAddress(settings, run, probe, nullptr);
    if (result == 0 || result == 404) {
      LogInfo("DS ipaddress reached: %s\n", address.c_str());
      return address;
    }
    LogInfo("DS is not reachable, the last tried ip address will be set\n");
  }
  return address;
}

int CheckConnectivityWithProxyDisabled(const TransferSettings& settings, TransferRunState* run,
                                       const std::string& urlPath) {
  LogInfo("CheckConnectivityWithProxyDisabled: Checking Agent server connection without proxy enabled \n");
  RequestTarget target;
  target.url = CurrentServer(settings, *run, urlPath);
  target.kind = RequestKind::kGetData;
  HttpRequestOptions options;
  const int result = InternetGetRequest(settings, run, target, nullptr, &options, /*bandwidth=*/false);
  const bool failed = result == 400 || result == 12002 || result == 12005 || result == 12007 || result == 12029;
  LogInfo(failed ? "CheckConnectivityWithProxyDisabled: Server connection failure with proxy disabled.. updating the "
                   "registry value \n"
                 : "CheckConnectivityWithProxyDisabled: Server connected successfully with proxy disabled.. updating "
                   "the registry value \n");
  writeValue(HKEY_LOCAL_MACHINE, settings.keys.serverInfo.c_str(), "ConnectWithoutProxy", failed ? "no" : "yes",
             REG_SZ);
  return result;
}

int InternetDownloadFileIfmodifiedSince(const TransferSettings& settings, TransferRunState* run,
                                        const std::string& urlPath, const std::string& destination,
                                        const std::string& valueName, int /*strict*/) {
  std::string stored;
  if (ReadRegSZ(HKEY_LOCAL_MACHINE, settings.keys.ifModifiedSince.c_str(), valueName.c_str(), &stored) !=
          ERROR_SUCCESS ||
      stored.empty()) {
    stored.clear();
    LogInfo("If Modified Since variable is empty\n");
  }
  RequestTarget target;
  target.url = CurrentServer(settings, *run, urlPath);
  target.proxy = settings.proxy;
  target.destination = Wide(destination);
  target.kind = RequestKind::kDownloadFile;
  HttpRequestOptions options;
  // The dispatcher marks its requests to the distribution server.
  options.reportingServer = settings.servers.distribution;
  options.ifModifiedSinceEnabled = true;
  options.lastModified = Wide(stored);
  int result = InternetGetRequest(settings, run, target, nullptr, &options, settings.rateKBps != 0);
  if (result == 0) {
    writeValue(HKEY_LOCAL_MACHINE, settings.keys.ifModifiedSince.c_str(), valueName.c_str(),
               ChangeWideToUtf8Str(options.lastModifiedOut).c_str(), REG_SZ);
  } else {
    LogError("InternetDownloadFileIfmodifiedSince: downloadfile is not success, hence if-modified-since is not "
             "updated in registry\n");
  }
  return result;
}
