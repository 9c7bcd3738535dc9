// Pieces of the request engine shared by its download paths (plain,
// bandwidth-limited, resumable). Not for use outside src/transport.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <functional>
#include <string>

#include "transport/pacing.h"
#include "transport/request_engine.h"
#include "util/handles.h"

namespace engine {

// Steps one to ten of the request setup: session, connection, request and
// everything set on them before it is sent. 0 or the error.
int OpenRequest(const RequestTarget& target, const HttpRequestOptions& options, RequestHandles* handles);
// Sends the request and receives the answer with the bounded attempts and
// re-opens. 0 or the error.
int SendWithAttempts(const RequestTarget& target, const HttpRequestOptions& options, RequestHandles* handles);
// A response header as text (by query number, or a custom one by name);
// empty when absent.
std::wstring QueryHeaderText(HINTERNET request, DWORD query);
std::wstring QueryNamedHeader(HINTERNET request, const wchar_t* name);
// The announced length, logged under `op`; false when the answer has none,
// or one that does not read as a 64-bit number (then `unusable` is set).
bool QueryContentLength(HINTERNET request, const char* op, unsigned long long* length, bool* unusable = nullptr);
// Whether WinHTTP (or the socket below it, under some emulations) gave up
// waiting for data.
bool IsTimeout(DWORD error);
// What the certificate recovery needs of a request: its handle (for its
// security flags) and a way to send it once more, on a fresh request with
// the given security flags, returning 0 when the answer arrived.
struct RequestHandlesView {
  HINTERNET request = nullptr;
  std::function<int(DWORD flags)> resend;
};
// Validates or fetches the root certificates after a failed certificate
// check and receives the answer once more; without strict mode the problems
// are finally ignored. 0 when the answer arrived, else the failure.
int CertRecoveryMechanismForReceive(const RequestHandlesView& view);

// Appends the download's line to the transfer log.
void RecordDownload(const RequestTarget& target, unsigned long long length, int result);
// The folder part of a path (up to its last separator); empty without one.
std::wstring FolderOf(const std::wstring& path);
// Creates the folder of a download's destination (the temporary file goes
// beside it); a failure is logged and left to the file's creation to report.
void CreateDestinationFolder(const RequestTarget& target);
// The temporary file of this request's body.
std::wstring TemporaryFileFor(const RequestTarget& target);

// Closes and deletes the temporary file whatever way the download ends.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::wstring path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    handle_.reset();
    if (!path_.empty()) DeleteFileW(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int Create() {
    handle_.reset(CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (handle_) return 0;
    DWORD error = GetLastError();
    return static_cast<int>(error ? error : ERROR_OPEN_FAILED);
  }
  HANDLE handle() const { return handle_.get(); }
  const std::wstring& path() const { return path_; }
  void CloseHandleOnly() { handle_.reset(); }
  // The file was moved into place: nothing left to delete.
  void Forget() { path_.clear(); }

 private:
  std::wstring path_;
  UniqueFile handle_;
};

// Window pacing of a bandwidth-limited download: after every window of
// rate x 1000 bytes, sleep out the rest of the second.
class WindowPacer {
 public:
  explicit WindowPacer(unsigned rateKBps) : budget_(static_cast<unsigned long long>(rateKBps) * 1000) {
    GetLocalTime(&windowStart_);
  }
  void Count(unsigned long long bytes) {
    if (budget_ == 0) return;
    inWindow_ += bytes;
    if (inWindow_ < budget_) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    Sleep(WindowPacingSleepMs(WallClockElapsedMs(windowStart_, now)));
    // What the last chunk brought beyond the budget belongs to the next
    // window; dropping it would run every window a little fast.
    inWindow_ -= budget_;
    GetLocalTime(&windowStart_);
  }

 private:
  unsigned long long budget_;
  unsigned long long inWindow_ = 0;
  SYSTEMTIME windowStart_;
};

// Hands over a body that arrived whole in `temp`: decompresses a gzip answer
// (a failed decompression repeats the whole request without gzip and
// returns that result), loads a get-data body into `memoryOut`, or moves a
// download onto its destination. 0 or the failure.
int DeliverBody(const RequestTarget& target, TemporaryFile* temp, std::string* memoryOut, HttpRequestOptions* options,
                bool bandwidth, bool gzipAnswer, const char* op);

// The block method of a bandwidth-limited download: the body in blocks of
// DataTransferRate_KBps x 500 bytes, each its own ranged request, paced by
// the block rule. Results as InternetGetRequest.
int BlockRateDownload(const RequestTarget& target, std::string* memoryOut, HttpRequestOptions* options);

}  // namespace engine
