#include "transport/resume_download.h"

#include <cstdio>
#include <vector>

#include "agent/registry.h"
#include "log/agent_log.h"
#include "log/seconds_clock.h"
#include "util/files.h"
#include "util/raw_registry.h"
#include "util/registry_paths.h"
#include "util/text.h"

using namespace engine;

namespace {

const char kDefaultRepository[] = "DownloadRepository\\";
const DWORD kDefaultPeriodicLimit = 1048576;
const DWORD kDeleteRetryPauseMs = 5000;

bool RegistryKeyPresent(const std::string& key) {
  UniqueHKey handle;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, ChangeUtf8ToWideStr(key.c_str()).c_str(), 0,
                       KEY_QUERY_VALUE | KEY_WOW64_32KEY, handle.put()) == ERROR_SUCCESS;
}

std::string RecordKey(const std::string& recordsKey, const std::string& uniqueId) {
  return recordsKey + "\\" + uniqueId;
}

void WriteNumber(const std::string& key, const char* name, unsigned long long number, DWORD type) {
  writeValue(HKEY_LOCAL_MACHINE, key.c_str(), name, std::to_string(number).c_str(), type);
}

// Adds one to a DWORD counter; a counter that cannot be read starts at 1.
DWORD IncrementCounter(const std::string& key, const char* name) {
  DWORD count = 0;
  if (ReadViewDword(key.c_str(), name, &count, 0) != ERROR_SUCCESS) count = 0;
  WriteNumber(key, name, count + 1, REG_DWORD);
  return count + 1;
}

// Milliseconds since 1970 in UTC, as the record keeps its retry time.
std::string RetryTimeText() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return std::to_string((ticks - 116444736000000000ULL) / 10000);
}

// In lower case as Windows folds it.
std::wstring LowerCase(std::wstring text) {
  if (!text.empty()) CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

void TouchTracking(const reg_path::AgentKeys& keys) {
  WriteNumber(keys.tracking, "LastKQDataModifiedTime", static_cast<unsigned long long>(GetTimeInSeconds()),
              REG_DWORD);
}

void CountResumeFailure(const reg_path::AgentKeys& keys, int result) {
  DWORD failures = IncrementCounter(keys.fileMetaData, "DownloadFailureCount");
  LogInfo("DownloadFailureCount set to %d\n", static_cast<int>(failures));
  char line[256];
  snprintf(line, sizeof(line), "\tResume Download failed with error code : %d and total failed count value = %d\n",
           result, static_cast<int>(failures));
  WriteErrorLog(line);
  IncrementCounter(keys.tracking + "\\ResumeDownloadDetails", "RESUME_DOWNLOAD_FAILURE_COUNT");
  TouchTracking(keys);
}

// The HEAD before the download: status, length and Last-Modified.
Answer PreDownloadHandling(const Transfer& transfer, const RequestTarget& target) {
  AnswerTexts texts{"PreDownloadHandling", "PreDownloadHandling :File not modified since the time: %S\n",
                    "PreDownloadHandling : Failed with the http status code, %d \n"};
  texts.kind = RequestVerb::kHead;
  texts.probe = true;
  Answer pre = OpenAnswer(transfer, target, texts);
  if (!pre.result.ok()) {
    LogError("PreDownloadHandling: ERROR in GetInternetRequestHandle - %d\n", pre.result.Flatten());
    return pre;
  }
  if (pre.lengthKnown && pre.length == 0) pre.lengthKnown = false;
  InsertResumeDownloadFileSizeParams(&transfer.options->expectedSizes, target.url.path,
                                     pre.lengthKnown ? static_cast<long long>(pre.length) : 0);
  return pre;
}

// Hands over a finished download and writes its access line.
TransferResult PostDownloadHandling(DownloadResumeHandler* handler, const RequestTarget& target,
                                    TransferResult result) {
  LogInfo("Proceeding for PostDownloadHandling \n");
  if (result.ok()) {
    result = handler->SaveToDestFile();
    if (result.ok()) {
      handler->CleanFileAndRegistry();
      LogInfo("PostDownloadHandling : Successfully downloaded the file %S from the server %S to the destination file "
              "%S \n",
              target.url.path.c_str(), target.url.host.c_str(), target.destination.c_str());
    } else {
      LogError("PostDownloadHandling : failed\n");
    }
  }
  handler->WriteAccessRecord(result.Flatten());
  return result;
}

}  // namespace

ResumeDecision DecideResumeStart(bool recordUsable, unsigned long long recordedSize, unsigned long long fileSize,
                                 bool lengthKnown, unsigned long long contentLength) {
  ResumeDecision decision;
  if (!recordUsable) return decision;
  if (fileSize == recordedSize) {
    decision.resume = true;
    decision.offset = recordedSize;
  } else if (lengthKnown && fileSize > contentLength) {
    LogInfo("GetFileDataFromRegistry temp file size is greater than content length..\n");
  } else if (fileSize > recordedSize) {
    decision.resume = true;
    decision.offset = fileSize;
  }
  if (lengthKnown && decision.offset > contentLength) decision = ResumeDecision();
  return decision;
}

void InsertResumeDownloadFileSizeParams(ExpectedSizes* sizes, const std::wstring& url, long long size) {
  if (url.empty()) {
    LogError("InsertResumeDownloadFileSizeParams: Invalid download url retrieved \n");
    return;
  }
  LogInfo("InsertResumeDownloadFileSizeParams: Adding urlToDownload: %S \t filesize: %lld \n", url.c_str(), size);
  (*sizes)[url] = size;
}

int isFileDownloadCompleted(const ExpectedSizes& sizes, bool directDownload, const std::wstring& downloadUrl,
                            const std::wstring& localPath, long long bytesRead) {
  if (downloadUrl.empty()) {
    LogError("isFileDownloadCompleted: Invalid downloadurl retrieved \n");
    return 0;
  }
  LogInfo("isFileDownloadCompleted: downloadUrl: %S \t localFilePath: %S \t totalBytesReaded: %lld \n",
          downloadUrl.c_str(), localPath.c_str(), bytesRead);
  const bool direct = directDownload;
  if (direct) LogInfo("%s : DirectDownload Enabled.\n", "isFileDownloadCompleted");
  const std::wstring url = LowerCase(downloadUrl);
  for (const auto& entry : sizes) {
    const std::wstring stored = LowerCase(entry.first);
    const bool match = direct ? url.find(stored) != std::wstring::npos : stored.find(url) != std::wstring::npos;
    if (!match) continue;
    LogInfo("isFileDownloadCompleted: DownloadUrl found for filesize check.. Retrieved file size is %lld \n",
            entry.second);
    if (entry.second == 0) {
      LogInfo("isFileDownloadCompleted: File size is 0. Skipping filesize check. \n");
      return 0;
    }
    return entry.second != bytesRead ? ERROR_WINHTTP_CONNECTION_ERROR : 0;
  }
  return 0;
}

DownloadResumeHandler::DownloadResumeHandler(const RequestTarget& target, const std::string& agentFolder,
                                             const std::string& recordsKey)
    : GatheringSink("ProcessDownloadedBuffer"),
      url_(target.url),
      destination_(target.destination),
      agentFolder_(agentFolder),
      recordsKey_(recordsKey),
      fileKey_(ChangeWideToUtf8Str(url_.path)) {
  // The access line's start is the handler's.
  access_.startStamp = AccessStartStamp();
  access_.port = url_.port;
  access_.requestType = target.kind;
}

void DownloadResumeHandler::WriteAccessRecord(int result) {
  access_.server = ChangeWideToUtf8Str(url_.host);
  access_.urlPath = fileKey_;
  PrintHTTPAccessLog(agentFolder_, access_, result);
}

DownloadResumeHandler::~DownloadResumeHandler() {
  file_.reset();
  if (!uniqueId_.empty()) {
    deleteValue(HKEY_LOCAL_MACHINE, RecordKey(recordsKey_, uniqueId_).c_str(), "downloadInProgress");
  }
}

void DownloadResumeHandler::FormUniqueFileName() {
  char id[96];
  snprintf(id, sizeof(id), "%lu%lu%lu.download", static_cast<unsigned long>(GetTimeInSeconds()),
           static_cast<unsigned long>(GetCurrentProcessId()), static_cast<unsigned long>(GetCurrentThreadId()));
  uniqueId_ = id;
  LogInfo("Formed Unique id for the file is %s\n", uniqueId_.c_str());
  writeValue(HKEY_LOCAL_MACHINE, recordsKey_.c_str(), fileKey_.c_str(), uniqueId_.c_str(), REG_SZ);
}

void DownloadResumeHandler::Initialize(const std::string& serverLastModified, bool lengthKnown,
                                       unsigned long long contentLength) {
  LogDebug("Inside DownloadResumeHandler::Initialize\n");
  serverLastModified_ = serverLastModified;
  const bool keyPresent = RegistryKeyPresent(recordsKey_);
  LogInfo(keyPresent ? "reading folder info\n" : "failure in openeing reg key\n");
  std::string repository;
  ReadViewString(recordsKey_.c_str(), "IntermediateRepositoryName", &repository, 0);
  if (repository.empty() || repository.size() > 255 || !IsContainedRelativePath(repository)) {
    // The repository lives under the agent folder; a name that would leave
    // it is replaced by the default.
    repository = kDefaultRepository;
    writeValue(HKEY_LOCAL_MACHINE, recordsKey_.c_str(), "IntermediateRepositoryName", repository.c_str(), REG_SZ);
  }
  if (repository.back() != '\\') repository += '\\';
  if (keyPresent) LogInfo("reading periodic limit  info\n");
  DWORD limit = 0;
  if (ReadViewDword(recordsKey_.c_str(), "InterSaveByteLimit", &limit, 0) != ERROR_SUCCESS || limit == 0) {
    limit = kDefaultPeriodicLimit;
    WriteNumber(recordsKey_, "InterSaveByteLimit", limit, REG_DWORD);
  }
  blockBytes_ = limit;
  LogInfo("Download folder = %S\tperiodic save limit = %lu\n", ChangeUtf8ToWideStr(repository.c_str()).c_str(),
          static_cast<unsigned long>(blockBytes_));

  ReadViewString(recordsKey_.c_str(), fileKey_.c_str(), &uniqueId_, 0);
  // The id names a file in the repository: anything but a plain name is
  // not ours and is replaced.
  const bool usable = !uniqueId_.empty() && uniqueId_.find_first_of("\\/:") == std::string::npos &&
                      IsContainedRelativePath(uniqueId_);
  const std::wstring folder = ChangeUtf8ToWideStr((agentFolder_ + repository).c_str());
  CreateFolderTree(folder.back() == L'\\' ? folder.substr(0, folder.size() - 1) : folder);
  if (!usable) {
    FormUniqueFileName();
    path_ = folder + ChangeUtf8ToWideStr(uniqueId_.c_str());
    if (!keyPresent) {
      LogInfo("Setting variable for DOWNLOAD_FOLDER and url  %s & id - %d\n", fileKey_.c_str(),
              static_cast<int>(GetCurrentThreadId()));
    }
    DeleteFileW(path_.c_str());
  } else {
    LogInfo("Unique id for the file is %s\n", uniqueId_.c_str());
    path_ = folder + ChangeUtf8ToWideStr(uniqueId_.c_str());
    GetFileDataFromRegistry(lengthKnown, contentLength);
  }
  LogInfo("Temporary file path is %S\n", path_.c_str());
  LogInfo("ResumeGetRequestEx : To update download count\n");
  IncrementCounter(recordsKey_, "DownloadCount");
  LogDebug("End of DownloadResumeHandler::Initialize\n");
}

void DownloadResumeHandler::GetFileDataFromRegistry(bool lengthKnown, unsigned long long contentLength) {
  const std::string key = RecordKey(recordsKey_, uniqueId_);
  RawRegistryValue partial;
  bool recordUsable = false;
  unsigned long long recorded = 0;
  std::string recordedModified;
  ReadViewString(key.c_str(), "LastModifiedTime", &recordedModified, 0);
  if (!RegistryKeyPresent(key)) {
    LogInfo("GetFileDataFromRegistry; Registry subkey not found\n");
  } else {
    LogInfo("GetFileDataFromRegistry last modified time in registry   %s from server %s\n", recordedModified.c_str(),
            serverLastModified_.c_str());
    if (EqualsNoCase(recordedModified, serverLastModified_.c_str())) {
      if (ReadRawRegistryValue(key.c_str(), "PartialFileSize", &partial) == ERROR_SUCCESS && partial.type == REG_QWORD &&
          partial.data.size() == sizeof(recorded)) {
        memcpy(&recorded, partial.data.data(), sizeof(recorded));
        recordUsable = true;
        LogInfo("Start Range: %llu \n", recorded);
      } else {
        LogError("ERROR in fetching registry \n");
      }
    }
  }
  unsigned long long fileSize = 0;
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &info)) {
    fileSize = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  }
  if (recordUsable) {
    LogInfo("File size: %llu \n", fileSize);
    LogInfo("GetFileDataFromRegistry partial downloaded filesize  in registry %llu from file  %llu\n", recorded,
            fileSize);
  }
  ResumeDecision decision = DecideResumeStart(recordUsable, recorded, fileSize, lengthKnown, contentLength);
  startOffset_ = decision.offset;
  if (!decision.resume) {
    DeleteFileW(path_.c_str());
    return;
  }
  std::string retryTime;
  ReadViewString(key.c_str(), "LastRetryTime", &retryTime, 0);
  lastRetryTime_ = _strtoui64(retryTime.c_str(), nullptr, 10);
  if (ReadViewDword(key.c_str(), "RetryCount", &retryCount_, 0) != ERROR_SUCCESS) retryCount_ = 0;
}

TransferResult DownloadResumeHandler::OpenTemporaryFile(BodyObserver* observer) {
  observer_ = observer;
  opened_ = true;
  file_.reset(CreateFileW(path_.c_str(), FILE_APPEND_DATA | GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) {
    TransferResult failed = TransferResult::LastError();
    LogError("File Handle is NULL\n");
    return failed;
  }
  if (observer_) {
    // A resumed file is seen from its first byte: what an earlier run wrote,
    // then what this one appends.
    observer_->Restart();
    std::vector<char> block(1024 * 1024);
    for (unsigned long long left = startOffset_; left > 0;) {
      DWORD read = 0;
      const DWORD want = static_cast<DWORD>(left < block.size() ? left : block.size());
      if (!ReadFile(file_.get(), block.data(), want, &read, nullptr) || read == 0) {
        observer_->Invalidate();
        break;
      }
      observer_->Feed(block.data(), read);
      left -= read;
    }
  }
  return TransferResult::Success();
}

void DownloadResumeHandler::Flushed() {
  FlushFileBuffers(file_.get());
  LogDebug("File updated with data.\n");
  // The record follows the file: what it says is on disk is on disk.
  const std::string key = RecordKey(recordsKey_, uniqueId_);
  const unsigned long long partial = startOffset_ + written_;
  WriteNumber(key, "PartialFileSize", partial, REG_QWORD);
  writeValue(HKEY_LOCAL_MACHINE, key.c_str(), "LastModifiedTime", serverLastModified_.c_str(), REG_SZ);
  const std::string retry = RetryTimeText();
  writeValue(HKEY_LOCAL_MACHINE, key.c_str(), "LastRetryTime", retry.c_str(), REG_SZ);
  LogDebug("updated registry entries  %llu \n", partial);
}

TransferResult DownloadResumeHandler::ProcessDownloadedBuffer(const char* data, size_t count, bool periodic) {
  LogTrace("Inside ProcessDownloadedBuffer\n");
  const bool any = count > 0 || !gathered_.empty();
  TransferResult result = GatheringSink::Write(data, count);
  // A flush of nothing writes nothing, the record included.
  if (periodic || !result.ok() || !any) return result;
  result = Flush();
  if (!result.ok()) return result;
  const std::string key = RecordKey(recordsKey_, uniqueId_);
  LogInfo("updated registry entries size  %llu and last modified time %S retry time %d\n", startOffset_ + written_,
          ChangeUtf8ToWideStr(serverLastModified_.c_str()).c_str(), static_cast<int>(retryCount_));
  IncrementCounter(key, "RetryCount");
  deleteValue(HKEY_LOCAL_MACHINE, key.c_str(), "downloadInProgress");
  return result;
}

void DownloadResumeHandler::CleanFileAndRegistry() {
  LogInfo("Inside CleanFileAndRegistry\n");
  file_.reset();
  if (!DeleteFileW(path_.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    LogError("temp file deletion failed with error %d..reattempting after 5secs\n", static_cast<int>(GetLastError()));
    Sleep(kDeleteRetryPauseMs);
    DeleteFileW(path_.c_str());
  }
  deleteValue(HKEY_LOCAL_MACHINE, recordsKey_.c_str(), fileKey_.c_str());
  deleteRegistryKey(HKEY_LOCAL_MACHINE, RecordKey(recordsKey_, uniqueId_).c_str());
  uniqueId_.clear();
}

TransferResult DownloadResumeHandler::SaveToDestFile() {
  LogInfo("Inside SaveToDestFile from %S to %S\n", path_.c_str(), destination_.c_str());
  file_.reset();
  const std::wstring folder = FolderOf(destination_);
  if (!folder.empty()) CreateFolderTree(folder);
  // Moved rather than copied, so the destination never holds half a body;
  // the repository may be on another volume, where the move copies.
  if (!MoveFileExW(path_.c_str(), destination_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    DWORD error = GetLastError();
    LogError("InternetGetRequestEx : could n't copy from %S file to %S ,\n", path_.c_str(), destination_.c_str());
    return TransferResult::System(error ? error : ERROR_WRITE_FAULT);
  }
  return TransferResult::Success();
}


namespace {

// How a resumable download fetches its body: paced by windows, or in blocks
// of `blockSize` bytes; `op` names the path in its lines.
struct ResumeMethod {
  bool bandwidth = false;
  unsigned long long blockSize = 0;
  const char* op = "ResumeGetRequestEx";
};
struct FetchOutcome {
  TransferResult result = TransferResult::Success();
  unsigned long long received = 0;
  // The GET was refused: nothing arrived, and the status is the result.
  bool getFailed = false;
};

// The body from the resume offset in one ranged request.
FetchOutcome FetchRange(const Transfer& transfer, const RequestTarget& target, DownloadResumeHandler* handler,
                        const Answer& pre, bool bandwidth) {
  FetchOutcome fetched;
  const unsigned long long start = handler->startOffset();
  RequestHandles handles;
  RangeAnswer answer =
      AskRange(transfer, target, &handles, RangeRequest{start, pre.lengthKnown, pre.length - 1, "ResumeGetRequestEx"});
  if (handles.status == HTTP_STATUS_MOVED || handles.status == HTTP_STATUS_REDIRECT) {
    transfer.options->redirectUrl = QueryHeaderText(handles.request.get(), WINHTTP_QUERY_CONTENT_LOCATION);
    LogInfo("Redirection url is %S\n", transfer.options->redirectUrl.c_str());
  }
  // The end of an open-ended body: nothing more to fetch.
  if (answer.end && !pre.lengthKnown) return fetched;
  // The whole body never joins a partial file.
  if (answer.whole && start != 0) {
    fetched.result = LongerThanAnnounced();
    return fetched;
  }
  if (!answer.result.ok() || answer.end) {
    fetched.getFailed = true;
    fetched.result = answer.end ? TransferResult::Status(handles.status) : answer.result;
    return fetched;
  }
  BodySpec spec;
  spec.op = "ResumeGetRequestEx";
  spec.retryLine = "ResumeGetRequestEx : second attempt to recover from previous error\n";
  spec.first = start;
  spec.lengthKnown = pre.lengthKnown;
  spec.length = pre.lengthKnown ? pre.length - start : 0;
  spec.rateKBps = bandwidth ? transfer.settings.rateKBps : 0;
  BodyOutcome body = ReadBody(transfer, target, &handles, spec, handler);
  fetched.received = body.received;
  fetched.result = body.result;
  if (body.rangeIgnored && start != 0) {
    fetched.result = TransferResult::Own(kResultLongerThanAnnounced);
  } else if (body.recoveryFailed && pre.lengthKnown) {
    // What could not be mended stays partial, for the next run.
    fetched.result = TransferResult::Success();
  }
  return fetched;
}

// The body from the resume offset: one ranged request, or blocks.
FetchOutcome FetchBody(const Transfer& transfer, const RequestTarget& target, DownloadResumeHandler* handler,
                       const Answer& pre, const ResumeMethod& method) {
  if (method.blockSize == 0) return FetchRange(transfer, target, handler, pre, method.bandwidth);
  FetchOutcome fetched;
  BodySpec spec;
  spec.op = method.op;
  spec.first = handler->startOffset();
  spec.lengthKnown = pre.lengthKnown;
  spec.length = pre.length;
  spec.blockSize = method.blockSize;
  fetched.result = RunBlocks(transfer, target, spec, handler, &fetched.received);
  return fetched;
}

// The result of a body that arrived, as far as it did: the last flush, the
// size check of an open-ended body, and the counters of a partial one.
TransferResult Conclude(const Transfer& transfer, const RequestTarget& target, DownloadResumeHandler* handler,
                        const Answer& pre, const FetchOutcome& fetched) {
  TransferResult result = fetched.result;
  const TransferResult flushed = handler->ProcessDownloadedBuffer(nullptr, 0, /*periodic=*/false);
  if (result.ok()) result = flushed;
  if (result.ok() && !pre.lengthKnown) {
    const int complete = isFileDownloadCompleted(transfer.options->expectedSizes, transfer.settings.directDownload,
                                                 target.url.path, target.destination,
                                                 static_cast<long long>(fetched.received));
    if (complete != 0) result = TransferResult::System(static_cast<DWORD>(complete));
  }
  if ((pre.lengthKnown && fetched.received < pre.length - handler->startOffset()) || !result.ok()) {
    LogError("ResumeGetRequestEx: Only partial content downloaded \n");
    if (result.ok()) result = TransferResult::System(ERROR_WINHTTP_TIMEOUT);
    CountResumeFailure(transfer.settings.keys, result.Flatten());
  }
  // Bytes that are not this body's, or a volume about to fill, leave
  // nothing to resume: the partial file and its record go, so no later run
  // appends to them.
  if (result.IsOwn(kResultLongerThanAnnounced) || result.IsSystem(ERROR_DISK_FULL)) handler->CleanFileAndRegistry();
  return result;
}

// From the resume offset to the end: the temporary file, the body, and how
// the run ends.
TransferResult FetchFromOffset(const Transfer& transfer, const RequestTarget& target, DownloadResumeHandler* handler,
                               const Answer& pre, const ResumeMethod& method) {
  const unsigned long long start = handler->startOffset();
  if (!pre.lengthKnown) {
    LogInfo("ResumeGetRequestEx: Filesize contains more than 4 GB \n");
    handler->GuardDiskSpace(transfer.settings.diskReserveBytes);
  }
  FetchOutcome fetched;
  fetched.result = handler->OpenTemporaryFile(transfer.options->observer);
  const DWORD begun = GetTickCount();
  if (fetched.result.ok()) {
    const ProgressStart progress{target.url.path, pre.lengthKnown, pre.length, start};
    handler->BeginProgress(transfer.options->progress, progress);
    fetched = FetchBody(transfer, target, handler, pre, method);
  }
  LogInfo("%s : Total Time Taken for download : %d seconds\n", method.op,
          static_cast<int>((GetTickCount() - begun) / 1000));
  LogInfo("%s : Total bytes downloaded : %llu \n", method.op, fetched.received);
  handler->access().receivedBytes = fetched.received;
  // A refused GET brought nothing: its status is the result, uncounted.
  if (fetched.getFailed) return PostDownloadHandling(handler, target, fetched.result);
  TransferResult result = Conclude(transfer, target, handler, pre, fetched);
  result = PostDownloadHandling(handler, target, result);
  LogDebug("@@@@@@@@ End Of %s Method @@@@@@@@ \n", method.op);
  return result;
}

// The probe, the record, and the body from where an earlier run stopped.
TransferResult ResumeSteps(const Transfer& transfer, const RequestTarget& target, DownloadResumeHandler* handler,
                           const ResumeMethod& method) {
  Answer pre = PreDownloadHandling(transfer, target);
  // No length and none accepted: the plain path's rule, so a body is never
  // taken as complete without a length to check it against.
  if (pre.result.ok() && !pre.lengthKnown && !transfer.options->outsideDownload) pre.result = LongerThanAnnounced();
  handler->access().contentLength = pre.length;
  // Every ending, a failed probe included, leaves its access line.
  if (!pre.result.ok()) return PostDownloadHandling(handler, target, pre.result);
  transfer.options->lastModifiedOut = pre.lastModified;
  handler->Initialize(ChangeWideToUtf8Str(pre.lastModified), pre.lengthKnown, pre.length);
  const unsigned long long start = handler->startOffset();
  LogInfo("Start Range: %llu \n", start);
  if (pre.lengthKnown && start == pre.length) {
    TransferResult done = PostDownloadHandling(handler, target, TransferResult::Success());
    LogDebug("@@@@@@@@ End Of %s Method @@@@@@@@ Full File already exist\n", method.op);
    return done;
  }
  return FetchFromOffset(transfer, target, handler, pre, method);
}

TransferResult ResumeDownload(const Transfer& transfer, const RequestTarget& target, const ResumeMethod& method) {
  LogDebug("@@@@@@@@ Inside %s Method @@@@@@@@ \n", method.op);
  LogInfo("httpRequestObjOld.m_externalVendorServer = %d \n", transfer.options->m_externalVendorServer);
  LogInfo("%s : URL to Get -> %S \n", method.op, target.url.path.c_str());
  if (method.bandwidth) {
    LogInfo("%s : BitRateDownload Enabled with rate -> %d KBps:  \n", method.op,
            static_cast<int>(transfer.settings.rateKBps));
  }
  DownloadResumeHandler handler(target, transfer.settings.agentFolder, transfer.settings.keys.fileMetaData);
  return Guarded(method.op, [&] { return ResumeSteps(transfer, target, &handler, method); });
}

}  // namespace

namespace engine {

void CountGzipFailure(const reg_path::AgentKeys& keys, const std::wstring& path) {
  char line[1024];
  snprintf(line, sizeof(line), "\tGzip file Decompression failed for the file %s\n", ChangeWideToUtf8Str(path).c_str());
  WriteErrorLog(line);
  LogInfo("Going to update Gzip Failure Count in Registry.\n");
  IncrementCounter(keys.tracking + "\\GzipDecompressionDetails", "GZIP_DECOMPRESSION_FAILURE_COUNT");
  TouchTracking(keys);
}

TransferResult ResumeTransfer(const Transfer& transfer, const RequestTarget& target, bool bandwidth, bool blocks) {
  if (target.kind == RequestKind::kDownloadFile) {
    ResumeMethod method;
    method.bandwidth = bandwidth;
    method.blockSize = blocks ? static_cast<unsigned long long>(transfer.settings.rateKBps) * 500 : 0;
    method.op = blocks ? "ResumeGetRequestByBitrate" : "ResumeGetRequestEx";
    return ResumeDownload(transfer, target, method);
  }
  // Only files are resumable: data for memory has no record to resume by.
  return PlainTransfer(transfer, target, bandwidth);
}

}  // namespace engine

int ResumeGetRequestEx(const TransferSettings& settings, TransferRunState* run, const RequestTarget& target,
                       std::string* memoryOut, HttpRequestOptions* options, bool bandwidth) {
  HttpRequestOptions defaults;
  const Transfer transfer{settings, run, options ? options : &defaults, memoryOut};
  return ResumeTransfer(transfer, target, bandwidth, false).Flatten();
}

int ResumeGetRequestByBitrate(const TransferSettings& settings, TransferRunState* run, const RequestTarget& target,
                              std::string* memoryOut, HttpRequestOptions* options) {
  HttpRequestOptions defaults;
  const Transfer transfer{settings, run, options ? options : &defaults, memoryOut};
  return ResumeTransfer(transfer, target, true, settings.rateKBps != 0).Flatten();
}
