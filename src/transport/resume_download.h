// Resumable downloads: the body goes to a per-file temporary file in the
// agent's download repository, and after every flush the registry records
// how far it got, so a later run asks the server only for the missing bytes.
#pragma once

#include <windows.h>

#include <string>

#include "transport/transfer.h"
#include "transport/transfer_logs.h"

// One resumable download: its temporary file and its registry record under
// FileMetaData\<unique id>. As the transfer's sink it gathers the body in
// blocks of InterSaveByteLimit bytes; the record follows every block.
class DownloadResumeHandler : public engine::GatheringSink {
 public:
  // The repository is a folder under `agentFolder`; the records live under
  // `recordsKey` (the agent's FileMetaData key).
  DownloadResumeHandler(const RequestTarget& target, const std::string& agentFolder, const std::string& recordsKey);
  ~DownloadResumeHandler() override;
  DownloadResumeHandler(const DownloadResumeHandler&) = delete;
  DownloadResumeHandler& operator=(const DownloadResumeHandler&) = delete;

  // Finds or forms the download's unique id and repository, and decides
  // where the body starts (GetFileDataFromRegistry).
  void Initialize(const std::string& serverLastModified, bool lengthKnown, unsigned long long contentLength);
  // Reads the record and measures the temporary file; sets the start offset
  // (0 for a fresh start, which deletes the file).
  void GetFileDataFromRegistry(bool lengthKnown, unsigned long long contentLength);
  // Opens the temporary file for appending; the observer first sees the
  // bytes a resumed file already holds. Success or the system error.
  TransferResult OpenTemporaryFile(BodyObserver* observer);
  // Buffers `count` bytes, flushing to the file and the record when the
  // buffer is full; with `periodic` clear everything buffered is flushed and
  // the run is recorded as ended. Success or the failure.
  TransferResult ProcessDownloadedBuffer(const char* data, size_t count, bool periodic);
  // Deletes the temporary file (once more after 5 s when that fails) and the
  // download's record.
  void CleanFileAndRegistry();
  // Moves the temporary file onto the destination. Success or the system
  // error.
  TransferResult SaveToDestFile();
  // From now on every flush keeps `reserve` bytes free on the volume.
  void GuardDiskSpace(unsigned long long reserve) { reserve_ = reserve; }

  unsigned long long startOffset() const { return startOffset_; }
  AccessLogEntry& access() { return access_; }
  // Appends the download's access line for its result.
  void WriteAccessRecord(int result);

 private:
  void FormUniqueFileName();
  // Writes the record of what is on disk.
  void Flushed() override;

  const Url url_;
  const std::wstring destination_;
  const std::string agentFolder_;
  const std::string recordsKey_;
  // The value name of the download's id: its URL path, as the registry
  // takes names.
  std::string fileKey_;
  std::string uniqueId_;
  unsigned long long startOffset_ = 0;
  std::string serverLastModified_;
  DWORD retryCount_ = 0;
  unsigned long long lastRetryTime_ = 0;
  AccessLogEntry access_;
};

// The resumable download of the URL (11003, or 11001 into memory). Results
// as InternetGetRequest; 416 when an outside server does not take ranges
// (the caller then downloads without resume). `bandwidth` paces by windows.
int ResumeGetRequestEx(const TransferSettings& settings, TransferRunState* run, const RequestTarget& target,
                       std::string* memoryOut, HttpRequestOptions* options, bool bandwidth);

// The same with block pacing: every block of DataTransferRate_KBps x 500
// bytes from the resume offset is its own ranged request, then the pause
// (without a rate, one request and no pause).
int ResumeGetRequestByBitrate(const TransferSettings& settings, TransferRunState* run, const RequestTarget& target,
                              std::string* memoryOut, HttpRequestOptions* options);

// Notes the size the probe of a transfer announced for its URL path.
void InsertResumeDownloadFileSizeParams(ExpectedSizes* sizes, const std::wstring& url, long long size);
// 0, or 12030 when the expected size of a matching URL is known, non-zero
// and differs from the bytes read. A stored URL matches when it holds the
// download URL (in any letter case); with `directDownload` when the download
// URL holds it.
int isFileDownloadCompleted(const ExpectedSizes& sizes, bool directDownload, const std::wstring& downloadUrl,
                            const std::wstring& localPath, long long bytesRead);

// --- pure pieces, exposed for tests ---
struct ResumeDecision {
  bool resume = false;
  unsigned long long offset = 0;
};
// Where a download starts, from what the record and the temporary file say:
// the recorded size when the file matches it, the file's size when the file
// holds more (but no more than the body), else a fresh start.
ResumeDecision DecideResumeStart(bool recordUsable, unsigned long long recordedSize, unsigned long long fileSize,
                                 bool lengthKnown, unsigned long long contentLength);
