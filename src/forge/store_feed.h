// Record-store entries handed to a thread of their own. The build's merge thread copies
// each entry into a batch and goes on with the indexes; the feeding thread decodes the
// batches in the order they were filled and adds their records to the store writer. One
// batch fills while the other is added, so the merge waits only when the writer falls a
// whole batch behind.
//
// Order of use: construct with the consumer (it runs on the feeding thread and must
// touch nothing the caller uses meanwhile), add() the entries, finish() once. A consumer
// failure is reported by the next add() that hands a batch over, or by finish(); the
// entries after it are dropped. Destroying the feed without finish() drops what is left
// and joins the thread.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace quarn {

class StoreFeed {
 public:
  using Consume = std::function<bool(std::string_view key, std::string_view value,
                                     std::string* error)>;

  // Starts the feeding thread; throws std::system_error when it cannot.
  explicit StoreFeed(Consume consume);
  ~StoreFeed();
  StoreFeed(const StoreFeed&) = delete;
  StoreFeed& operator=(const StoreFeed&) = delete;

  // Queues one entry (value at most 255 bytes); false with the consumer's error once it
  // has failed.
  bool add(std::string_view key, std::string_view value, std::string* error);
  // Hands over the last batch and waits until every entry is consumed.
  bool finish(std::string* error);

 private:
  void run();
  bool hand_over(std::string* error);
  void stop();

  Consume consume_;
  std::string filling_;  // the caller's batch
  std::mutex mu_;
  std::condition_variable cv_;
  std::string ready_;        // guarded: a full batch for the thread
  bool has_ready_ = false;   // guarded
  bool closing_ = false;     // guarded: no batch will follow
  bool failed_ = false;      // guarded: the consumer failed, or the feed is abandoned
  std::string error_;        // guarded: the consumer's error
  std::thread thread_;
};

}  // namespace quarn
