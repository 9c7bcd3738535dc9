// Downloads of installation files from a server's file store by full URL:
// the URL taken apart once for the engine, the agent's proxy and a user
// agent, a fixed cookie, redirections followed up to a limit, and a failed
// transfer tried once more after a pause.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "transport/request_options.h"
#include "transport/transfer_settings.h"
#include "transport/url.h"

using HeaderMap = std::map<std::string, std::string>;

// The integers every attempt hands the engine: the resume flag (the store is
// asked for ranges before a resumable or block download, and one that
// cannot serve them is fetched whole), the number of attempts and the
// compression setting of the request options.
struct DownloadChoices {
  int resume = 0;
  int attempts = 1;
  int compression = 0;
};

// Who watches a store download, and the pause between its attempts.
struct StoreDownloadWatch {
  // 30 s; tests shorten it in-process.
  DWORD retryPauseMs = 30000;
  // Sees the bytes of each attempt's file as they arrive; may be null.
  BodyObserver* observer = nullptr;
  // Hears how far each attempt has come; null: the transfer's own meter.
  ProgressReporter* progress = nullptr;
};

// One transfer, with its redirections. Created per attempt.
class ExternalDownloadHandler {
 public:
  // Redirections followed per transfer.
  static const int kMaxRedirections = 4;

  ExternalDownloadHandler(const TransferSettings& settings, TransferRunState* run) : settings_(settings), run_(run) {}

  void SetRequestDetails(const Url& url);
  void setServerNamePortAndPath(const Url& url);
  void setProxy(const std::wstring& server, const std::wstring& user, const std::wstring& password,
                const std::wstring& bypass);
  void setUserAgent(const std::wstring& userAgent);
  void setWatch(const StoreDownloadWatch& watch) { watch_ = watch; }
  // 200 when the engine stored the file, else the engine's code.
  int DownloadFile(const Url& url, const std::wstring& destination, const HeaderMap& headers,
                   const DownloadChoices& choices);
  int DownloadFileByBitrate(const Url& url, const std::wstring& destination, const HeaderMap& headers,
                            const DownloadChoices& choices);

  const Url& url() const { return url_; }

 private:
  int Transfer(const Url& url, const std::wstring& destination, const HeaderMap& headers,
               const DownloadChoices& choices, bool byBitrate);

  const TransferSettings& settings_;
  TransferRunState* run_;
  std::string resultText_;
  int resultCode_ = 0;
  Url url_;
  ProxySettings proxy_;
  std::wstring userAgent_;
  int redirections_ = 0;
  RequestKind requestType_{};  // a download, once SetRequestDetails has run
  StoreDownloadWatch watch_;
};

// The attempt driver: a fresh transfer per attempt, a pause between them.
class ExternalRZDownloadHanlder {
 public:
  ExternalRZDownloadHanlder(const TransferSettings& settings, TransferRunState* run) : settings_(settings), run_(run) {}
  virtual ~ExternalRZDownloadHanlder() = default;
  int DownloadFile(const Url& url, const std::wstring& destination, const HeaderMap& headers,
                   const DownloadChoices& choices);
  int resultCode() const { return resultCode_; }
  StoreDownloadWatch watch;

 protected:
  const TransferSettings& settings_;
  TransferRunState* run_;
  std::string resultText_;
  int resultCode_ = 0;
};

// The store's download: the cookie header, resume on, two attempts, no
// compression.
class ExternalPatchDownloadHandler : public ExternalRZDownloadHanlder {
 public:
  using ExternalRZDownloadHanlder::ExternalRZDownloadHanlder;
  int DownloadFile(const Url& url, const std::wstring& destination);
  HeaderMap SetExternalPatchDownloadHeaders();
  std::string GetOracleCookieName();

 private:
  const DownloadChoices choices_{/*resume=*/1, /*attempts=*/2, /*compression=*/0};
};

// Downloads the URL to the destination (both UTF-8 texts; the URL is taken
// apart here, once). Switches strict certificate mode off in `run` for the
// rest of the run. 0 on success, else the last attempt's code (see the
// handlers).
int CommWithCertEnabled(const TransferSettings& settings, TransferRunState* run, const std::string& url,
                        const std::string& destination, const StoreDownloadWatch& watch = StoreDownloadWatch());

// --- pure pieces, exposed for tests ---
// The path as it may be logged: authentication values cut off.
std::wstring MaskUrlPath(const std::wstring& path);
// Whether a result ends the attempts (200, 0, 90001, 401, 403, 404).
bool EndsDownloadAttempts(int result);
