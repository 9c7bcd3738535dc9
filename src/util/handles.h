// One-line owners for every OS resource kind the program uses.
// Each owner frees its resource exactly once; put() hands the owner to a
// Win32 out-parameter so an early return can never leak.
#pragma once

#include <windows.h>
#include <winhttp.h>
#include <wincrypt.h>
#include <lm.h>
#include <oleauto.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <cstdio>
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
  explicit operator bool() const { return !Traits::IsEmpty(value_); }
  T release() { return std::exchange(value_, Traits::Empty()); }
  void reset(T value = Traits::Empty()) {
    T old = std::exchange(value_, value);
    if (!Traits::IsEmpty(old)) Traits::Close(old);
  }
  // Resets and returns the address to be filled by a Win32 call.
  T* put() {
    reset();
    return &value_;
  }

 private:
  T value_ = Traits::Empty();
};

// Traits for kinds whose only empty value is null.
template <typename T, void (*CloseFn)(T)>
struct NullEmptyTraits {
  static T Empty() { return T(); }
  static bool IsEmpty(T value) { return value == T(); }
  static void Close(T value) { CloseFn(value); }
};

// Kernel handles: some calls give null on failure, others
// INVALID_HANDLE_VALUE, so both count as empty and neither is ever closed.
template <void (*CloseFn)(HANDLE)>
struct KernelHandleTraits {
  static HANDLE Empty() { return nullptr; }
  static bool IsEmpty(HANDLE value) { return value == nullptr || value == INVALID_HANDLE_VALUE; }
  static void Close(HANDLE value) { CloseFn(value); }
};

namespace handle_close {
inline void Kernel(HANDLE h) { CloseHandle(h); }
inline void Find(HANDLE h) { FindClose(h); }
inline void RegKey(HKEY h) { RegCloseKey(h); }
inline void Internet(HINTERNET h) { WinHttpCloseHandle(h); }
inline void CryptProv(HCRYPTPROV h) { CryptReleaseContext(h, 0); }
inline void CryptHash(HCRYPTHASH h) { CryptDestroyHash(h); }
inline void CryptKey(HCRYPTKEY h) { CryptDestroyKey(h); }
inline void CertStore(HCERTSTORE h) { CertCloseStore(h, 0); }
inline void CertContext(PCCERT_CONTEXT h) { CertFreeCertificateContext(h); }
inline void Service(SC_HANDLE h) { CloseServiceHandle(h); }
inline void Local(HLOCAL h) { LocalFree(h); }
inline void NetApiBuffer(void* h) { NetApiBufferFree(h); }
inline void File(FILE* h) { fclose(h); }
inline void Bstr(BSTR h) { SysFreeString(h); }
inline void EnvironmentBlock(void* h) { DestroyEnvironmentBlock(h); }
inline void WtsMemory(void* h) { WTSFreeMemory(h); }
// Waits for running callbacks, so none outlives the queue.
inline void TimerQueue(HANDLE h) { DeleteTimerQueueEx(h, INVALID_HANDLE_VALUE); }
}  // namespace handle_close

using UniqueHKey = UniqueHandle<HKEY, NullEmptyTraits<HKEY, handle_close::RegKey>>;
using UniqueHandleNull = UniqueHandle<HANDLE, KernelHandleTraits<handle_close::Kernel>>;
// A file handle (CreateFile gives INVALID_HANDLE_VALUE on failure).
using UniqueFile = UniqueHandle<HANDLE, KernelHandleTraits<handle_close::Kernel>>;
using UniqueFind = UniqueHandle<HANDLE, KernelHandleTraits<handle_close::Find>>;
using UniqueInternet = UniqueHandle<HINTERNET, NullEmptyTraits<HINTERNET, handle_close::Internet>>;
using UniqueCryptProv = UniqueHandle<HCRYPTPROV, NullEmptyTraits<HCRYPTPROV, handle_close::CryptProv>>;
using UniqueCryptHash = UniqueHandle<HCRYPTHASH, NullEmptyTraits<HCRYPTHASH, handle_close::CryptHash>>;
using UniqueCryptKey = UniqueHandle<HCRYPTKEY, NullEmptyTraits<HCRYPTKEY, handle_close::CryptKey>>;
using UniqueCertStore = UniqueHandle<HCERTSTORE, NullEmptyTraits<HCERTSTORE, handle_close::CertStore>>;
using UniqueCertContext = UniqueHandle<PCCERT_CONTEXT, NullEmptyTraits<PCCERT_CONTEXT, handle_close::CertContext>>;
using UniqueServiceHandle = UniqueHandle<SC_HANDLE, NullEmptyTraits<SC_HANDLE, handle_close::Service>>;
using UniqueLocal = UniqueHandle<HLOCAL, NullEmptyTraits<HLOCAL, handle_close::Local>>;
using UniqueNetApiBuffer = UniqueHandle<void*, NullEmptyTraits<void*, handle_close::NetApiBuffer>>;
using UniqueStdioFile = UniqueHandle<FILE*, NullEmptyTraits<FILE*, handle_close::File>>;
using UniqueBstr = UniqueHandle<BSTR, NullEmptyTraits<BSTR, handle_close::Bstr>>;
// CreateEnvironmentBlock's block.
using UniqueEnvironmentBlock = UniqueHandle<void*, NullEmptyTraits<void*, handle_close::EnvironmentBlock>>;
using UniqueWtsMemory = UniqueHandle<void*, NullEmptyTraits<void*, handle_close::WtsMemory>>;
using UniqueTimerQueue = UniqueHandle<HANDLE, NullEmptyTraits<HANDLE, handle_close::TimerQueue>>;

// A typed view of a buffer the owner frees with LocalFree, NetApiBufferFree
// or WTSFreeMemory: `As<T>()` reads it, `PutAs<T>()` lets the call fill it.
template <typename Owner>
class TypedBuffer : public Owner {
 public:
  using Owner::Owner;
  template <typename T>
  T* As() const {
    return static_cast<T*>(static_cast<void*>(this->get()));
  }
  template <typename T>
  T** PutAs() {
    return reinterpret_cast<T**>(this->put());
  }
};
using LocalBuffer = TypedBuffer<UniqueLocal>;
using NetApiBuffer = TypedBuffer<UniqueNetApiBuffer>;
using WtsBuffer = TypedBuffer<UniqueWtsMemory>;

// One COM interface reference, released once.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  T** put() {
    reset();
    return &ptr_;
  }
  void reset() {
    if (ptr_) ptr_->Release();
    ptr_ = nullptr;
  }

 private:
  T* ptr_ = nullptr;
};

// A VARIANT, cleared once.
class UniqueVariant {
 public:
  UniqueVariant() { VariantInit(&value_); }
  ~UniqueVariant() { VariantClear(&value_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  VARIANT* get() { return &value_; }
  const VARIANT* get() const { return &value_; }
  VARIANT* put() {
    VariantClear(&value_);
    return &value_;
  }

 private:
  VARIANT value_;
};

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
