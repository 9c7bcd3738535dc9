// The engine's entry: which path a download takes, as the settings and its
// caller choose it.
#include "transport/request_engine.h"

#include "log/agent_log.h"
#include "transport/transfer.h"

using namespace engine;

namespace {

bool IsDocumentUrl(const std::wstring& url) {
  return url.find(L".xml") != std::wstring::npos || url.find(L".json") != std::wstring::npos;
}

}  // namespace

namespace engine {

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
