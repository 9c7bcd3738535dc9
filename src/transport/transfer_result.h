// How a transfer ended, with the three kinds of failure kept apart: an HTTP
// status, a system or WinHTTP error, and the engine's own codes. The entry
// points flatten it to the one integer their callers know; inside the
// transport a 200 can never be mistaken for a failure, nor 13 for a status.
#pragma once

#include <windows.h>

// The engine's own results. Each is defined here and nowhere else.
const int kResultGeneralFailure = 13;       // the agent library's general failure
// More bytes than announced: the partial file and its record are dropped.
// Callers see the general failure, but inside the transport it must never be
// mistaken for one, or every general failure would drop a resumable file.
const int kResultLongerThanAnnounced = 100013;
const int kResultPartialFile = 707;         // fewer bytes on disk than announced
const int kResultRangesNotServed = 416;     // an outside server that does not answer ranges
const int kResultChecksumMismatch = 60000;  // a downloaded file differs from its listed checksum
const int kResultNotModified = 90001;       // 304

class TransferResult {
 public:
  enum class Kind { kSuccess, kHttpStatus, kSystemError, kOwnCode };

  static TransferResult Success() { return TransferResult(Kind::kSuccess, 0); }
  // An answer whose status ends the transfer. A 2xx status is an answer to
  // read, never a result: handing one here is a fault of the caller, and it
  // becomes the general failure rather than a code that reads as success.
  static TransferResult Status(DWORD status) {
    if (status >= 200 && status < 300) return Own(kResultGeneralFailure);
    return TransferResult(Kind::kHttpStatus, static_cast<int>(status));
  }
  // A failed call's error; 0 (a call that failed without saying why) becomes
  // ERROR_GEN_FAILURE, so a failure never reads as success.
  static TransferResult System(DWORD error) {
    return TransferResult(Kind::kSystemError, static_cast<int>(error ? error : ERROR_GEN_FAILURE));
  }
  static TransferResult LastError() { return System(GetLastError()); }
  static TransferResult Own(int code) { return TransferResult(Kind::kOwnCode, code); }

  bool ok() const { return kind_ == Kind::kSuccess; }
  bool IsStatus(int status) const { return kind_ == Kind::kHttpStatus && code_ == status; }
  bool IsSystem(DWORD error) const { return kind_ == Kind::kSystemError && code_ == static_cast<int>(error); }
  bool IsOwn(int code) const { return kind_ == Kind::kOwnCode && code_ == code; }
  // The server will not serve the ranges asked for: it said so (416), or an
  // outside server showed it does not do ranges.
  bool RangesRefused() const { return IsOwn(kResultRangesNotServed) || IsStatus(416); }
  // The integer of the entry points: 0, the status, the error or the code.
  int Flatten() const { return IsOwn(kResultLongerThanAnnounced) ? kResultGeneralFailure : code_; }

 private:
  TransferResult(Kind kind, int code) : kind_(kind), code_(code) {}
  Kind kind_;
  int code_;
};
