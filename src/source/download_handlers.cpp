#include "source/download_handlers.h"

#include <cstdio>
#include <cstdlib>

#include "agent/agent_parameters.h"
#include "agent/registry.h"
#include "log/agent_log.h"
#include "transport/request_engine.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace {

// The store accepts any session cookie; this one names no session.
const char kDefaultCookie[] = "RZSESSION=none";

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r\n";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::wstring Wide(const std::string& utf8) { return ChangeUtf8ToWideStr(utf8.c_str()); }

// Cuts the text where `key` begins, one character before it.
void CutAtKey(std::string* path, const char* key) {
  size_t at = path->find(key);
  if (at == std::string::npos) return;
  path->erase(at == 0 ? 0 : at - 1);
}

// "--" when the store's hash time is missing or 0, else its decimal text.
std::string ServerHashTime() {
  DWORD value = 0;
  if (ReadDwordRegistryData(HKEY_LOCAL_MACHINE, reg_path::kMetadataVersions, "ServerHashTime", &value) !=
          ERROR_SUCCESS ||
      value == 0) {
    return "--";
  }
  std::string text = std::to_string(value);
  LogInfo("server hash id is %S\n", Wide(text).c_str());
  return text;
}

}  // namespace

SplitUrl SplitDownloadUrl(const std::string& url) {
  SplitUrl split;
  split.protocol = url.substr(0, url.find(':'));
  size_t slashes = url.find("//");
  const size_t hostStart = slashes == std::string::npos ? 1 : slashes + 2;
  size_t hostEnd = hostStart < url.size() ? url.find('/', hostStart) : std::string::npos;
  const std::string host = hostStart < url.size() ? url.substr(hostStart, hostEnd == std::string::npos
                                                                             ? std::string::npos
                                                                             : hostEnd - hostStart)
                                                  : std::string();
  size_t colon = host.find(':');
  if (colon != std::string::npos) {
    split.server = host.substr(0, colon);
    split.port = atoi(host.c_str() + colon + 1);
  } else {
    split.server = host;
    split.port = EqualsNoCase(split.protocol, "https") ? 443 : 80;
  }
  split.path = hostEnd == std::string::npos ? std::string() : url.substr(hostEnd);
  return split;
}

std::string MaskUrlPath(const std::string& path) {
  if (path.find("agentauthprops") != std::string::npos) return std::string();
  std::string masked = path;
  CutAtKey(&masked, "encapiKey");
  CutAtKey(&masked, "dsauthkey");
  CutAtKey(&masked, "provKey");
  return masked;
}

bool EndsDownloadAttempts(int result) {
  return result == 200 || result == 0 || result == 90001 || result == 401 || result == 403 || result == 404;
}

void ExternalDownloadHandler::setServerNamePortAndPath(const std::string& url) {
  LogDebug("Inside ExternalDownloadHandler::setServerNamePortAndPath method\n");
  SplitUrl split = SplitDownloadUrl(url);
  serverName_ = Wide(split.server);
  port_ = split.port;
  urlPath_ = Wide(split.path);
  LogDebug("End of ExternalDownloadHandler::setServerNamePortAndPath method\n");
}

void ExternalDownloadHandler::SetRequestDetails(const std::string& url) {
  LogDebug("Inside ExternalDownloadHandler::SetRequestDetails method\n");
  protocol_ = Wide(url.substr(0, url.find(':')));
  setServerNamePortAndPath(url);
  requestType_ = kRequestDownloadFile;
  LogInfo("protocol is %S\tPath is %S\n", protocol_.c_str(),
          Wide(MaskUrlPath(ChangeWideToUtf8Str(urlPath_))).c_str());
  LogDebug("End of ExternalDownloadHandler::SetRequestDetails method\n");
}

void ExternalDownloadHandler::setProxy(const std::string& server, const std::string& user,
                                       const std::string& password, const std::string& bypass) {
  LogInfo("Inside ExternalDownloadHandler::setProxy method\n");
  useProxy_ = true;
  proxyServer_ = Wide(server);
  proxyUser_ = Wide(user);
  proxyPassword_ = Wide(password);
  proxyBypass_ = Wide(bypass);
  LogInfo("Proxy server name is %S \n", proxyServer_.c_str());
  LogInfo("End of ExternalDownloadHandler::setProxy method\n");
}

void ExternalDownloadHandler::setUserAgent(const std::wstring& userAgent) {
  LogDebug("Inside ExternalDownloadHandler::setUserAgent method\n");
  userAgent_ = userAgent;
  LogDebug("End of ExternalDownloadHandler::setUserAgent method\n");
}

int ExternalDownloadHandler::Transfer(const std::string& rawUrl, const std::string& rawDestination,
                                      const HeaderMap& headers, int resume, int compression, bool byBitrate) {
  const std::string url = Trim(rawUrl);
  const std::string destination = Trim(rawDestination);
  SetRequestDetails(url);
  HttpRequestOptions options;
  for (const auto& header : headers) options.extraHeaders[Wide(header.first)] = Wide(header.second);
  options.userAgent = userAgent_;
  options.m_enableGzipCompression = compression;
  // The resume flag: the store is asked for ranges before a resumable or
  // block download, and one that cannot serve them is fetched whole.
  options.m_externalVendorServer = resume;
  const std::string protocol = ChangeWideToUtf8Str(protocol_);
  const std::wstring wideDestination = Wide(destination);
  TransferContext context = AgentTransferContext();
  // An outside download: no agent credentials, and a body without a length
  // is taken as it comes. The bandwidth-limited call leaves both as they are.
  context.outsideDownload = !byBitrate;
  context.observer = observer_;
  context.progress = progress_;
  int result = 0;
  if (byBitrate) {
    result = InternetGetRequestByBitrate(useProxy_, protocol.c_str(), serverName_.c_str(), port_,
                                         proxyServer_.c_str(), proxyBypass_.c_str(), proxyUser_.c_str(),
                                         proxyPassword_.c_str(), urlPath_.c_str(), wideDestination.c_str(), &resultText_,
                                         requestType_, 1, &options, 1, 0, context);
  } else {
    result = InternetGetRequestEx(useProxy_, protocol.c_str(), serverName_.c_str(), port_, proxyServer_.c_str(),
                                  proxyBypass_.c_str(), proxyUser_.c_str(), proxyPassword_.c_str(), urlPath_.c_str(),
                                  wideDestination.c_str(), &resultText_, requestType_, 1, &options, 0, 0, context);
  }
  if ((result == HTTP_STATUS_MOVED || result == HTTP_STATUS_REDIRECT) && redirections_ < kMaxRedirections &&
      !options.redirectUrl.empty()) {
    const std::string redirect = ChangeWideToUtf8Str(options.redirectUrl);
    LogInfo("Redirection count is %d and url is %s\n", redirections_, redirect.c_str());
    ++redirections_;
    return Transfer(redirect, destination, headers, resume, compression, byBitrate);
  }
  resultCode_ = result == 0 ? 200 : result;
  return resultCode_;
}

int ExternalDownloadHandler::DownloadFile(const std::string& url, const std::string& destination,
                                          const HeaderMap& headers, int resume, int /*attempts*/, int compression) {
  LogDebug("@@@@@@@@ Inside ExternalDownloadHandler::DownloadFile Method @@@@@@@@ \n");
  return Transfer(url, destination, headers, resume, compression, false);
}

int ExternalDownloadHandler::DownloadFileByBitrate(const std::string& url, const std::string& destination,
                                                   const HeaderMap& headers, int resume, int /*attempts*/,
                                                   int compression) {
  LogInfo("@@@@@@@@ Inside ExternalDownloadHandler::DownloadFileByBitrate Method @@@@@@@@ \n");
  return Transfer(url, destination, headers, resume, compression, true);
}

int ExternalRZDownloadHanlder::DownloadFile(const std::string& url, const std::string& destination,
                                            const HeaderMap& headers, int resume, int attempts, int compression) {
  LogInfo("Inside ExternalRZDownloadHanlder::DownloadFile method");
  const AgentParameters& params = AgentParams();
  for (int attempt = 0; attempt < attempts; ++attempt) {
    ExternalDownloadHandler handler;
    const std::string hashTime = ServerHashTime();
    handler.setUserAgent(hashTime != "--" ? Wide(hashTime) : params.userAgent);
    handler.setObserver(observer);
    handler.setProgress(progress);
    if (EqualsNoCase(params.ProxyEnabled, "yes")) {
      handler.setProxy(params.ProxyServerName, params.ProxyUserName, params.ProxyPassword, params.ProxyByPass);
    }
    resultCode_ = params.DataTransferRate_KBps != 0
                      ? handler.DownloadFileByBitrate(url, destination, headers, resume, attempts, compression)
                      : handler.DownloadFile(url, destination, headers, resume, attempts, compression);
    LogInfo("End of ExternalRZDownloadHanlder::DownloadFile method");
    if (EndsDownloadAttempts(resultCode_)) break;
    if (attempt + 1 < attempts) Sleep(retryPauseMs);
  }
  return resultCode_;
}

std::string ExternalPatchDownloadHandler::GetOracleCookieName() {
  LogInfo("Inside ExternalPatchDownloadHandler::GetOracleCookieName method\n");
  return "--";
}

HeaderMap ExternalPatchDownloadHandler::SetExternalPatchDownloadHeaders() {
  LogInfo("Inside ExternalPatchDownloadHandler::SetExternalPatchDownloadHeaders method\n");
  std::string cookie = GetOracleCookieName();
  if (cookie == "--") cookie = kDefaultCookie;
  HeaderMap headers;
  headers["Cookie"] = cookie;
  LogInfo("End of ExternalPatchDownloadHandler::SetExternalPatchDownloadHeaders method\n");
  return headers;
}

int ExternalPatchDownloadHandler::DownloadFile(const std::string& url, const std::string& destination) {
  LogInfo("Inside ExternalPatchDownloadHandler::DownloadFile Method\n");
  int result = ExternalRZDownloadHanlder::DownloadFile(url, destination, SetExternalPatchDownloadHeaders(), 1, 2, 0);
  LogInfo("End of ExternalPatchDownloadHandler::DownloadFile Method\n");
  return result;
}

int CommWithCertEnabled(const std::string& url, const std::string& destination, DWORD retryPauseMs,
                        BodyObserver* observer, ProgressReporter* progress) {
  LogInfo("URL : %s\n", url.c_str());
  LogInfo("Dest Path : %s\n", destination.c_str());
  LogInfo("CommWithCertEnabled : Disabled.\n");
  // From here on the engine accepts store certificates that fail validation.
  AgentParams().strictCertificateMode = 0;
  ExternalPatchDownloadHandler handler;
  handler.retryPauseMs = retryPauseMs;
  handler.observer = observer;
  handler.progress = progress;
  int result = handler.DownloadFile(url, destination);
  if (result == 200) result = 0;
  LogInfo("Download ErrorCode : %d\n", result);
  return result;
}
