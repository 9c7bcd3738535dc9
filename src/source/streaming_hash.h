// The SHA-256 of a download computed while it arrives: the transfer hands
// over each block it writes, a helper thread hashes it, and the digest is
// ready when the last byte is on disk.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>
#include <wincrypt.h>

#include "transport/request_options.h"
#include "util/handles.h"

// The value of a finished SHA-256 hash as 64 lower-case hexadecimal digits;
// empty when it cannot be read (GetLastError tells why).
std::string Sha256HexDigest(HCRYPTHASH hash);

class StreamingSha256 : public BodyObserver {
 public:
  StreamingSha256();
  ~StreamingSha256() override;
  StreamingSha256(const StreamingSha256&) = delete;
  StreamingSha256& operator=(const StreamingSha256&) = delete;

  void Restart() override;
  void Feed(const char* data, size_t count) override;
  void Invalidate() override;
  // Waits for everything fed so far. The digest of the bytes fed since the
  // last Restart as 64 lower-case hexadecimal digits; empty when nothing
  // restarted it since it was invalidated, or the hash failed.
  std::string Finish();

 private:
  enum class Step { kRestart, kData, kInvalidate };
  struct Item {
    Step step;
    std::string bytes;
  };
  void Post(Step step, const char* data, size_t count);
  void Apply(const Item& item);
  void Run();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Item> queue_;
  std::vector<std::string> spare_;
  bool busy_ = false;
  bool stopping_ = false;
  std::thread worker_;
  bool threaded_ = false;
  // Touched only by whoever applies the items (the helper thread, or the
  // caller when no thread could be had).
  UniqueCryptProv provider_;
  UniqueCryptHash hash_;
  bool valid_ = false;
};
