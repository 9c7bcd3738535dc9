// What one request carries besides its address: extra headers, the
// if-modified-since and gzip choices, the markers of the call, who watches
// the body, and what the answer hands back.
#pragma once

#include <windows.h>

#include <cstddef>
#include <map>
#include <string>

#include "transport/transfer_result.h"

class ProgressReporter;

// The kind of every request. The numbers are the agent library's, as its
// entry points take them.
enum class RequestKind : int {
  kGetData = 11001,       // the body is returned in memory
  kSendData = 11002,      // upload
  kDownloadFile = 11003,  // the body is stored at a destination
};

// The sizes the probes before open-ended downloads announced, by URL path
// (0 when they announced none).
using ExpectedSizes = std::map<std::wstring, long long>;

// Sees the bytes of a download as they join its file, in order (to hash
// them while the network is still busy, say).
class BodyObserver {
 public:
  virtual ~BodyObserver() = default;
  // The file starts again from its first byte.
  virtual void Restart() = 0;
  virtual void Feed(const char* data, size_t count) = 0;
  // The file no longer holds what was fed (a decompressed answer): whoever
  // needs its bytes reads the file.
  virtual void Invalidate() = 0;
};

// Texts are wide: they go to WinHTTP as they are.
struct HttpRequestOptions {
  // Sent as "name: value", in name order.
  std::map<std::wstring, std::wstring> extraHeaders;
  bool ifModifiedSinceEnabled = false;
  // The server is an outside download server: ranges are probed first, and
  // a resumable or block download it cannot serve falls back to a plain one.
  int m_externalVendorServer = 0;
  // In: the time sent in If-Modified-Since.
  std::wstring lastModified;
  // Passed to WinHttpOpen; empty takes the agent's user agent.
  std::wstring userAgent;
  // Out: the Content-Location of a 301/302 answer.
  std::wstring redirectUrl;
  // Out: the Last-Modified header of a 200 answer.
  std::wstring lastModifiedOut;
  // 0 none, 1 "Accept-Encoding: gzip", 2 "Cloud-Accept-Encoding: gzip".
  int m_enableGzipCompression = 0;
  // The markers the agent library switches around one call. An outside
  // download attaches no agent credentials and takes a body without a
  // length as it comes; a request of the agent's dispatcher to its
  // distribution server is one to the reporting server.
  bool outsideDownload = false;
  bool reportingServer = false;
  // Optional; sees the bytes of file downloads.
  BodyObserver* observer = nullptr;
  // Optional; hears how far every body has come (the deployment's, which
  // also records it for the agent). Without one a body's progress is only
  // logged.
  ProgressReporter* progress = nullptr;
  // Out: what the probes of a resumable download announced.
  ExpectedSizes expectedSizes;
};
