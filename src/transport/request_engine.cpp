// The plain path: one GET, its body through the transfer's read loop into a
// temporary file (or memory), checked against the announced length,
// decompressed when it is gzip, and moved into place.
#include "transport/request_engine.h"

#include "log/agent_log.h"
#include "transport/gzip_file.h"
#include "transport/transfer.h"
#include "util/text.h"

using namespace engine;

namespace {

const char kOp[] = "InternetGetRequestEx";

bool IsDocumentUrl(const std::wstring& url) {
  return url.find(L".xml") != std::wstring::npos || url.find(L".json") != std::wstring::npos;
}

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
      CountGzipFailure(target.destination.empty() ? TemporaryFilePath(target.kind, target.destination,
                                                                      transfer.settings.tempFolder,
                                                                      GetCurrentThreadId())
                                                  : target.destination);
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
  sink.BeginProgress(transfer.options->progress, ProgressStartFor(target, lengthKnown, answer.length, 0));
  const DWORD start = GetTickCount();
  const BodySpec spec{kOp, "InternetGetRequestEx : second attempt to recover from previous error\n", 0, lengthKnown,
                      answer.length, bandwidth ? transfer.settings.rateKBps : 0};
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
                                   AnswerTexts{kOp, "InternetGetRequestEx :File not modified since the time: %S\n",
                                               "InternetGetRequestEx : Failed with the http status code, %d \n", 0,
                                               false},
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

namespace engine {

TransferResult PlainTransfer(const Transfer& transfer, const RequestTarget& target, bool bandwidth) {
  LogDebug("@@@@@@@@ Inside InternetGetRequestEx Method @@@@@@@@ \n");
  LogInfo("InternetGetRequestEx : Plexmoor Server & Port -> %S : %d \n", target.url.host.c_str(), target.url.port);
  LogInfo("InternetGetRequestEx : URL to Get -> %S \n", target.url.path.c_str());
  if (bandwidth) {
    LogInfo("InternetGetRequestEx : BitRateDownload Enabled with rate -> %d KBps:  \n",
            static_cast<int>(transfer.settings.rateKBps));
  }
  unsigned long long announced = 0;
  TransferResult result = Guarded(kOp, [&] { return PlainGet(transfer, target, bandwidth, &announced); });
  RecordDownload(transfer.settings, target, announced, result);
  LogDebug("@@@@@@@@ End Of InternetGetRequestEx Method @@@@@@@@ \n");
  return result;
}

TransferResult ChooseDownload(const Transfer& transfer, const RequestTarget& target, DownloadMethod method) {
  HttpRequestOptions* options = transfer.options;
  // Without a rate the block method has no block size: a limit of nothing
  // is no limit.
  const bool blocks = method.blocks && transfer.settings.rateKBps != 0;
  // Only the plain and window methods know noResume.
  if ((blocks || !method.noResume) && !IsDocumentUrl(target.url.path)) {
    LogInfo("InternetGetDownloader : Plexmoor Server & Port -> %S : %d \n", target.url.host.c_str(), target.url.port);
    if (transfer.settings.resumable && target.kind == RequestKind::kDownloadFile) {
      options->m_enableGzipCompression = 0;
      TransferResult result = ResumeTransfer(transfer, target, method.bandwidth, blocks);
      if (!blocks) LogInfo("InternetGetDownloader : ResumeGetRequestEx errorCode = %d \n", result.Flatten());
      if (!(result.RangesRefused() && options->m_externalVendorServer == 1)) return result;
      LogInfo("InternetGetDownloader : %s() failed due to errorCode = %d, trying to download using "
              "InternetGetRequestEx() \n",
              blocks ? "ResumeGetRequestByBitrate" : "ResumeGetRequestEx", result.Flatten());
      // After the block method the whole body comes without a limit.
      return PlainTransfer(transfer, target, method.bandwidth && !blocks);
    }
  }
  if (blocks) return BlockTransfer(transfer, target);
  return PlainTransfer(transfer, target, method.bandwidth);
}

}  // namespace engine

std::wstring TemporaryFilePath(RequestKind kind, const std::wstring& destination, const std::wstring& tempFolder,
                               DWORD threadId) {
  if (kind == RequestKind::kGetData) return tempFolder + L"\\rz" + std::to_wstring(threadId) + L".tmp";
  return destination + std::to_wstring(threadId) + L".tmp";
}

int InternetGetDownload(const TransferSettings& settings, TransferRunState* run, const RequestTarget& target,
                        std::string* memoryOut, HttpRequestOptions* options, const DownloadMethod& method) {
  HttpRequestOptions defaults;
  const Transfer transfer{settings, run, options ? options : &defaults, memoryOut};
  return ChooseDownload(transfer, target, method).Flatten();
}

int InternetGetRequest(const TransferSettings& settings, TransferRunState* run, const RequestTarget& target,
                       std::string* memoryOut, HttpRequestOptions* options, bool bandwidth) {
  HttpRequestOptions defaults;
  const Transfer transfer{settings, run, options ? options : &defaults, memoryOut};
  return PlainTransfer(transfer, target, bandwidth).Flatten();
}
