// The feeding thread of the record store; see store_feed.h.
#include "forge/store_feed.h"

#include <cstdint>
#include <cstring>

namespace quarn {
namespace {

// Large enough that handing over is rare, small enough to stay in cache.
constexpr size_t kFeedBatch = size_t{256} << 10;

// Each entry in a batch: key length (4 bytes, host order), value length (1 byte), key,
// value.
void put_entry(std::string& batch, std::string_view key, std::string_view value) {
  const auto key_length = static_cast<uint32_t>(key.size());
  batch.append(reinterpret_cast<const char*>(&key_length), sizeof key_length);
  batch.push_back(static_cast<char>(static_cast<uint8_t>(value.size())));
  batch.append(key);
  batch.append(value);
}

}  // namespace

StoreFeed::StoreFeed(Consume consume) : consume_(std::move(consume)) {
  filling_.reserve(kFeedBatch);
  thread_ = std::thread([this] { run(); });
}

StoreFeed::~StoreFeed() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    failed_ = true;  // what is left is dropped
  }
  stop();
}

void StoreFeed::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mu_);
    closing_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

bool StoreFeed::add(std::string_view key, std::string_view value, std::string* error) {
  if (!filling_.empty() && filling_.size() + key.size() + value.size() + 5 > kFeedBatch &&
      !hand_over(error)) {
    return false;
  }
  put_entry(filling_, key, value);
  return true;
}

bool StoreFeed::hand_over(std::string* error) {
  {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [this] { return !has_ready_; });
    if (failed_) {
      *error = error_;
      return false;
    }
    ready_.swap(filling_);
    has_ready_ = true;
  }
  cv_.notify_all();
  filling_.clear();
  return true;
}

bool StoreFeed::finish(std::string* error) {
  if (!filling_.empty() && !hand_over(error)) return false;
  stop();
  std::lock_guard<std::mutex> lock(mu_);
  if (!failed_) return true;
  *error = error_;
  return false;
}

void StoreFeed::run() {
  std::string work;
  for (;;) {
    bool failed = false;
    {
      std::unique_lock<std::mutex> lock(mu_);
      cv_.wait(lock, [this] { return has_ready_ || closing_; });
      if (!has_ready_) return;
      work.swap(ready_);
      has_ready_ = false;
      failed = failed_;
    }
    cv_.notify_all();
    std::string error;
    for (size_t at = 0; !failed && at < work.size();) {
      uint32_t key_length = 0;
      std::memcpy(&key_length, work.data() + at, sizeof key_length);
      const size_t value_length = static_cast<uint8_t>(work[at + sizeof key_length]);
      at += sizeof key_length + 1;
      const std::string_view key(work.data() + at, key_length);
      const std::string_view value(work.data() + at + key_length, value_length);
      at += key_length + value_length;
      if (!consume_(key, value, &error)) {
        std::lock_guard<std::mutex> lock(mu_);
        failed_ = true;
        error_ = error;
        failed = true;
      }
    }
    work.clear();
  }
}

}  // namespace quarn
