// Downloads of installation files from a server's file store by full URL:
// the URL split for the engine, the agent's proxy and a user agent, a fixed
// cookie, redirections followed up to a limit, and a failed transfer tried
// once more after a pause.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "transport/request_options.h"

using HeaderMap = std::map<std::string, std::string>;

// One transfer, with its redirections. Created per attempt.
class ExternalDownloadHandler {
 public:
  // Redirections followed per transfer.
  static const int kMaxRedirections = 4;

  void SetRequestDetails(const std::string& url);
  void setServerNamePortAndPath(const std::string& url);
  void setProxy(const std::string& server, const std::string& user, const std::string& password,
                const std::string& bypass);
  void setUserAgent(const std::wstring& userAgent);
  // Sees the bytes of the file as they arrive; may be null.
  void setObserver(BodyObserver* observer) { observer_ = observer; }
  // Hears how far the file has come; null: the transfer's own meter.
  void setProgress(ProgressReporter* progress) { progress_ = progress; }
  // 200 when the engine stored the file, else the engine's code.
  int DownloadFile(const std::string& url, const std::string& destination, const HeaderMap& headers, int resume,
                   int attempts, int compression);
  int DownloadFileByBitrate(const std::string& url, const std::string& destination, const HeaderMap& headers,
                            int resume, int attempts, int compression);

  const std::wstring& serverName() const { return serverName_; }
  const std::wstring& protocol() const { return protocol_; }
  const std::wstring& urlPath() const { return urlPath_; }
  int port() const { return port_; }

 private:
  int Transfer(const std::string& url, const std::string& destination, const HeaderMap& headers, int resume,
               int compression, bool byBitrate);

  std::string resultText_;
  int resultCode_ = 0;
  std::wstring serverName_;
  std::wstring protocol_;
  std::wstring urlPath_;
  std::wstring proxyServer_;
  std::wstring proxyBypass_;
  std::wstring proxyUser_;
  std::wstring proxyPassword_;
  std::wstring userAgent_;
  int redirections_ = 0;
  int port_ = 0;
  int requestType_ = 0;
  bool useProxy_ = false;
  BodyObserver* observer_ = nullptr;
  ProgressReporter* progress_ = nullptr;
};

// The attempt driver: a fresh transfer per attempt, a pause between them.
class ExternalRZDownloadHanlder {
 public:
  virtual ~ExternalRZDownloadHanlder() = default;
  int DownloadFile(const std::string& url, const std::string& destination, const HeaderMap& headers, int resume,
                   int attempts, int compression);
  int resultCode() const { return resultCode_; }
  // The pause between attempts, 30 s; tests shorten it in-process.
  DWORD retryPauseMs = 30000;
  // Sees the bytes of each attempt's file as they arrive; may be null.
  BodyObserver* observer = nullptr;
  // Hears how far each attempt has come; may be null.
  ProgressReporter* progress = nullptr;

 protected:
  std::string resultText_;
  int resultCode_ = 0;
};

// The store's download: the cookie header, resume on, two attempts, no
// compression.
class ExternalPatchDownloadHandler : public ExternalRZDownloadHanlder {
 public:
  int DownloadFile(const std::string& url, const std::string& destination);
  HeaderMap SetExternalPatchDownloadHeaders();
  std::string GetOracleCookieName();
};

// Downloads the URL to the destination. Switches strict certificate mode off
// for the rest of the run. 0 on success, else the last attempt's code (see
// the handlers). `retryPauseMs` is the pause between the two attempts;
// `observer`, when given, sees the file's bytes as they arrive, and
// `progress` hears how far they have come.
int CommWithCertEnabled(const std::string& url, const std::string& destination, DWORD retryPauseMs = 30000,
                        BodyObserver* observer = nullptr, ProgressReporter* progress = nullptr);

// --- pure pieces, exposed for tests ---
struct SplitUrl {
  std::string protocol;  // the text before the first ":"
  std::string server;
  int port = 0;          // from the URL, else 443 for https and 80 otherwise
  std::string path;      // from the "/" that ends the host part
};
SplitUrl SplitDownloadUrl(const std::string& url);
// The path as it may be logged: authentication values cut off.
std::string MaskUrlPath(const std::string& path);
// Whether a result ends the attempts (200, 0, 90001, 401, 403, 404).
bool EndsDownloadAttempts(int result);
