#include "source/download_handlers.h"

#include <cstdio>

#include "agent/registry.h"
#include "log/agent_log.h"
#include "transport/request_engine.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace {

// The store accepts any session cookie; this one names no session.
const char kDefaultCookie[] = "RZSESSION=none";

template <typename Text>
Text Trim(const Text& text, const typename Text::value_type* blanks) {
  size_t first = text.find_first_not_of(blanks);
  if (first == Text::npos) return Text();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::wstring Wide(const std::string& utf8) { return ChangeUtf8ToWideStr(utf8.c_str()); }

// Cuts the text where `key` begins, one character before it.
void CutAtKey(std::wstring* path, const wchar_t* key) {
  size_t at = path->find(key);
  if (at == std::wstring::npos) return;
  path->erase(at == 0 ? 0 : at - 1);
}

// "--" when the store's hash time is missing or 0, else its decimal text.
std::string ServerHashTime(const reg_path::AgentKeys& keys) {
  DWORD value = 0;
  if (ReadDwordRegistryData(HKEY_LOCAL_MACHINE, keys.metadataVersions.c_str(), "ServerHashTime", &value) !=
          ERROR_SUCCESS ||
      value == 0) {
    return "--";
  }
  std::string text = std::to_string(value);
  LogInfo("server hash id is %S\n", Wide(text).c_str());
  return text;
}

}  // namespace

std::wstring MaskUrlPath(const std::wstring& path) {
  if (path.find(L"agentauthprops") != std::wstring::npos) return std::wstring();
  std::wstring masked = path;
  CutAtKey(&masked, L"encapiKey");
  CutAtKey(&masked, L"dsauthkey");
  CutAtKey(&masked, L"provKey");
  return masked;
}

bool EndsDownloadAttempts(int result) {
  return result == 200 || result == 0 || result == 90001 || result == 401 || result == 403 || result == 404;
}

void ExternalDownloadHandler::setServerNamePortAndPath(const Url& url) {
  LogDebug("Inside ExternalDownloadHandler::setServerNamePortAndPath method\n");
  url_ = url;
  LogDebug("End of ExternalDownloadHandler::setServerNamePortAndPath method\n");
}

void ExternalDownloadHandler::SetRequestDetails(const Url& url) {
  LogDebug("Inside ExternalDownloadHandler::SetRequestDetails method\n");
  setServerNamePortAndPath(url);
  requestType_ = RequestKind::kDownloadFile;
  LogInfo("protocol is %S\tPath is %S\n", url_.scheme.c_str(), MaskUrlPath(url_.path).c_str());
  LogDebug("End of ExternalDownloadHandler::SetRequestDetails method\n");
}

void ExternalDownloadHandler::setProxy(const std::wstring& server, const std::wstring& user,
                                       const std::wstring& password, const std::wstring& bypass) {
  LogInfo("Inside ExternalDownloadHandler::setProxy method\n");
  proxy_.enabled = true;
  proxy_.server = server;
  proxy_.user = user;
  proxy_.password = password;
  proxy_.bypass = bypass;
  LogInfo("Proxy server name is %S \n", proxy_.server.c_str());
  LogInfo("End of ExternalDownloadHandler::setProxy method\n");
}

void ExternalDownloadHandler::setUserAgent(const std::wstring& userAgent) {
  LogDebug("Inside ExternalDownloadHandler::setUserAgent method\n");
  userAgent_ = userAgent;
  LogDebug("End of ExternalDownloadHandler::setUserAgent method\n");
}

int ExternalDownloadHandler::Transfer(const Url& url, const std::wstring& destination, const HeaderMap& headers,
                                      const DownloadChoices& choices, bool byBitrate) {
  SetRequestDetails(url);
  HttpRequestOptions options;
  for (const auto& header : headers) options.extraHeaders[Wide(header.first)] = Wide(header.second);
  options.userAgent = userAgent_;
  options.m_enableGzipCompression = choices.compression;
  options.m_externalVendorServer = choices.resume;
  // An outside download: no agent credentials, and a body without a length
  // is taken as it comes. The bandwidth-limited call leaves both as they are.
  options.outsideDownload = !byBitrate;
  options.observer = watch_.observer;
  options.progress = watch_.progress;
  RequestTarget target;
  target.url = url_;
  target.proxy = proxy_;
  target.destination = destination;
  target.kind = requestType_;
  DownloadMethod method;
  method.bandwidth = byBitrate;
  method.blocks = byBitrate && settings_.blockMethod;
  const int result = InternetGetDownload(settings_, run_, target, &resultText_, &options, method);
  if ((result == HTTP_STATUS_MOVED || result == HTTP_STATUS_REDIRECT) && redirections_ < kMaxRedirections &&
      !options.redirectUrl.empty()) {
    LogInfo("Redirection count is %d and url is %S\n", redirections_, options.redirectUrl.c_str());
    ++redirections_;
    // A redirect enters a URL of its own, taken apart here.
    return Transfer(ParseUrl(Trim(options.redirectUrl, L" \t\r\n")), destination, headers, choices, byBitrate);
  }
  resultCode_ = result == 0 ? 200 : result;
  return resultCode_;
}

int ExternalDownloadHandler::DownloadFile(const Url& url, const std::wstring& destination, const HeaderMap& headers,
                                          const DownloadChoices& choices) {
  LogDebug("@@@@@@@@ Inside ExternalDownloadHandler::DownloadFile Method @@@@@@@@ \n");
  return Transfer(url, destination, headers, choices, false);
}

int ExternalDownloadHandler::DownloadFileByBitrate(const Url& url, const std::wstring& destination,
                                                   const HeaderMap& headers, const DownloadChoices& choices) {
  LogInfo("@@@@@@@@ Inside ExternalDownloadHandler::DownloadFileByBitrate Method @@@@@@@@ \n");
  return Transfer(url, destination, headers, choices, true);
}

int ExternalRZDownloadHanlder::DownloadFile(const Url& url, const std::wstring& destination, const HeaderMap& headers,
                                            const DownloadChoices& choices) {
  LogInfo("Inside ExternalRZDownloadHanlder::DownloadFile method");
  const ProxySettings& proxy = settings_.proxy;
  for (int attempt = 0; attempt < choices.attempts; ++attempt) {
    ExternalDownloadHandler handler(settings_, run_);
    const std::string hashTime = ServerHashTime(settings_.keys);
    handler.setUserAgent(hashTime != "--" ? Wide(hashTime) : settings_.userAgent);
    handler.setWatch(watch);
    if (proxy.enabled) handler.setProxy(proxy.server, proxy.user, proxy.password, proxy.bypass);
    resultCode_ = settings_.rateKBps != 0 ? handler.DownloadFileByBitrate(url, destination, headers, choices)
                                          : handler.DownloadFile(url, destination, headers, choices);
    LogInfo("End of ExternalRZDownloadHanlder::DownloadFile method");
    if (EndsDownloadAttempts(resultCode_)) break;
    if (attempt + 1 < choices.attempts) Sleep(watch.retryPauseMs);
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

int ExternalPatchDownloadHandler::DownloadFile(const Url& url, const std::wstring& destination) {
  LogInfo("Inside ExternalPatchDownloadHandler::DownloadFile Method\n");
  int result = ExternalRZDownloadHanlder::DownloadFile(url, destination, SetExternalPatchDownloadHeaders(), choices_);
  LogInfo("End of ExternalPatchDownloadHandler::DownloadFile Method\n");
  return result;
}

int CommWithCertEnabled(const TransferSettings& settings, TransferRunState* run, const std::string& url,
                        const std::string& destination, const StoreDownloadWatch& watch) {
  LogInfo("URL : %s\n", url.c_str());
  LogInfo("Dest Path : %s\n", destination.c_str());
  LogInfo("CommWithCertEnabled : Disabled.\n");
  // From here on the engine accepts store certificates that fail validation.
  run->strictCertificatesOff = true;
  ExternalPatchDownloadHandler handler(settings, run);
  handler.watch = watch;
  const char* blanks = " \t\r\n";
  int result = handler.DownloadFile(ParseUrl(Wide(Trim(url, blanks))), Wide(Trim(destination, blanks)));
  if (result == 200) result = 0;
  LogInfo("Download ErrorCode : %d\n", result);
  return result;
}
