// Bandwidth-limited downloads: the choice between the window method (the
// plain path with its pacer) and the block method, where every block is its
// own ranged request through the transfer's read loop, followed by a pause.
#include <string>

#include "log/agent_log.h"
#include "transport/request_engine.h"
#include "transport/transfer.h"

using namespace engine;

namespace {

const char kOp[] = "InternetGetRequestByBitrate";

// The block loop for a body without a known length: blocks until the
// server refuses the range (the end). `received` grows by what arrived.
TransferResult DownloadFileMoreThan4GBbyBitrate(const Transfer& transfer, const RequestTarget& target,
                                                unsigned long long blockSize, GatheringSink* file,
                                                unsigned long long* received) {
  LogInfo("DownloadFileMoreThan4GBbyBitrate: BytesToRead %lu", static_cast<unsigned long>(blockSize));
  BodySpec spec;
  spec.op = "DownloadFileMoreThan4GBbyBitrate";
  spec.blockSize = blockSize;
  TransferResult result = RunBlocks(transfer, target, spec, file, received);
  if (!result.ok()) {
    LogError("DownloadFileMoreThan4GBbyBitrate : Failed with the http status code %d \n", result.Flatten());
  }
  return result;
}

// The block method; `delegated` tells a body handed to the plain path,
// which keeps its own transfer record.
TransferResult Blocks(const Transfer& transfer, const RequestTarget& target, unsigned long long* recorded,
                      bool* delegated) {
  const HttpRequestOptions* options = transfer.options;
  LogDebug("@@@@@@@@ Inside InternetGetRequestByBitrate Method @@@@@@@@ \n");
  LogInfo("InternetGetRequestByBitrate : Plexmoor Server & Port -> %S : %d \n", target.url.host.c_str(),
          target.url.port);
  LogInfo("InternetGetRequestByBitrate : URL to Get -> %S \n", target.url.path.c_str());
  const unsigned long long blockSize = static_cast<unsigned long long>(transfer.settings.rateKBps) * 500;
  LogInfo("InternetGetRequestByBitrate: Block of bytes to read: %u\n", static_cast<unsigned>(blockSize));
  if (options->m_externalVendorServer != 1) LogInfo("sending head request\n");
  AnswerTexts texts{kOp, "InternetGetRequestByBitrate : File not modified since the time: %S\n",
                    "InternetGetRequestByBitrate : Failed with the http status code: %d \n"};
  // An outside server is probed with a ranged GET, the agent's with a HEAD.
  texts.kind = options->m_externalVendorServer == 1 ? RequestVerb::kGet : RequestVerb::kHead;
  texts.probe = true;
  const Answer probe = OpenAnswer(transfer, target, texts);
  if (!probe.result.ok()) return probe.result;
  if ((!probe.lengthKnown || probe.length == 0) && options->outsideDownload) {
    LogInfo("InternetGetRequestByBitrate: Contenet length header not retrieved.. Downloading without bitrate enabled "
            "\n");
    *delegated = true;
    return PlainTransfer(transfer, target, /*bandwidth=*/false);
  }
  // No length and none accepted: as on the plain path, whatever arrives is
  // more than announced. Success with an empty file would hide the body.
  if (!probe.lengthKnown && !probe.lengthUnusable) return LongerThanAnnounced();
  *recorded = probe.length;

  BodySink sink(transfer, target);
  TransferResult result = sink.Create(probe.lengthKnown);
  if (!result.ok()) {
    LogError("InternetGetRequestByBitrate: Error occured while creating the file --> %d \n", result.Flatten());
    return result;
  }
  sink.BeginProgress(options->progress, ProgressStart{target.url.path, probe.lengthKnown, probe.length, 0});
  unsigned long long received = 0;
  if (probe.lengthKnown) {
    BodySpec spec;
    spec.op = kOp;
    spec.lengthKnown = true;
    spec.length = probe.length;
    spec.blockSize = blockSize;
    result = RunBlocks(transfer, target, spec, &sink, &received);
    LogInfo("InternetGetRequestByBitrate: Total bytes read = %llu\n", received);
  } else {
    result = DownloadFileMoreThan4GBbyBitrate(transfer, target, blockSize, &sink, &received);
    *recorded = received;
  }
  result = sink.Close(result);
  if (!result.ok()) return result;
  result = sink.Deliver(transfer.memoryOut);
  if (!result.ok()) {
    LogError("InternetGetRequestByBitrate : could n't copy from .tmp file, errorcode --> %d \n", result.Flatten());
  } else if (!sink.inMemory()) {
    LogInfo("InternetGetRequestByBitrate : Successfully downloaded the file %S from the server %S\n",
            target.url.path.c_str(), target.url.host.c_str());
  }
  return result;
}

}  // namespace

namespace engine {

TransferResult BlockTransfer(const Transfer& transfer, const RequestTarget& target) {
  unsigned long long recorded = 0;
  bool delegated = false;
  TransferResult result = Guarded(kOp, [&] { return Blocks(transfer, target, &recorded, &delegated); });
  // A body handed to the plain path has its record from there.
  if (!delegated && result.RangesRefused() && transfer.options->m_externalVendorServer == 1) {
    LogInfo("InternetGetRequestByBitrate: InternetGetRequestByBitrate : External server doesnot support range "
            "request. Downloading without bitrate enabled \n");
    result = PlainTransfer(transfer, target, /*bandwidth=*/false);
  } else if (!delegated) {
    RecordDownload(transfer, target, recorded, result);
  }
  LogDebug("@@@@@@@@ End Of InternetGetRequestByBitrate Method @@@@@@@@ \n");
  return result;
}

}  // namespace engine

int InternetGetRequestLimited(const TransferSettings& settings, TransferRunState* run, const RequestTarget& target,
                              std::string* memoryOut, HttpRequestOptions* options) {
  // The window method is the plain entry with its bandwidth flag, resume
  // and all.
  return InternetGetDownload(settings, run, target, memoryOut, options,
                             DownloadMethod{true, false, settings.blockMethod});
}
