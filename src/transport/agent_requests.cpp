#include "transport/agent_requests.h"

#include "agent/agent_parameters.h"
#include "agent/registry.h"
#include "log/agent_log.h"
#include "transport/request_engine.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace {

// The agent's proxy settings on a request target, when the proxy is on.
void ApplyAgentProxy(RequestTarget* target) {
  const AgentParameters& params = AgentParams();
  if (!EqualsNoCase(params.ProxyEnabled, "yes")) return;
  target->useProxy = true;
  target->proxyServer = ChangeUtf8ToWideStr(params.ProxyServerName.c_str());
  target->proxyBypass = ChangeUtf8ToWideStr(params.ProxyByPass.c_str());
  target->proxyUser = ChangeUtf8ToWideStr(params.ProxyUserName.c_str());
  target->proxyPassword = ChangeUtf8ToWideStr(params.ProxyPassword.c_str());
}

// The server requests go to now: the distribution server when one serves
// this agent, else the management server; the name last reached first.
// True for the distribution server.
bool ApplyCurrentServer(RequestTarget* target) {
  const AgentParameters& params = AgentParams();
  const bool ds = EqualsNoCase(params.EnableDistributionServer, "yes");
  std::string name = (ds ? params.ds.DistributionLastAccessName : params.server.RZLastAccessName).value_or("");
  if (name.empty()) name = ds ? params.ds.DistributionServerName : params.server.RZServerName;
  target->server = ChangeUtf8ToWideStr(name.c_str());
  target->protocol =
      ChangeUtf8ToWideStr((ds ? params.ds.DistributionServerProtocol : params.server.RZServerProtocol).c_str());
  target->port = ds ? params.ds.dsServerPort : params.server.serverPort;
  return ds;
}

}  // namespace

int InternetGetDataOnlyWithAddress(const std::string& address, const std::string& protocol, int port,
                                   const std::string& urlPath, std::string* body) {
  RequestTarget target;
  target.protocol = ChangeUtf8ToWideStr(protocol.c_str());
  target.server = ChangeUtf8ToWideStr(address.c_str());
  target.port = port;
  target.urlPath = ChangeUtf8ToWideStr(urlPath.c_str());
  target.requestType = kRequestGetData;
  ApplyAgentProxy(&target);
  HttpRequestOptions options;
  return InternetGetRequest(target, body, &options, false);
}

std::string validateDSIPAddress(const std::string& addressList) {
  AgentParameters& params = AgentParams();
  DistributionEndpoint& ds = params.ds;
  ds.dsServerPort = EffectivePort(ds.DistributionServerProtocol, ds.DistributionServerPort,
                                  ds.DistributionServerSecurePort);
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
    int result = InternetGetDataOnlyWithAddress(address, ds.DistributionServerProtocol, ds.dsServerPort,
                                                "testfile.file", nullptr);
    if (result == 0 || result == 404) {
      LogInfo("DS ipaddress reached: %s\n", address.c_str());
      return address;
    }
    LogInfo("DS is not reachable, the last tried ip address will be set\n");
  }
  return address;
}

int CheckConnectivityWithProxyDisabled(const std::string& urlPath) {
  LogInfo("CheckConnectivityWithProxyDisabled: Checking Agent server connection without proxy enabled \n");
  RequestTarget target;
  ApplyCurrentServer(&target);
  target.urlPath = ChangeUtf8ToWideStr(urlPath.c_str());
  target.requestType = kRequestGetData;
  HttpRequestOptions options;
  const int result = InternetGetRequest(target, nullptr, &options, false);
  const bool failed = result == 400 || result == 12002 || result == 12005 || result == 12007 || result == 12029;
  LogInfo(failed ? "CheckConnectivityWithProxyDisabled: Server connection failure with proxy disabled.. updating the "
                   "registry value \n"
                 : "CheckConnectivityWithProxyDisabled: Server connected successfully with proxy disabled.. updating "
                   "the registry value \n");
  writeValue(HKEY_LOCAL_MACHINE, reg_path::kServerInfo, "ConnectWithoutProxy", failed ? "no" : "yes", REG_SZ);
  return result;
}

int InternetDownloadFileIfmodifiedSince(const std::string& urlPath, const std::string& destination,
                                        const std::string& valueName, int /*strict*/) {
  std::string stored;
  if (ReadRegSZ(HKEY_LOCAL_MACHINE, reg_path::kIfModifiedSince, valueName.c_str(), &stored) != ERROR_SUCCESS ||
      stored.empty()) {
    stored.clear();
    LogInfo("If Modified Since variable is empty\n");
  }
  RequestTarget target;
  TransferContext context = AgentTransferContext();
  // The dispatcher marks its requests to the distribution server.
  context.reportingServer = ApplyCurrentServer(&target);
  ApplyAgentProxy(&target);
  target.urlPath = ChangeUtf8ToWideStr(urlPath.c_str());
  target.destination = ChangeUtf8ToWideStr(destination.c_str());
  target.requestType = kRequestDownloadFile;
  HttpRequestOptions options;
  options.ifModifiedSinceEnabled = true;
  options.lastModified = ChangeUtf8ToWideStr(stored.c_str());
  int result = InternetGetRequest(target, nullptr, &options, context.rateKBps != 0, context);
  if (result == 0) {
    writeValue(HKEY_LOCAL_MACHINE, reg_path::kIfModifiedSince, valueName.c_str(),
               ChangeWideToUtf8Str(options.lastModifiedOut).c_str(), REG_SZ);
  } else {
    LogError("InternetDownloadFileIfmodifiedSince: downloadfile is not success, hence if-modified-since is not "
             "updated in registry\n");
  }
  return result;
}
