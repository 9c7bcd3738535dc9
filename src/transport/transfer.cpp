#include "transport/transfer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <exception>

#include "log/agent_log.h"
#include "transport/gzip_file.h"
#include "transport/http_errors.h"
#include "transport/transfer_logs.h"
#include "util/files.h"
#include "util/text.h"

namespace {

// Reads in a row that bring nothing before the body counts as stalled.
const int kMaxIdleReads = 3;
const DWORD kHttpRangeNotSatisfiable = 416;

std::wstring RangeHeader(unsigned long long first, bool bounded, unsigned long long last) {
  return L"Range: bytes=" + std::to_wstring(first) + L"-" + (bounded ? std::to_wstring(last) : std::wstring());
}

}  // namespace

DWORD WindowPacingSleepMs(long long elapsedMs) {
  if (elapsedMs < 0) elapsedMs = 0;
  return elapsedMs < 900 ? static_cast<DWORD>(1000 - elapsedMs) : 100;
}

DWORD BlockPacingSleepMs(long long elapsedMs) {
  if (elapsedMs < 0) elapsedMs = 0;
  return elapsedMs <= 449 ? static_cast<DWORD>(600 - elapsedMs) : 100;
}

long long WallClockElapsedMs(const SYSTEMTIME& earlier, const SYSTEMTIME& later) {
  const int first = earlier.wHour * 3600 + earlier.wMinute * 60 + earlier.wSecond;
  const int second = later.wHour * 3600 + later.wMinute * 60 + later.wSecond;
  // The seconds of the day do not fit 16 bits, but their difference over a
  // window does, and 16-bit arithmetic keeps it right across the wrap.
  const int16_t seconds = static_cast<int16_t>(static_cast<uint16_t>(second - first));
  return static_cast<long long>(seconds) * 1000 + (static_cast<int>(later.wMilliseconds) - earlier.wMilliseconds);
}

ByteRange NextBlockRange(unsigned long long start, unsigned long long blockSize, bool lengthKnown,
                         unsigned long long length) {
  unsigned long long last = start + blockSize - 1;
  if (lengthKnown && last > length - 1) last = length - 1;
  return ByteRange{start, last};
}

bool ParseContentRange(const std::wstring& value, unsigned long long* first, unsigned long long* last,
                       unsigned long long* whole) {
  unsigned long long a = 0;
  unsigned long long b = 0;
  unsigned long long n = 0;
  const int fields = swscanf(value.c_str(), L"bytes %llu-%llu/%llu", &a, &b, &n);
  if (fields < 2 || b < a) return false;
  *first = a;
  *last = b;
  if (whole) *whole = fields == 3 ? n : 0;
  return true;
}

std::wstring TemporaryFilePath(RequestKind kind, const std::wstring& destination, const std::wstring& tempFolder,
                               DWORD threadId) {
  if (kind == RequestKind::kGetData) return tempFolder + L"\\rz" + std::to_wstring(threadId) + L".tmp";
  return destination + std::to_wstring(threadId) + L".tmp";
}

namespace engine {

void GatheringSink::BeginProgress(ProgressReporter* reporter, const ProgressStart& start) {
  progress_ = reporter ? reporter : &ownProgress_;
  progress_->Begin(start);
}

TransferResult GatheringSink::Write(const char* data, size_t count) {
  if (gathered_.size() + count > blockBytes_ && !gathered_.empty()) {
    TransferResult result = Flush();
    if (!result.ok()) return result;
  }
  if (gathered_.capacity() < gathered_.size() + count) {
    const size_t grown = std::max(gathered_.size() + count, blockBytes_);
    LogDebug("Reallocating buffer to %lu\n", static_cast<unsigned long>(grown));
    gathered_.reserve(grown);
  }
  gathered_.append(data, count);
  return gathered_.size() < blockBytes_ ? TransferResult::Success() : Flush();
}

TransferResult GatheringSink::Flush() {
  if (gathered_.empty()) return TransferResult::Success();
  if (!file_) {
    LogError(opened_ ? "Invalid File Handle\n" : "File Handle is NULL\n");
    return TransferResult::System(ERROR_INVALID_HANDLE);
  }
  DWORD error = 0;
  ULARGE_INTEGER available;
  const std::wstring folder = FolderOf(path_);
  // Without a reading of the free space the write itself will tell.
  if (reserve_ != 0 &&
      GetDiskFreeSpaceExW(folder.empty() ? nullptr : (folder + L"\\").c_str(), &available, nullptr, nullptr) &&
      (available.QuadPart < reserve_ || available.QuadPart - reserve_ < gathered_.size())) {
    error = ERROR_DISK_FULL;
  } else {
    DWORD written = 0;
    if (!WriteFile(file_.get(), gathered_.data(), static_cast<DWORD>(gathered_.size()), &written, nullptr) ||
        written != gathered_.size()) {
      error = GetLastError();
      if (error == 0) error = ERROR_WRITE_FAULT;
    }
  }
  if (error != 0) {
    LogError("%s :  Error in WriteFile --> %lu \n", op_, error);
    file_.reset();
    return TransferResult::System(error);
  }
  if (observer_) observer_->Feed(gathered_.data(), gathered_.size());
  written_ += gathered_.size();
  gathered_.clear();
  Flushed();
  return TransferResult::Success();
}

BodySink::BodySink(const Transfer& transfer, const RequestTarget& target)
    : GatheringSink("InternetGetRequestEx"),
      destination_(target.destination),
      inMemory_(target.kind == RequestKind::kGetData) {
  if (!inMemory_) {
    path_ = TemporaryFilePath(target.kind, target.destination, transfer.settings.tempFolder, GetCurrentThreadId());
  }
  observer_ = transfer.options->observer;
  reserve_ = transfer.settings.diskReserveBytes;
}

BodySink::~BodySink() {
  file_.reset();
  if (!path_.empty()) DeleteFileW(path_.c_str());
}

TransferResult BodySink::Create(bool lengthKnown) {
  if (!lengthKnown) LogInfo("File download more than 4 GB method \n");
  // A body with a length is held to it instead.
  if (lengthKnown) reserve_ = 0;
  if (inMemory_) return TransferResult::Success();
  // The temporary file goes beside the destination; a folder that cannot be
  // made is left to the file's creation to report.
  const std::wstring folder = FolderOf(destination_);
  if (!folder.empty() && CreateFolderTree(folder) != 0) {
    LogError("InternetGetRequestEx : Failed to create the destination directory for the destination file %S \n",
             destination_.c_str());
  }
  opened_ = true;
  file_.reset(CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return TransferResult::LastError();
  if (observer_) observer_->Restart();
  return TransferResult::Success();
}

TransferResult BodySink::Write(const char* data, size_t count) {
  if (!inMemory_) return GatheringSink::Write(data, count);
  gathered_.append(data, count);
  return TransferResult::Success();
}

TransferResult BodySink::Close(const TransferResult& result) {
  const TransferResult flushed = inMemory_ ? TransferResult::Success() : Flush();
  file_.reset();
  return result.ok() ? flushed : result;
}

TransferResult BodySink::Deliver(std::string* memoryOut) {
  if (inMemory_) {
    if (memoryOut) *memoryOut = std::move(gathered_);
    return TransferResult::Success();
  }
  if (!MoveFileExW(path_.c_str(), destination_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return TransferResult::LastError();
  }
  path_.clear();
  return TransferResult::Success();
}

RangeAnswer AskRange(const Transfer& transfer, const RequestTarget& target, RequestHandles* handles,
                     const RangeRequest& range) {
  RangeAnswer answer;
  handles->Close();
  handles->kind = RequestVerb::kGetWithHeader;
  handles->extraHeader = RangeHeader(range.first, range.bounded, range.last);
  LogInfo("%s: Content-Range Header message: %S\n", range.op, handles->extraHeader.c_str());
  HttpRequestOptions plain = *transfer.options;
  plain.m_enableGzipCompression = 0;
  answer.result = GetInternetRequestHandle(transfer, target, plain, handles);
  LogInfo("%s: GetInternetRequestHandle function return code: %lu\n", range.op,
          static_cast<unsigned long>(answer.result.Flatten()));
  if (!answer.result.ok()) return answer;
  const DWORD status = handles->status;
  unsigned long long from = 0;
  unsigned long long to = 0;
  if (status == HTTP_STATUS_OK) {
    answer.whole = true;
  } else if (status == kHttpRangeNotSatisfiable) {
    answer.end = true;
  } else if (status == HTTP_STATUS_PARTIAL_CONTENT &&
             ParseContentRange(QueryHeaderText(handles->request.get(), WINHTTP_QUERY_CONTENT_RANGE), &from, &to) &&
             from == range.first && (!range.bounded || to <= range.last)) {
    answer.length = to - from + 1;
  } else {
    // A 206 with bytes from elsewhere would land them in the wrong place.
    LogError("%s : Failed with the http status code %lu \n", range.op, static_cast<unsigned long>(status));
    answer.result = status == HTTP_STATUS_PARTIAL_CONTENT ? TransferResult::Own(kResultPartialFile)
                                                          : TransferResult::Status(status);
  }
  return answer;
}

Answer OpenAnswer(const Transfer& transfer, const RequestTarget& target, const AnswerTexts& texts,
                  RequestHandles* handles) {
  HttpRequestOptions* options = transfer.options;
  Answer answer;
  RequestHandles probeHandles;
  if (!handles) handles = &probeHandles;
  handles->kind = texts.kind;
  HttpRequestOptions sent = *options;
  const bool external = texts.probe && options->m_externalVendorServer == 1;
  if (external) sent.extraHeaders[L"Range"] = L"bytes=0-";
  answer.result = GetInternetRequestHandle(transfer, target, sent, handles);
  if (!answer.result.ok()) return answer;
  const DWORD status = handles->status;
  HINTERNET request = handles->request.get();
  if (status == HTTP_STATUS_NOT_MODIFIED) {
    LogInfo(texts.notModified, options->lastModified.c_str());
    answer.result = TransferResult::Own(kResultNotModified);
  } else if (status == HTTP_STATUS_MOVED || status == HTTP_STATUS_REDIRECT) {
    options->redirectUrl = QueryHeaderText(request, WINHTTP_QUERY_CONTENT_LOCATION);
    LogInfo("GetRedirectionUrlFromHeader : content location: %S\n", options->redirectUrl.c_str());
    LogInfo("Redirection url is %S\n", options->redirectUrl.c_str());
    answer.result = TransferResult::Status(status);
  } else if (external && status != HTTP_STATUS_PARTIAL_CONTENT) {
    LogError("%s : External server doesnot support range request. Failed with the http status code, %d \n", texts.op,
             static_cast<int>(status));
    answer.result = status == HTTP_STATUS_NOT_FOUND && texts.kind == RequestVerb::kHead ? TransferResult::Status(status)
                                                                        : TransferResult::Own(kResultRangesNotServed);
  } else if (!external && status != HTTP_STATUS_OK) {
    LogError(texts.failed, static_cast<int>(status));
    answer.result = TransferResult::Status(status);
  } else {
    answer.lastModified = QueryHeaderText(request, WINHTTP_QUERY_LAST_MODIFIED);
    if (options->ifModifiedSinceEnabled) {
      options->lastModifiedOut = answer.lastModified;
      LogInfo("GetFilelastmodifiedTime : File last modified time: %S\n", answer.lastModified.c_str());
    }
    answer.lengthKnown = QueryContentLength(request, texts.op, &answer.length, &answer.lengthUnusable);
    // An answer to "bytes=0-" names the whole body in Content-Range.
    unsigned long long first = 0;
    unsigned long long last = 0;
    unsigned long long whole = 0;
    if (external && ParseContentRange(QueryHeaderText(request, WINHTTP_QUERY_CONTENT_RANGE), &first, &last, &whole) &&
        whole != 0) {
      answer.length = whole;
      answer.lengthKnown = true;
    }
  }
  return answer;
}

namespace {

// One answer's body read into the sink, with its one recovery, its stall
// guard and its pacing.
class BodyReader {
 public:
  BodyReader(const Transfer& transfer, const RequestTarget& target, RequestHandles* handles, const BodySpec& spec,
             GatheringSink* sink)
      : transfer_(transfer),
        target_(target),
        handles_(handles),
        spec_(spec),
        sink_(sink),
        windowStart_(GetTickCount()),
        paceBudget_(static_cast<unsigned long long>(spec.rateKBps) * 1000) {
    GetLocalTime(&paceStart_);
  }

  BodyOutcome Run() {
    for (;;) {
      DWORD available = 0;
      DWORD error = 0;
      if (!WinHttpQueryDataAvailable(handles_->request.get(), &available)) error = GetLastError();
      const bool stalled = Stalled(error);
      // WinHTTP gave up waiting (or the socket below it, under some
      // emulations); a body that ends is no stall, however slowly it came.
      const bool timedOut = error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT || (stalled && available != 0);
      const bool early = error == 0 && available == 0 && spec_.lengthKnown && body_.received < spec_.length;
      if (timedOut || early) {
        if (Recover(timedOut)) continue;
        return body_;
      }
      if (error != 0) {
        LogError("%s :  Error in WinHttpQueryDataAvailable --> %lu \n", spec_.op, error);
        HttpGetLastError(static_cast<long>(error));
        body_.result = TransferResult::System(error);
        return body_;
      }
      if (available == 0) return body_;  // the server ended the body
      if (!ReadAvailable(available)) return body_;
    }
  }

 private:
  // Reads that bring nothing, or less than the settings' minimum over a
  // window, are a stall.
  bool Stalled(DWORD error) {
    bool stalled = idleReads_ >= kMaxIdleReads;
    const TransferSettings& settings = transfer_.settings;
    if (error == 0 && GetTickCount() - windowStart_ >= settings.slowWindowMs) {
      stalled = stalled || windowBytes_ < settings.slowMinBytes;
      windowStart_ = GetTickCount();
      windowBytes_ = 0;
    }
    return stalled;
  }

  // The one recovery: the missing bytes asked for on new handles. True
  // when the body goes on; false when it ends here, as the outcome says.
  bool Recover(bool timedOut) {
    RangeAnswer answer;
    if (!recovered_) {
      recovered_ = true;
      LogInfo("%s", spec_.retryLine);
      answer = AskRange(transfer_, target_, handles_,
                        RangeRequest{spec_.first + body_.received, spec_.lengthKnown, spec_.first + spec_.length - 1,
                                     spec_.op});
      // Without a length, a range beyond the body says it was all there.
      if (answer.end && !spec_.lengthKnown) return false;
      if (answer.result.ok() && !answer.whole && !answer.end) {
        idleReads_ = 0;
        windowStart_ = GetTickCount();
        windowBytes_ = 0;
        // A body that stalled says so: nothing came meanwhile.
        if (ProgressReporter* progress = sink_->progress()) progress->Advance(spec_.first + body_.received);
        return true;
      }
    }
    LogError("InternetGetRequestEx: Download failed in retry method \n");
    body_.recoveryFailed = true;
    body_.rangeIgnored = answer.whole;
    body_.result = timedOut ? TransferResult::System(ERROR_WINHTTP_TIMEOUT) : TransferResult::Own(kResultPartialFile);
    return false;
  }

  // Reads what is available into the sink. False when the body ends here.
  bool ReadAvailable(DWORD available) {
    if (buffer_.size() < available) buffer_.resize(available);
    DWORD read = 0;
    if (!WinHttpReadData(handles_->request.get(), buffer_.data(), available, &read)) {
      DWORD readError = GetLastError();
      LogError("InternetGetRequestEx :  Error in WinHttpReadData --> %lu \n", readError);
      body_.result = TransferResult::System(readError ? readError : ERROR_READ_FAULT);
      return false;
    }
    if (read == 0) {
      ++idleReads_;
      return true;
    }
    idleReads_ = 0;
    if (spec_.lengthKnown && body_.received + read > spec_.length) {
      body_.result = LongerThanAnnounced();
      return false;
    }
    body_.result = sink_->Write(buffer_.data(), read);
    if (!body_.result.ok()) return false;
    body_.received += read;
    if (ProgressReporter* progress = sink_->progress()) progress->Advance(spec_.first + body_.received);
    windowBytes_ += read;
    Pace(read);
    if (spec_.lengthKnown && body_.received == spec_.length) {
      LogInfo("Bytes read reached the contenlength\n");
      return false;
    }
    return true;
  }

  // Window pacing: after every budget of bytes, the rest of the second.
  void Pace(DWORD read) {
    paced_ += read;
    if (paceBudget_ == 0 || paced_ < paceBudget_) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    const DWORD pause = WindowPacingSleepMs(WallClockElapsedMs(paceStart_, now));
    Sleep(pause);
    // The pause is no lost time for the stall guard.
    windowStart_ += pause;
    // What the last chunk brought beyond the budget belongs to the next
    // window; dropping it would run every window a little fast.
    paced_ -= paceBudget_;
    GetLocalTime(&paceStart_);
  }

  const Transfer& transfer_;
  const RequestTarget& target_;
  RequestHandles* handles_;
  const BodySpec& spec_;
  GatheringSink* sink_;
  BodyOutcome body_;
  std::vector<char> buffer_;
  bool recovered_ = false;
  int idleReads_ = 0;
  DWORD windowStart_;
  unsigned long long windowBytes_ = 0;
  const unsigned long long paceBudget_;
  unsigned long long paced_ = 0;
  SYSTEMTIME paceStart_;
};

}  // namespace

BodyOutcome ReadBody(const Transfer& transfer, const RequestTarget& target, RequestHandles* handles,
                     const BodySpec& spec, GatheringSink* sink) {
  return BodyReader(transfer, target, handles, spec, sink).Run();
}

TransferResult RunBlocks(const Transfer& transfer, const RequestTarget& target, const BodySpec& spec,
                         GatheringSink* sink, unsigned long long* received) {
  char retryLine[128];
  snprintf(retryLine, sizeof(retryLine), "%s : second attempt of the previous request\n", spec.op);
  for (;;) {
    const unsigned long long offset = spec.first + *received;
    if (spec.lengthKnown && offset >= spec.length) return TransferResult::Success();
    SYSTEMTIME blockStart;
    GetLocalTime(&blockStart);
    const ByteRange range = NextBlockRange(offset, spec.blockSize, spec.lengthKnown, spec.length);
    RequestHandles handles;
    RangeAnswer answer = AskRange(transfer, target, &handles, RangeRequest{range.first, true, range.last, spec.op});
    if (!answer.result.ok()) return answer.result;
    if (answer.end && !spec.lengthKnown) {
      LogInfo("DownloadFileMoreThan4GBbyBitrate : File completely downloaded and requested for invalid byte range. "
              "TotalbytesReaded - %llu \n",
              offset);
      return TransferResult::Success();
    }
    if (answer.end || (answer.whole && offset != 0)) {
      // Only a first block may bring the whole body; a later one would
      // append it again.
      LogError("%s : Failed with the http status code %lu \n", spec.op, static_cast<unsigned long>(handles.status));
      return answer.end ? TransferResult::Status(handles.status) : TransferResult::Own(kResultRangesNotServed);
    }
    // A first block answered with the whole body is held to the whole length.
    BodySpec body;
    body.op = spec.op;
    body.retryLine = retryLine;
    body.first = range.first;
    body.lengthKnown = answer.whole ? spec.lengthKnown : true;
    body.length = answer.whole ? spec.length : answer.length;
    BodyOutcome got = ReadBody(transfer, target, &handles, body, sink);
    *received += got.received;
    LogDebug("%s: Bytes Read: %llu\n", spec.op, *received);
    if (!got.result.ok()) return got.result;
    // A block that brings nothing would be asked for again forever.
    if (got.received == 0) return TransferResult::Own(kResultPartialFile);
    if (answer.whole) return TransferResult::Success();
    handles.Close();
    SYSTEMTIME now;
    GetLocalTime(&now);
    Sleep(BlockPacingSleepMs(WallClockElapsedMs(blockStart, now)));
  }
}

std::wstring FolderOf(const std::wstring& path) {
  size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

void RecordDownload(const Transfer& transfer, const RequestTarget& target, unsigned long long length,
                    const TransferResult& result) {
  WriteDownloadTransferLog(transfer.settings.agentFolder,
                           DownloadTransfer{ChangeWideToUtf8Str(target.url.host), target.url.port,
                                            ChangeWideToUtf8Str(target.url.path),
                                            ChangeWideToUtf8Str(target.destination), length, result.Flatten()},
                           &transfer.run->downloadedBytes);
}

TransferResult LongerThanAnnounced() {
  LogError("InternetGetRequestEx : File downloading more than the content length. File download deleted and "
           "download failed. \n");
  return TransferResult::Own(kResultLongerThanAnnounced);
}

TransferResult Guarded(const char* op, const std::function<TransferResult()>& transfer) {
  try {
    return transfer();
  } catch (const std::exception&) {
  } catch (...) {
  }
  LogError("Error caught in %s\n", op);
  return TransferResult::Own(kResultGeneralFailure);
}

// --- the plain path: one GET, its body through the read loop into a
// temporary file (or memory), checked against the announced length,
// decompressed when it is gzip, and moved into place ---

namespace {

const char kPlainOp[] = "InternetGetRequestEx";

// Hands over a body that arrived whole: decompresses a gzip answer (a
// failed decompression repeats the whole request without gzip), returns a
// get-data body in memory, or moves a download onto its destination.
TransferResult Deliver(const Transfer& transfer, const RequestTarget& target, BodySink* body, bool bandwidth,
                       bool gzipAnswer) {
  HttpRequestOptions* options = transfer.options;
  if (gzipAnswer) {
    LogInfo("InternetGetRequestEx : Successfully downloaded the Gzip compressed file from the server %S \n",
            target.url.host.c_str());
    LogInfo("InternetGetRequestEx : Need to decompress the file\n");
    if (options->observer) options->observer->Invalidate();
    std::string plain;
    const bool inflated = body->inMemory() ? body->memory().empty() || InflateGzip(body->memory(), &plain)
                                           : DecompressGzipFileInPlace(body->path()) == 0;
    if (!inflated) {
      LogError("InternetGetRequestEx : File Decompression failure. So need to download the original file.\n");
      const std::wstring failed = target.destination.empty()
                                      ? TemporaryFilePath(target.kind, target.destination,
                                                          transfer.settings.tempFolder, GetCurrentThreadId())
                                      : target.destination;
      CountGzipFailure(transfer.settings.keys, failed);
      options->lastModified.clear();
      options->m_enableGzipCompression = 0;
      return PlainTransfer(transfer, target, bandwidth);
    }
    if (body->inMemory() && !body->memory().empty()) body->memory() = std::move(plain);
    LogInfo("InternetGetRequestEx : File Decompressed successfully.\n");
  }
  if (body->inMemory()) LogDebug("Data in memory : %s\n", body->memory().c_str());
  TransferResult result = body->Deliver(transfer.memoryOut);
  if (!result.ok()) {
    LogError("InternetGetRequestEx : could n't copy from %S file to %S ,\n", body->path().c_str(),
             target.destination.c_str());
  } else if (!body->inMemory()) {
    LogInfo("InternetGetRequestEx : Successfully downloaded the file %S from the server %S to the destination file "
            "%S \n",
            target.url.path.c_str(), target.url.host.c_str(), target.destination.c_str());
  }
  return result;
}

// The body of a 200 answer: read into the sink, checked against the
// announced length, and handed over.
TransferResult ReceiveBody(const Transfer& transfer, const RequestTarget& target, RequestHandles* handles,
                           const Answer& answer, bool bandwidth, bool gzipAnswer) {
  // Without an outside download a missing length counts as 0, so a body
  // that arrives is longer than announced.
  const bool lengthKnown = (answer.lengthKnown && answer.length != 0) || !transfer.options->outsideDownload;
  BodySink sink(transfer, target);
  TransferResult result = sink.Create(lengthKnown);
  if (!result.ok()) {
    LogError("InternetGetRequestEx :  Error in CreateFile --> %d \n", result.Flatten());
    return result;
  }
  sink.BeginProgress(transfer.options->progress, ProgressStart{target.url.path, lengthKnown, answer.length, 0});
  const DWORD start = GetTickCount();
  BodySpec spec;
  spec.op = kPlainOp;
  spec.retryLine = "InternetGetRequestEx : second attempt to recover from previous error\n";
  spec.lengthKnown = lengthKnown;
  spec.length = answer.length;
  spec.rateKBps = bandwidth ? transfer.settings.rateKBps : 0;
  BodyOutcome body = ReadBody(transfer, target, handles, spec, &sink);
  result = sink.Close(body.result);
  LogInfo("InternetGetRequestEx : Total Time Taken for download : %d seconds\n",
          static_cast<int>((GetTickCount() - start) / 1000));
  LogInfo("InternetGetRequestEx : Total bytes downloaded : %llu \n", body.received);
  if (lengthKnown) {
    // A body that could not be mended ends here, where its size tells.
    if (body.recoveryFailed) result = TransferResult::Success();
    if (result.ok() && sink.size() == answer.length) {
      LogInfo("InternetGetRequestEx : File completely downloaded..!\n");
    } else if (result.ok()) {
      LogError("InternetGetRequestEx : Only partial file downloaded. GetFileSize returns :  %llu\n", sink.size());
      result = TransferResult::Own(kResultPartialFile);
    }
  } else if (result.ok()) {
    LogInfo("InternetGetRequestEx: File downloaded successfully without checking the contentlength \n");
  } else {
    LogError("InternetGetRequestEx: More than 4GB file cannot download and error %lu\n",
             static_cast<unsigned long>(result.Flatten()));
  }
  if (!result.ok()) return result;
  return Deliver(transfer, target, &sink, bandwidth, gzipAnswer);
}

TransferResult PlainGet(const Transfer& transfer, const RequestTarget& target, bool bandwidth,
                        unsigned long long* announced) {
  const HttpRequestOptions* options = transfer.options;
  RequestHandles handles;
  const Answer answer = OpenAnswer(transfer, target,
                                   AnswerTexts{kPlainOp, "InternetGetRequestEx :File not modified since the time: %S\n",
                                               "InternetGetRequestEx : Failed with the http status code, %d \n"},
                                   &handles);
  if (!answer.result.ok()) return answer.result;
  *announced = answer.length;
  bool gzipAnswer = false;
  if (options->m_enableGzipCompression == 1 || options->m_enableGzipCompression == 2) {
    const wchar_t* name = options->m_enableGzipCompression == 2 ? L"Cloud-Content-Encoding" : L"Content-Encoding";
    std::wstring encoding = QueryHeaderText(handles.request.get(), WINHTTP_QUERY_CUSTOM, name);
    if (encoding.empty()) {
      LogInfo("Response Header doesn't contain %S. \n", name);
    } else if (HeaderNamesGzip(encoding)) {
      LogInfo("Response Header contains %S as gzip \n", name);
      gzipAnswer = true;
    }
  }
  return ReceiveBody(transfer, target, &handles, answer, bandwidth, gzipAnswer);
}

}  // namespace

TransferResult PlainTransfer(const Transfer& transfer, const RequestTarget& target, bool bandwidth) {
  LogDebug("@@@@@@@@ Inside InternetGetRequestEx Method @@@@@@@@ \n");
  LogInfo("InternetGetRequestEx : Plexmoor Server & Port -> %S : %d \n", target.url.host.c_str(), target.url.port);
  LogInfo("InternetGetRequestEx : URL to Get -> %S \n", target.url.path.c_str());
  if (bandwidth) {
    LogInfo("InternetGetRequestEx : BitRateDownload Enabled with rate -> %d KBps:  \n",
            static_cast<int>(transfer.settings.rateKBps));
  }
  unsigned long long announced = 0;
  TransferResult result = Guarded(kPlainOp, [&] { return PlainGet(transfer, target, bandwidth, &announced); });
  RecordDownload(transfer, target, announced, result);
  LogDebug("@@@@@@@@ End Of InternetGetRequestEx Method @@@@@@@@ \n");
  return result;
}

}  // namespace engine
