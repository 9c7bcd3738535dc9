// What one request carries besides its address: extra headers, the
// if-modified-since and gzip choices, and what the answer hands back.
#pragma once

#include <map>
#include <string>

// Request types of every entry point.
const int kRequestGetData = 11001;       // the body is returned in memory
const int kRequestSendData = 11002;      // upload
const int kRequestDownloadFile = 11003;  // the body is stored at a destination

// The engine's own results besides HTTP statuses and system/WinHTTP codes.
const int kResultDataNotLoaded = 6;        // get data: the body could not be read back
const int kResultLongerThanAnnounced = 13;  // more bytes than the Content-Length
const int kResultPartialFile = 707;         // fewer bytes on disk than announced
const int kResultNotModified = 90001;       // 304
// The range a request asked for lies beyond the body (or ranges are not
// served the way asked).
const int kHttpRangeNotSatisfiable = 416;

struct HttpRequestOptions {
  // Sent as "name: value", in name order.
  std::map<std::string, std::string> extraHeaders;
  bool ifModifiedSinceEnabled = false;
  // The server is an outside download server: ranges are probed first.
  int m_externalVendorServer = 0;
  // In: the time sent in If-Modified-Since.
  std::wstring lastModified;
  // Passed to WinHttpOpen; empty takes the agent's user agent.
  std::wstring userAgent;
  // Out: the Content-Location of a 301/302 answer.
  std::string redirectUrl;
  // Out: the Last-Modified header of a 200 answer.
  std::string lastModifiedOut;
  // 0 none, 1 "Accept-Encoding: gzip", 2 "Cloud-Accept-Encoding: gzip".
  int m_enableGzipCompression = 0;
};

// Process-wide markers an outside download switches on for its duration:
// no agent credentials are attached (authentication marker), and a missing
// or zero Content-Length is accepted (length marker).
void SetExternalDownloadMarkers(bool noCredentials, bool acceptMissingLength);
bool ExternalDownloadEnabled();
bool ExternalLengthAccepted();
