// One-line owners for every OS handle kind the program uses.
// Each owner closes its handle exactly once; put() hands the owner to a Win32
// out-parameter so an early return can never leak.
#pragma once

#include <windows.h>
#include <winhttp.h>
#include <wincrypt.h>

#include <utility>

template <typename T, typename Traits>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(T value) : value_(value) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  T get() const { return value_; }
  explicit operator bool() const { return value_ != Traits::Empty(); }
  T release() { return std::exchange(value_, Traits::Empty()); }
  void reset(T value = Traits::Empty()) {
    T old = std::exchange(value_, value);
    if (old != Traits::Empty()) Traits::Close(old);
  }
  // Resets and returns the address to be filled by a Win32 call.
  T* put() {
    reset();
    return &value_;
  }

 private:
  T value_ = Traits::Empty();
};

struct RegKeyTraits {
  static HKEY Empty() { return nullptr; }
  static void Close(HKEY h) { RegCloseKey(h); }
};
struct HandleTraits {
  static HANDLE Empty() { return nullptr; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
struct FileHandleTraits {
  static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
struct FindHandleTraits {
  static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { FindClose(h); }
};
struct InternetTraits {
  static HINTERNET Empty() { return nullptr; }
  static void Close(HINTERNET h) { WinHttpCloseHandle(h); }
};
struct CryptProvTraits {
  static HCRYPTPROV Empty() { return 0; }
  static void Close(HCRYPTPROV h) { CryptReleaseContext(h, 0); }
};
struct CryptHashTraits {
  static HCRYPTHASH Empty() { return 0; }
  static void Close(HCRYPTHASH h) { CryptDestroyHash(h); }
};
struct TimerQueueTraits {
  static HANDLE Empty() { return nullptr; }
  // Waits for running callbacks so none outlives the queue.
  static void Close(HANDLE h) { DeleteTimerQueueEx(h, INVALID_HANDLE_VALUE); }
};

using UniqueHKey = UniqueHandle<HKEY, RegKeyTraits>;
using UniqueHandleNull = UniqueHandle<HANDLE, HandleTraits>;
using UniqueFile = UniqueHandle<HANDLE, FileHandleTraits>;
using UniqueFind = UniqueHandle<HANDLE, FindHandleTraits>;
using UniqueInternet = UniqueHandle<HINTERNET, InternetTraits>;
using UniqueCryptProv = UniqueHandle<HCRYPTPROV, CryptProvTraits>;
using UniqueCryptHash = UniqueHandle<HCRYPTHASH, CryptHashTraits>;
using UniqueTimerQueue = UniqueHandle<HANDLE, TimerQueueTraits>;

// PROCESS_INFORMATION owns two handles; both are closed together.
class UniqueProcessInfo {
 public:
  UniqueProcessInfo() { ZeroMemory(&pi_, sizeof(pi_)); }
  ~UniqueProcessInfo() { reset(); }
  UniqueProcessInfo(const UniqueProcessInfo&) = delete;
  UniqueProcessInfo& operator=(const UniqueProcessInfo&) = delete;
  PROCESS_INFORMATION* put() {
    reset();
    return &pi_;
  }
  const PROCESS_INFORMATION& get() const { return pi_; }
  void reset() {
    if (pi_.hThread) CloseHandle(pi_.hThread);
    if (pi_.hProcess) CloseHandle(pi_.hProcess);
    ZeroMemory(&pi_, sizeof(pi_));
  }

 private:
  PROCESS_INFORMATION pi_;
};
