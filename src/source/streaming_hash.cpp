#include "source/streaming_hash.h"

#include <wincrypt.h>

#include <cstdio>
#include <system_error>

namespace {

// Blocks waiting for the hash at most; the transfer waits when they are
// full, so memory stays a few blocks whatever the speeds. Hashed blocks are
// kept for reuse rather than allocated afresh for every megabyte.
const size_t kMaxQueued = 2;

}  // namespace

std::string Sha256HexDigest(HCRYPTHASH hash) {
  BYTE value[32];
  DWORD size = sizeof(value);
  if (!CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0) || size != sizeof(value)) return std::string();
  std::string text;
  char pair[3];
  for (BYTE b : value) {
    snprintf(pair, sizeof(pair), "%02x", b);
    text += pair;
  }
  return text;
}

StreamingSha256::StreamingSha256() {
  CryptAcquireContextW(provider_.put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
  try {
    worker_ = std::thread([this] { Run(); });
    threaded_ = true;
  } catch (const std::system_error&) {
    // No thread to be had: each block is hashed as it is handed over.
  }
}

StreamingSha256::~StreamingSha256() {
  if (threaded_) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
  }
}

void StreamingSha256::Restart() { Post(Step::kRestart, nullptr, 0); }

void StreamingSha256::Feed(const char* data, size_t count) {
  if (count > 0) Post(Step::kData, data, count);
}

void StreamingSha256::Invalidate() { Post(Step::kInvalidate, nullptr, 0); }

void StreamingSha256::Post(Step step, const char* data, size_t count) {
  if (!threaded_) {
    Apply(Item{step, data ? std::string(data, count) : std::string()});
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return queue_.size() < kMaxQueued; });
  Item item{step, std::string()};
  if (!spare_.empty()) {
    item.bytes = std::move(spare_.back());
    spare_.pop_back();
  }
  if (data) item.bytes.assign(data, count);
  queue_.push_back(std::move(item));
  changed_.notify_all();
}

void StreamingSha256::Apply(const Item& item) {
  switch (item.step) {
    case Step::kRestart:
      valid_ = provider_ && CryptCreateHash(provider_.get(), CALG_SHA_256, 0, 0, hash_.put());
      break;
    case Step::kData:
      if (valid_ && !CryptHashData(hash_.get(), reinterpret_cast<const BYTE*>(item.bytes.data()),
                                   static_cast<DWORD>(item.bytes.size()), 0)) {
        valid_ = false;
      }
      break;
    case Step::kInvalidate:
      valid_ = false;
      break;
  }
}

void StreamingSha256::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;
    Item item = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    changed_.notify_all();
    lock.unlock();
    Apply(item);
    lock.lock();
    if (spare_.size() < kMaxQueued) spare_.push_back(std::move(item.bytes));
    busy_ = false;
    changed_.notify_all();
  }
}

std::string StreamingSha256::Finish() {
  if (threaded_) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return queue_.empty() && !busy_; });
  }
  if (!valid_) return std::string();
  // The value ends the hash: a later Feed without a Restart is not hashed.
  valid_ = false;
  return Sha256HexDigest(hash_.get());
}
