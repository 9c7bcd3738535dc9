// The one transfer every download path runs: a request, its answer checked,
// and its body read by one loop into a sink, with one recovery policy and
// one progress guard. The paths differ only in settings: the pacer, where
// the body starts, and the sink. Not for use outside src/transport.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <functional>
#include <string>
#include <vector>

#include "transport/download_progress.h"
#include "transport/request_engine.h"
#include "transport/transfer_result.h"
#include "util/handles.h"

// Certificate problems the server's answer may carry: untrusted issuer,
// wrong usage, invalid common name, invalid date.
const DWORD kIgnoreCertificateFlags = 0x3300;

namespace engine {

// One call of the engine: the run's settings and state, and what its caller
// hands it and reads back.
struct Transfer {
  const TransferSettings& settings;
  TransferRunState* run;  // never null
  HttpRequestOptions* options;
  std::string* memoryOut;  // the body of get data; may be null
};

// --- the request (request_setup.cpp) ---
// Steps one to ten of the request setup: session, connection, request and
// everything set on them before it is sent, with `sent` as its options.
TransferResult OpenRequest(const Transfer& transfer, const RequestTarget& target, const HttpRequestOptions& sent,
                           RequestHandles* handles);
// Opens, sends and receives with up to five attempts and the certificate
// recovery, then reads the status into `handles`. 407 (failed proxy
// credentials) is a failure; any other status is left to the caller. The
// handles are closed on failure.
TransferResult GetInternetRequestHandle(const Transfer& transfer, const RequestTarget& target,
                                        const HttpRequestOptions& sent, RequestHandles* handles);
// A response header as text (by query number, or a custom one by name with
// WINHTTP_QUERY_CUSTOM); empty when absent.
std::wstring QueryHeaderText(HINTERNET request, DWORD query, const wchar_t* name = WINHTTP_HEADER_NAME_BY_INDEX);
// The announced length, logged under `op`; false when the answer has none,
// or one that does not read as a 64-bit number (then `unusable` is set).
bool QueryContentLength(HINTERNET request, const char* op, unsigned long long* length, bool* unusable = nullptr);

// Validates or fetches the root certificates after a failed certificate
// check and receives the answer once more: `resend` sends the request again
// on a fresh one with the security flags it is given (the failed request's
// `flags`); without strict mode the problems are finally ignored.
TransferResult CertRecoveryMechanismForReceive(const TransferSettings& settings, TransferRunState* run, DWORD flags,
                                               const std::function<TransferResult(DWORD flags)>& resend);

// --- the sink: where the bytes go ---
// A body gathered in memory and written to its file a block at a time
// (one WriteFile per block rather than per WinHTTP read), each block handed
// to the observer once it is on disk. With a reserve set, a block that
// would leave the volume with less free space is not written
// (ERROR_DISK_FULL). A failed write is logged under `op` and closes the file.
class GatheringSink {
 public:
  virtual ~GatheringSink() = default;
  // Gathers the bytes; a block that is full, or would overflow, is written.
  virtual TransferResult Write(const char* data, size_t count);
  // The whole body starts: its progress goes to `reporter`, or without one
  // to the sink's own, which only logs.
  void BeginProgress(ProgressReporter* reporter, const ProgressStart& start);
  // Where the body loop reports; null before BeginProgress.
  ProgressReporter* progress() { return progress_; }

 protected:
  explicit GatheringSink(const char* op) : op_(op) {}
  // Writes what is gathered; nothing at all when nothing is.
  TransferResult Flush();
  // After every block that reached the file.
  virtual void Flushed() {}

  std::wstring path_;
  UniqueFile file_;
  bool opened_ = false;  // the file was opened once
  BodyObserver* observer_ = nullptr;
  size_t blockBytes_ = 1024 * 1024;
  unsigned long long reserve_ = 0;
  unsigned long long written_ = 0;
  std::string gathered_;

 private:
  const char* op_;
  ProgressReporter ownProgress_;
  ProgressReporter* progress_ = nullptr;
};

// Where a plain or block body goes: memory for get data; otherwise a
// temporary file beside the destination, written in gathered blocks and
// deleted unless it was moved into place.
class BodySink : public GatheringSink {
 public:
  BodySink(const Transfer& transfer, const RequestTarget& target);
  ~BodySink() override;
  BodySink(const BodySink&) = delete;
  BodySink& operator=(const BodySink&) = delete;

  // Creates the destination's folder and the file. A body without a known
  // length is held to the settings' free-space reserve.
  TransferResult Create(bool lengthKnown);
  TransferResult Write(const char* data, size_t count) override;
  // Writes what is gathered and closes the file. The first failure, the
  // body's `result` or the write's, is the result.
  TransferResult Close(const TransferResult& result);
  bool inMemory() const { return inMemory_; }
  unsigned long long size() const { return written_ + gathered_.size(); }
  const std::wstring& path() const { return path_; }
  // The body of get data.
  std::string& memory() { return gathered_; }
  // Hands the closed body over: into `memoryOut`, or moved onto the
  // destination (a move, not a copy: written once, never half in place).
  TransferResult Deliver(std::string* memoryOut);

 private:
  const std::wstring destination_;
  const bool inMemory_;
};

// --- the body loop ---
// One answer's body as the loop sees it, or the whole body as the block
// loop fetches it.
struct BodySpec {
  const char* op = "";            // prefix of the loop's own lines
  const char* retryLine = "";     // the path's line when it recovers
  unsigned long long first = 0;   // where this answer starts in the whole body
  bool lengthKnown = false;
  unsigned long long length = 0;  // what this answer brings, when known
  // Window pacing of a bandwidth-limited download: after every window of
  // rate x 1000 bytes, sleep out the rest of the second. 0 paces nothing.
  unsigned rateKBps = 0;
  unsigned long long blockSize = 0;  // the block loop's
};
struct BodyOutcome {
  TransferResult result = TransferResult::Success();
  unsigned long long received = 0;
  // A time-out, a stall or an early end that the one Range request could
  // not mend: the result is then 12002 after a time-out, else 707.
  bool recoveryFailed = false;
  // The recovery's Range was answered with the whole body.
  bool rangeIgnored = false;
};
// Reads the answer in `handles` into the sink. A time-out, a body that
// stalls (less than the settings' minimum in its window, or reads that
// bring nothing) or ends before its length is recovered once by asking for
// the missing bytes; a second one ends the body. Too many bytes give 13.
// The pacing's pauses are no lost time.
BodyOutcome ReadBody(const Transfer& transfer, const RequestTarget& target, RequestHandles* handles,
                     const BodySpec& spec, GatheringSink* sink);

// Bytes `first` to `last` of a body (to its end when not `bounded`), as a
// ranged request asks for them; `op` prefixes the request's lines.
struct RangeRequest {
  unsigned long long first = 0;
  bool bounded = true;
  unsigned long long last = 0;
  const char* op = "";
};
// The answer to a ranged request.
struct RangeAnswer {
  TransferResult result = TransferResult::Success();
  bool whole = false;  // 200: the server sent the whole body instead
  bool end = false;    // 416: the range starts beyond the body
  unsigned long long length = 0;  // bytes of a 206 answer
};
// Asks for the range on new handles. A 206 must name exactly that start and
// end within the range.
RangeAnswer AskRange(const Transfer& transfer, const RequestTarget& target, RequestHandles* handles,
                     const RangeRequest& range);

// How an answer is asked for and checked: the path's lines, the verb, and
// whether it is the probe before a resumable or block download, which asks
// an outside server for "bytes=0-".
struct AnswerTexts {
  const char* op;
  const char* notModified;  // with the time sent
  const char* failed;       // with the status
  RequestVerb kind = RequestVerb::kGet;
  bool probe = false;
};
struct Answer {
  TransferResult result = TransferResult::Success();
  bool lengthKnown = false;
  bool lengthUnusable = false;  // announced, but no 64-bit number
  unsigned long long length = 0;
  std::wstring lastModified;
};
// Sends the request and checks the answer's status: 200 is the answer (206
// from a probed outside server, whose Content-Range then gives the length);
// 304 gives 90001, a 301/302 its status with the redirect URL in the
// options, an outside server that does not answer a probe with 206 gives
// 416, and any other status itself. With `handles` given the caller reads
// the body.
Answer OpenAnswer(const Transfer& transfer, const RequestTarget& target, const AnswerTexts& texts,
                  RequestHandles* handles = nullptr);

// --- the block loop ---
// The body from `first` (the resume offset) in blocks, each its own ranged
// request read by the body loop, followed by the block pause. A first block
// answered 200 is the whole body; without a length a 416 is the end.
// `received` grows by what arrived.
TransferResult RunBlocks(const Transfer& transfer, const RequestTarget& target, const BodySpec& spec,
                         GatheringSink* sink, unsigned long long* received);

// --- around the transfer ---
// Appends the download's line to the transfer log and counts its length in
// the run's downloaded bytes.
void RecordDownload(const Transfer& transfer, const RequestTarget& target, unsigned long long length,
                    const TransferResult& result);
// The folder part of a path (up to its last separator); empty without one.
std::wstring FolderOf(const std::wstring& path);
// Counts a gzip answer that could not be decompressed, for the server.
void CountGzipFailure(const reg_path::AgentKeys& keys, const std::wstring& path);
// More bytes than announced (or no length where one is required): the
// plain path's line, and 13.
TransferResult LongerThanAnnounced();
// Runs a transfer; an exception inside it (a failed allocation, say) ends
// it with "Error caught in <op>" and 13 instead of leaving it.
TransferResult Guarded(const char* op, const std::function<TransferResult()>& transfer);

// The plain path with its transfer record; the other paths fall back to it.
TransferResult PlainTransfer(const Transfer& transfer, const RequestTarget& target, bool bandwidth);
// A file download as the settings and `method` choose it: resumable
// (unless `noResume`, or a document), else plain, or the block method.
TransferResult ChooseDownload(const Transfer& transfer, const RequestTarget& target, DownloadMethod method);
// The block method of a bandwidth-limited download.
TransferResult BlockTransfer(const Transfer& transfer, const RequestTarget& target);
// The resumable path, with window pacing (`bandwidth`) or blocks.
TransferResult ResumeTransfer(const Transfer& transfer, const RequestTarget& target, bool bandwidth, bool blocks);

}  // namespace engine
