#include "transport/request_engine.h"

#include "agent/agent_parameters.h"
#include "agent/registry.h"
#include "log/agent_log.h"
#include "transport/http_errors.h"
#include "transport/transfer.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace {

// TLS 1.0, 1.1 and 1.2.
const DWORD kSecureProtocols = 2688;
const int kMaxSendAttempts = 5;
const DWORD kResendPauseMs = 5000;
// WinHTTP results the send loop answers by re-opening or resending.
const DWORD kLoginFailure = 12015;
const DWORD kOperationCancelled = 12017;
const DWORD kResendRequest = 12032;
const DWORD kInvalidServerResponse = 12152;

// Whether the certificate chain the request received fails to verify
// against the machine's roots for this server name. False when the request
// holds no certificate.
bool ChainFailsVerification(HINTERNET request, const std::wstring& server) {
  PCCERT_CONTEXT raw = nullptr;
  DWORD size = sizeof(raw);
  if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &raw, &size) || !raw) return false;
  UniqueCertContext certificate(raw);
  CERT_CHAIN_PARA chainPara = {};
  chainPara.cbSize = sizeof(chainPara);
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!CertGetCertificateChain(HCCE_LOCAL_MACHINE, certificate.get(), nullptr, certificate.get()->hCertStore,
                               &chainPara, 0, nullptr, &chain)) {
    return true;
  }
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
  ssl.cbSize = sizeof(ssl);
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.pwszServerName = const_cast<wchar_t*>(server.c_str());
  CERT_CHAIN_POLICY_PARA policy = {};
  policy.cbSize = sizeof(policy);
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status = {};
  status.cbSize = sizeof(status);
  const bool verifies =
      CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) && status.dwError == 0;
  CertFreeCertificateChain(chain);
  return !verifies;
}

void CALLBACK SecureFailureCallback(HINTERNET, DWORD_PTR, DWORD status, LPVOID info, DWORD infoLength) {
  LogInfo("dwInternetStatus: %d \n", static_cast<int>(status));
  if (status != WINHTTP_CALLBACK_STATUS_SECURE_FAILURE || !info || infoLength < sizeof(DWORD)) return;
  const DWORD flags = *static_cast<const DWORD*>(info);
  const int value = static_cast<int>(flags);
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED) {
    LogInfo("The revocation check failed to verify whether a certificate has been revoked. The server used to check "
            "for revocation might be unreachable. %d\n",
            value);
  }
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT) LogInfo("SSL certificate is invalid. %d\n", value);
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED) LogInfo("SSL certificate was revoked. %d\n", value);
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA) {
    LogInfo("The function is unfamiliar with the Certificate Authority that generated the server's "
            "certificate.(Invalid Certificate Authority) %d\n",
            value);
  }
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID) {
    LogInfo("SSL certificate date that was received from the server is bad. The certificate is expired. %d\n", value);
  }
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID) {
    LogInfo("SSL certificate common name (host name field) is incorrect. %d\n", value);
  }
}

// Logs a failed WinHTTP call with its own line and the error's text, and
// returns the error (never 0).
TransferResult WinHttpFailure(const char* line) {
  DWORD error = GetLastError();
  if (error == 0) error = ERROR_GEN_FAILURE;
  LogError(line, static_cast<int>(error));
  HttpGetLastError(static_cast<long>(error));
  return TransferResult::System(error);
}

void AddHeader(HINTERNET request, const std::wstring& header) {
  if (!WinHttpAddRequestHeaders(request, header.c_str(), static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD)) {
    LogError("ExternalDownloadHandler::ConnectAndSetHeaders :  Error in WinHttpAddRequestHeaders --> %d \n",
             static_cast<int>(GetLastError()));
  }
}

// The agent's credentials for its own servers, as HTTP basic credentials
// with the user name "1". The stored texts are the Base64 form of the
// password (the agent's other programs store them so).
void SetAgentCredentials(HINTERNET request, const std::string& agentKey, const HttpRequestOptions& sent,
                         const RequestTarget& target) {
  if (sent.outsideDownload) {
    LogInfo("ExternalDownloadEnabled so skipping Auth Token\n");
    return;
  }
  std::string stored;
  if (ReadRegSZ(HKEY_LOCAL_MACHINE, agentKey.c_str(), "Authtoken", &stored) != ERROR_SUCCESS || stored.empty()) {
    stored.clear();
    if (target.url.path.find(L"agentAuthPropsRequest") == std::wstring::npos) return;
    if (ReadRegSZ(HKEY_LOCAL_MACHINE, agentKey.c_str(), "ProvKey", &stored) != ERROR_SUCCESS || stored.empty()) return;
  }
  const std::wstring password = ChangeUtf8ToWideStr(DecodeProxyPassword(stored).c_str());
  if (!WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_SERVER, WINHTTP_AUTH_SCHEME_BASIC, L"1", password.c_str(),
                             nullptr)) {
    LogError("GetInternetRequestHandle :  Error in WinHttpSetCredentials --> %d \n", static_cast<int>(GetLastError()));
  }
}

void SetSecureProtocols(HINTERNET session) {
  // Windows 7 and 8 do not offer TLS 1.1 and 1.2 by default.
  unsigned family = GetOsFamily();
  if (family != 3u && family != 4u) return;
  LogInfo("SetSecureProtocols : Configuring security protocols \n");
  DWORD protocols = kSecureProtocols;
  if (WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols))) {
    LogInfo("SetSecureProtocols :  Security protocols configured successfully \n");
  } else {
    LogError("SetSecureProtocols :  Error in WinHttpSetOption for security protocols --> %d \n",
             static_cast<int>(GetLastError()));
  }
}

// The security flags of an https request: the certificate problems are
// ignored unless the agent runs in strict certificate mode.
void ApplySecurityFlags(HINTERNET request, const engine::Transfer& transfer, const HttpRequestOptions& sent) {
  DWORD flags = 0;
  DWORD size = sizeof(flags);
  WinHttpQueryOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, &size);
  LogInfo(sent.reportingServer ? "Get request to reporting server\n" : "Get request not to reporting server\n");
  if (!StrictCertificatesNow(transfer.settings, *transfer.run)) {
    flags |= kIgnoreCertificateFlags;
    LogInfo("GetSecFlags: Ignoring Certificate check flags added for communication \n");
  } else {
    LogInfo("GetSecFlags: Security certificate installed, so validating certificate AND Certificate flags are "
            "ignored \n");
  }
  if (WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof(flags))) {
    LogInfo("GetInternetRequestHandle :  The request is updated with the internet option security flags. \n");
  }
  if (transfer.settings.closedNetwork) {
    // The client certificate is chosen by the agent's certificate store;
    // none installed means the request goes on without one.
    if (WinHttpSetOption(request, WINHTTP_OPTION_CLIENT_CERT_CONTEXT, WINHTTP_NO_CLIENT_CERT_CONTEXT, 0)) {
      LogInfo("GetInternetRequestHandle: Client Certificate set successfullly \n");
    } else {
      LogError("GetInternetRequestHandle :  Error in WinHttpSetOption for client certificate --> %d \n",
               static_cast<int>(GetLastError()));
    }
  }
}

std::wstring GzipRequestHeader(const HttpRequestOptions& options) {
  if (options.m_enableGzipCompression == 2) {
    LogInfo("WinHttpSendRequest with \"Cloud-Accept-Encoding: gzip\" Header\n");
    return L"Cloud-Accept-Encoding: gzip";
  }
  if (options.m_enableGzipCompression == 1) return L"Accept-Encoding: gzip";
  return std::wstring();
}

// Sends the request with the gzip header (if any) as its only extra header.
BOOL SendOnce(HINTERNET request, const std::wstring& gzipHeader) {
  return WinHttpSendRequest(request, gzipHeader.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : gzipHeader.c_str(),
                            gzipHeader.empty() ? 0 : static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
}

}  // namespace

namespace engine {

// The size first, then the text.
std::wstring QueryHeaderText(HINTERNET request, DWORD query, const wchar_t* name) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, query, name, nullptr, &size, WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return std::wstring();
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, query, name, &text[0], &size, WINHTTP_NO_HEADER_INDEX)) return std::wstring();
  text.resize(size / sizeof(wchar_t));
  return text;
}

namespace {

// Session, connection and request, with the proxy, the secure protocols,
// the verb and the secure flag.
TransferResult OpenHandles(const RequestTarget& target, const std::wstring& userAgent, RequestHandles* handles) {
  const ProxySettings& proxy = target.proxy;
  if (proxy.enabled) LogInfo("GetInternetRequestHandle : Proxy Server Name : %S \n", proxy.server.c_str());
  handles->session.reset(WinHttpOpen(
      userAgent.c_str(), proxy.enabled ? WINHTTP_ACCESS_TYPE_NAMED_PROXY : WINHTTP_ACCESS_TYPE_NO_PROXY,
      proxy.enabled ? proxy.server.c_str() : WINHTTP_NO_PROXY_NAME,
      proxy.enabled && !proxy.bypass.empty() ? proxy.bypass.c_str() : WINHTTP_NO_PROXY_BYPASS, 0));
  if (!handles->session) return WinHttpFailure("GetInternetRequestHandle :  Error in WinHttpOpen --> %d \n");
  const bool https = target.url.secure();
  if (https) SetSecureProtocols(handles->session.get());

  handles->connection.reset(WinHttpConnect(handles->session.get(), target.url.host.c_str(),
                                           static_cast<INTERNET_PORT>(target.url.port), 0));
  if (!handles->connection) return WinHttpFailure("GetInternetRequestHandle :  Error in WinHttpConnect --> %d \n");
  const bool head = handles->kind == RequestVerb::kHead;
  LogInfo(head ? "GetInternetRequestHandle :  HEAD Request \n" : "GetInternetRequestHandle :  GET Request \n");
  const wchar_t* acceptTypes[] = {L"*/*", nullptr};
  handles->request.reset(WinHttpOpenRequest(handles->connection.get(), head ? L"HEAD" : L"GET",
                                            target.url.path.c_str(), nullptr, WINHTTP_NO_REFERER, acceptTypes,
                                            https ? WINHTTP_FLAG_SECURE : 0));
  if (!handles->request) return WinHttpFailure("GetInternetRequestHandle :  Error in WinHttpOpenRequest --> %d \n");
  return TransferResult::Success();
}

// The connection header, the agent's credentials, the range or
// if-modified-since header and the caller's extra headers.
void AddRequestHeaders(HINTERNET request, const std::string& agentKey, const RequestTarget& target,
                       const HttpRequestOptions& sent, const RequestHandles& handles) {
  AddHeader(request, target.keepAlive ? L"Connection: Keep-Alive" : L"Connection: close");
  SetAgentCredentials(request, agentKey, sent, target);
  if (handles.kind == RequestVerb::kGetWithHeader) {
    if (!handles.extraHeader.empty()) AddHeader(request, handles.extraHeader);
  } else if (sent.ifModifiedSinceEnabled) {
    if (target.kind == RequestKind::kDownloadFile &&
        GetFileAttributesW(target.destination.c_str()) == INVALID_FILE_ATTRIBUTES) {
      LogInfo("GetInternetRequestHandle: destination file is not present, hence if-modified-since header is not "
              "applied\n");
    } else if (!sent.lastModified.empty()) {
      AddHeader(request, L"If-Modified-Since: " + sent.lastModified);
    }
  }
  for (const auto& header : sent.extraHeaders) {
    AddHeader(request, header.first + L": " + header.second);
  }
}

// The agent's time-outs apply to get data only.
void SetTimeouts(HINTERNET request, const TransferSettings& settings, const RequestTarget& target) {
  if (target.kind == RequestKind::kGetData) {
    WinHttpSetTimeouts(request, 30000, static_cast<int>(settings.connectTimeoutMs), 30000,
                       static_cast<int>(settings.requestTimeoutMs));
  } else {
    WinHttpSetTimeouts(request, 30000, 60000, 30000, 30000);
  }
}

void SetProxyCredentials(HINTERNET request, const ProxySettings& proxy) {
  if (!proxy.enabled) return;
  WinHttpSetOption(request, WINHTTP_OPTION_PROXY_USERNAME, const_cast<wchar_t*>(proxy.user.c_str()),
                   static_cast<DWORD>(proxy.user.size()));
  if (proxy.password.size() > 1) {
    WinHttpSetOption(request, WINHTTP_OPTION_PROXY_PASSWORD, const_cast<wchar_t*>(proxy.password.c_str()),
                     static_cast<DWORD>(proxy.password.size()));
  }
}

}  // namespace

TransferResult OpenRequest(const Transfer& transfer, const RequestTarget& target, const HttpRequestOptions& sent,
                           RequestHandles* handles) {
  const std::wstring& userAgent = sent.userAgent.empty() ? transfer.settings.userAgent : sent.userAgent;
  TransferResult opened = OpenHandles(target, userAgent, handles);
  if (!opened.ok()) return opened;
  HINTERNET request = handles->request.get();
  WinHttpSetStatusCallback(request, SecureFailureCallback, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
  // A 301/302 comes back to the caller, which reads its Content-Location.
  DWORD disable = WINHTTP_DISABLE_REDIRECTS;
  WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof(disable));
  AddRequestHeaders(request, transfer.settings.keys.agent, target, sent, *handles);
  SetTimeouts(request, transfer.settings, target);
  if (target.url.secure()) ApplySecurityFlags(request, transfer, sent);
  SetProxyCredentials(request, target.proxy);
  return TransferResult::Success();
}

// The numeric query first; a length that does not fit (534, or the 2^31-1
// some WinHTTP versions cap at) is read from the headers as text.
bool QueryContentLength(HINTERNET request, const char* op, unsigned long long* length, bool* unusable) {
  if (unusable) *unusable = false;
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &value, &size, WINHTTP_NO_HEADER_INDEX) &&
      value < 0x7FFFFFFFu) {
    LogInfo("%s : Content Length of the request file: %lu Bytes\n", op, static_cast<unsigned long>(value));
    *length = value;
    return true;
  }
  DWORD error = GetLastError();
  if (value < 0x7FFFFFFFu && error != ERROR_ARITHMETIC_OVERFLOW) return false;
  if (!ContentLengthFromRawHeaders(QueryHeaderText(request, WINHTTP_QUERY_RAW_HEADERS_CRLF), length)) {
    if (unusable) *unusable = true;
    return false;
  }
  LogInfo("%s : Content Length retrieved from header %llu \n", op, *length);
  return true;
}

namespace {

// The send loop of one request: sends it and receives its answer,
// re-opening the request once when the connection was dropped, and waits
// out a resend request. Five attempts at most; when they are used up the
// last failure is the result.
class SendAttempts {
 public:
  SendAttempts(const Transfer& transfer, const RequestTarget& target, const HttpRequestOptions& sent,
               RequestHandles* handles)
      : transfer_(transfer), target_(target), sent_(sent), handles_(handles), gzipHeader_(GzipRequestHeader(sent)) {}

  TransferResult Run() {
    DWORD lastError = ERROR_GEN_FAILURE;
    for (int attempt = 1; attempt <= kMaxSendAttempts; ++attempt) {
      const bool sent = SendOnce(handles_->request.get(), gzipHeader_);
      if (sent && WinHttpReceiveResponse(handles_->request.get(), nullptr)) return TransferResult::Success();
      const DWORD error = GetLastError();
      lastError = error ? error : ERROR_GEN_FAILURE;
      const Next next = AfterFailure(sent, error);
      if (next == Next::kFail) return RecoverOrFail(error);
      if (next == Next::kSendAgain || reopened_) continue;
      TransferResult opened = Reopen();
      if (!opened.ok()) return opened;
    }
    // Five attempts and no answer: that is a failure, never an answer.
    HttpGetLastError(static_cast<long>(lastError));
    return TransferResult::System(lastError);
  }

 private:
  enum class Next { kReopen, kSendAgain, kFail };

  // A dropped connection is re-opened once; a send that fails so again ends
  // the call, a receive that fails so is sent again.
  Next AfterFailure(bool sent, DWORD error) {
    const wchar_t* server = target_.url.host.c_str();
    if (!sent && (error == kLoginFailure || error == kOperationCancelled) && !reopened_) {
      LogInfo("GetInternetRequestHandle : Going to close the request handle and going to resending the data to the "
              "server %S \n",
              server);
      return Next::kReopen;
    }
    if (sent && (error == kLoginFailure || error == kInvalidServerResponse)) {
      LogInfo("GetInternetRequestHandle : Going to close the request handle and going to resending the data to the "
              "server %S,as the error code received is %d \n",
              server, static_cast<int>(error));
      return Next::kReopen;
    }
    if (sent && error == kResendRequest) {
      LogInfo("GetInternetRequestHandle : Resending the data to the server %S \n", server);
      Sleep(kResendPauseMs);
      return Next::kSendAgain;
    }
    LogError(sent ? "GetInternetRequestHandle :  Error - WinHttpReceiveResponse --> %d \n"
                  : "GetInternetRequestHandle :  Error in WinHttpSendRequest -> %d \n",
             static_cast<int>(error));
    // Where the handshake runs inside the send, a failed certificate check
    // shows there rather than at the receive.
    return Next::kFail;
  }

  TransferResult Reopen() {
    reopened_ = true;
    handles_->Close();
    return OpenRequest(transfer_, target_, sent_, handles_);
  }

  // The certificate recovery sends again on a fresh request: a connection
  // whose handshake failed is not used twice.
  TransferResult Resend(DWORD flags) {
    TransferResult opened = Reopen();
    if (!opened.ok()) return opened;
    if (!WinHttpSetOption(handles_->request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof(flags))) {
      return WinHttpFailure("CertRecoveryMechanismForReceive :  Error in WinHttpSetOption --> %d \n");
    }
    if (!SendOnce(handles_->request.get(), gzipHeader_) || !WinHttpReceiveResponse(handles_->request.get(), nullptr)) {
      return TransferResult::LastError();
    }
    return TransferResult::Success();
  }

  // A failed certificate check, and only that, earns the certificate
  // recovery. Windows reports it as 12175; some WinHTTP implementations as a
  // secure channel error (12157), which is a certificate failure only when
  // the server's chain does not verify. The chain is taken from a request
  // that lets the handshake complete. New roots cannot mend a protocol
  // error, nor a handshake that never brought a certificate.
  bool CertificateFailed(DWORD error) {
    if (error == ERROR_WINHTTP_SECURE_FAILURE) return true;
    if (error != ERROR_WINHTTP_SECURE_CHANNEL_ERROR) return false;
    RequestHandles probe;
    probe.kind = RequestVerb::kHead;
    if (!OpenRequest(transfer_, target_, sent_, &probe).ok()) return false;
    DWORD flags = kIgnoreCertificateFlags;
    WinHttpSetOption(probe.request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
    const bool failed = SendOnce(probe.request.get(), std::wstring()) &&
                        ChainFailsVerification(probe.request.get(), target_.url.host);
    probe.Close();
    return failed;
  }

  // A failed certificate check with an installed root gets the recovery;
  // anything else, or a recovery that fails, ends the call with the error.
  TransferResult RecoverOrFail(DWORD error) {
    if (transfer_.run->roots.serverRootInstalled == 1 && CertificateFailed(error)) {
      DWORD flags = 0;
      DWORD size = sizeof(flags);
      WinHttpQueryOption(handles_->request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, &size);
      TransferResult recovered = CertRecoveryMechanismForReceive(transfer_.settings, transfer_.run, flags,
                                                                 [this](DWORD again) { return Resend(again); });
      if (recovered.ok()) return recovered;
    }
    HttpGetLastError(static_cast<long>(error));
    return TransferResult::System(error);
  }

  const Transfer& transfer_;
  const RequestTarget& target_;
  const HttpRequestOptions& sent_;
  RequestHandles* handles_;
  const std::wstring gzipHeader_;
  bool reopened_ = false;
};

}  // namespace

TransferResult GetInternetRequestHandle(const Transfer& transfer, const RequestTarget& target,
                                        const HttpRequestOptions& sent, RequestHandles* handles) {
  LogDebug("@@@@@@@@ Inside GetInternetRequestHandle Method @@@@@@@@ \n");
  TransferResult result = OpenRequest(transfer, target, sent, handles);
  if (result.ok()) result = SendAttempts(transfer, target, sent, handles).Run();
  if (!result.ok()) {
    handles->Close();
    return result;
  }
  HINTERNET request = handles->request.get();
  LogDebug("GetInternetRequestHandle : response Header Informations : \n %S \n",
           QueryHeaderText(request, WINHTTP_QUERY_RAW_HEADERS_CRLF).c_str());
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                           &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    const TransferResult failed = WinHttpFailure(
        "GetInternetRequestHandle : WinHttpQueryHeaders failed with the error code while getting http status "
        "code %d \n");
    handles->Close();
    return failed;
  }
  LogInfo("GetInternetRequestHandle : WinHttpQueryHeaders http status code %d \n", static_cast<int>(status));
  handles->status = status;
  if (status == HTTP_STATUS_PROXY_AUTH_REQ) {
    LogError("GetInternetRequestHandle : Proxy Credentials are failed to authenticate %d \n", static_cast<int>(status));
    handles->Close();
    return TransferResult::Status(status);
  }
  LogDebug("@@@@@@@@ End of GetInternetRequestHandle Method @@@@@@@@ \n");
  return TransferResult::Success();
}

}  // namespace engine

using namespace engine;

void RequestHandles::Close() {
  auto close = [](UniqueInternet* handle, const char* failed) {
    if (*handle && !WinHttpCloseHandle(handle->release())) LogError(failed, static_cast<int>(GetLastError()));
  };
  close(&request, "Error in WinHttpCloseHandle hRequest --> %d \n");
  close(&connection, "Error in WinHttpCloseHandle hConnect --> %d \n");
  close(&session, "Error in WinHttpCloseHandle hSession --> %d \n");
}

bool ContentLengthFromRawHeaders(const std::wstring& rawHeaders, unsigned long long* length) {
  const std::string lower = ToLowerAscii(ChangeWideToUtf8Str(rawHeaders));
  size_t at = lower.find("content-length:");
  if (at == std::string::npos) return false;
  at += 15;
  while (at < lower.size() && (lower[at] == ' ' || lower[at] == '\t')) ++at;
  unsigned long long value = 0;
  size_t digits = 0;
  for (; at < lower.size() && lower[at] >= '0' && lower[at] <= '9'; ++at, ++digits) {
    if (value > (~0ULL - 9) / 10) return false;  // does not fit 64 bits
    value = value * 10 + static_cast<unsigned long long>(lower[at] - '0');
  }
  if (digits == 0) return false;
  *length = value;
  return true;
}

bool HeaderNamesGzip(const std::wstring& value) {
  return ToLowerAscii(ChangeWideToUtf8Str(value)).find("gzip") != std::string::npos;
}
