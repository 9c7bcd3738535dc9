// What one request carries besides its address (extra headers, the
// if-modified-since and gzip choices, and what the answer hands back), and
// the settings of one transfer, gathered once by its caller.
#pragma once

#include <windows.h>

#include <cstddef>
#include <map>
#include <string>

#include "transport/transfer_result.h"

class ProgressReporter;

// Request types of every entry point.
const int kRequestGetData = 11001;       // the body is returned in memory
const int kRequestSendData = 11002;      // upload
const int kRequestDownloadFile = 11003;  // the body is stored at a destination

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
};

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

// Everything a transfer takes from the agent's settings, read once by the
// caller and handed down; nothing of it is switched process-wide.
struct TransferContext {
  // DataTransferRate_KBps; 0 means no limit.
  unsigned rateKBps = 0;
  // isOldBitRateEnabled: blocks, each its own ranged request, instead of
  // windows inside one answer.
  bool blockMethod = false;
  // DownloadMode 1: file downloads go through the resumable path.
  bool resumable = false;
  // Where get-data bodies and their temporary files go.
  std::wstring tempFolder;
  bool strictCertificates = false;
  // A download from an outside server: no agent credentials are attached,
  // and a body without a length is taken as it comes.
  bool outsideDownload = false;
  // The agent's request dispatcher marks its requests to the distribution
  // server.
  bool reportingServer = false;
  // A body without a length stops before the volume's free space falls
  // below this.
  unsigned long long diskReserveBytes = 512ULL * 1024 * 1024;
  // A body that brings fewer than slowMinBytes in slowWindowMs (pacing
  // pauses not counted) has stalled, as if it timed out.
  DWORD slowWindowMs = 60000;
  unsigned slowMinBytes = 1024;
  // Optional; sees the bytes of file downloads.
  BodyObserver* observer = nullptr;
  // Optional; hears how far every body has come (the deployment's, which
  // also records it for the agent). Without one a body's progress is only
  // logged.
  ProgressReporter* progress = nullptr;
};

// The context of the agent's settings as they stand: AgentParameters and
// the DownloadMode and isOldBitRateEnabled values.
TransferContext AgentTransferContext();
