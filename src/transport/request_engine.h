// The synchronous WinHTTP request engine: one session, connection and
// request per call, the agent's proxy, time-out, TLS and certificate
// settings, the body through one read loop into a sink (a temporary file
// moved into place, the resumable record, or memory), gzip answers
// decompressed, and one integer as the outcome (see transfer_result.h).
//
// Every call is handed the run's transfer settings and the run's state
// (never null), which the certificate recovery updates; the agent library's
// own argument lists are in agent_library.h.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <string>

#include "transport/request_options.h"
#include "transport/transfer_settings.h"
#include "transport/url.h"
#include "util/handles.h"

// Where and how one request goes. Texts are wide: they go to WinHTTP.
struct RequestTarget {
  Url url;
  // The proxy this request goes through, when it is enabled.
  ProxySettings proxy;
  std::wstring destination;  // downloads only
  RequestKind kind = RequestKind::kDownloadFile;
  bool keepAlive = true;
};

// How one request asks: a GET, a GET with the handles' extra header (a
// Range header, for example), or a HEAD.
enum class RequestVerb { kGet, kGetWithHeader, kHead };

// One request's handles and the status of its answer.
struct RequestHandles {
  UniqueInternet session;
  UniqueInternet connection;
  UniqueInternet request;
  RequestVerb kind = RequestVerb::kGet;
  std::wstring extraHeader;
  DWORD status = 0;
  // Closes request, connection and session in that order.
  void Close();
};

// How a file download is fetched, as its caller chose.
struct DownloadMethod {
  // Paced by windows of DataTransferRate_KBps x 1000 bytes.
  bool bandwidth = false;
  // No resumable path, even with DownloadMode 1.
  bool noResume = false;
  // The block method instead of windows (only with a rate).
  bool blocks = false;
};

// A GET of the target's URL: into memory (`memoryOut`) for get data, to the
// destination for a download; resumable with DownloadMode 1 and, with the
// block method, paced in blocks, as `method` allows. Returns 0, 13, 707,
// 90001, the HTTP status, or a WinHTTP/system error. The destination is only
// replaced by a body that arrived whole; no temporary file survives.
int InternetGetDownload(const TransferSettings& settings, TransferRunState* run, const RequestTarget& target,
                        std::string* memoryOut, HttpRequestOptions* options, const DownloadMethod& method);
// The plain path alone (no resume, no blocks), paced by windows with
// `bandwidth`.
int InternetGetRequest(const TransferSettings& settings, TransferRunState* run, const RequestTarget& target,
                       std::string* memoryOut, HttpRequestOptions* options, bool bandwidth);
// The bandwidth-limited download: the window method, or with the block
// method every block of DataTransferRate_KBps x 500 bytes its own ranged
// request, followed by a pause (an outside server without range support is
// then downloaded once more without a limit).
int InternetGetRequestLimited(const TransferSettings& settings, TransferRunState* run, const RequestTarget& target,
                              std::string* memoryOut, HttpRequestOptions* options);

// --- pure pieces, exposed for tests ---
// The 64-bit value of the first "Content-Length:" header in raw header text;
// false when there is none or it is not a number.
bool ContentLengthFromRawHeaders(const std::wstring& rawHeaders, unsigned long long* length);
// The pauses of bandwidth-limited downloads. Window method: after R x 1000
// bytes, sleep out the rest of the second when the window took less than
// 900 ms, else 100 ms. Block method: after each R x 500-byte request, sleep
// out the rest of 600 ms when the block took at most 449 ms, else 100 ms.
DWORD WindowPacingSleepMs(long long elapsedMs);
DWORD BlockPacingSleepMs(long long elapsedMs);
// Milliseconds from `earlier` to `later` (local wall-clock readings): the
// difference of the seconds of the day, taken in 16 bits, times 1000, plus
// the difference of the milliseconds.
long long WallClockElapsedMs(const SYSTEMTIME& earlier, const SYSTEMTIME& later);
// Block requests of the block method: [first, last] ranges of `blockSize`
// bytes from `start`, the last one cut at length - 1 when the length is known.
struct ByteRange {
  unsigned long long first;
  unsigned long long last;
};
ByteRange NextBlockRange(unsigned long long start, unsigned long long blockSize, bool lengthKnown,
                         unsigned long long length);
// The bytes F to L a "Content-Range: bytes F-L/N" value names; false when it
// names none. `whole` (optional) gets N, or 0 for "*".
bool ParseContentRange(const std::wstring& value, unsigned long long* first, unsigned long long* last,
                       unsigned long long* whole = nullptr);
// Whether a response header value names gzip.
bool HeaderNamesGzip(const std::wstring& value);
// The temporary file of a download: "<destination><thread id>.tmp"; of a
// get-data request: "<temp folder>\rz<thread id>.tmp".
std::wstring TemporaryFilePath(RequestKind kind, const std::wstring& destination, const std::wstring& tempFolder,
                               DWORD threadId);
