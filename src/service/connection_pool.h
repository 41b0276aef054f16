// The HTTP server's connection threads: a fixed pool with a bounded backlog.
//
// The HTTP library hands every accepted connection to a task queue and its own pool
// queues without bound, so a flood of connections would pile up unanswered. Here at most
// `threads` connections are served at once and `backlog` more wait; a connection beyond
// that is still served (the library gives no way to refuse one), but by a separate
// rejecting thread on which busy() is true, so the request handlers answer it with 503
// at once and close it. Connection threads are not search workers: an idle keep-alive
// connection holds a thread here, never a worker of the SearchGate.
//
// Owned by the HTTP server (it deletes the queue after shutdown()); shutdown() lets
// queued connections finish and joins every thread.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quarn {

class ConnectionPool final : public httplib::TaskQueue {
 public:
  ConnectionPool(unsigned threads, unsigned backlog);
  ~ConnectionPool() override;
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  void enqueue(std::function<void()> fn) override;
  void shutdown() override;

  // True on the rejecting thread: the connection it serves came past the backlog.
  static bool busy();

 private:
  struct Lane {
    std::deque<std::function<void()>> jobs;
    std::vector<std::thread> threads;
  };
  void work(Lane& lane, bool rejecting);

  const unsigned backlog_;
  std::mutex mutex_;
  std::condition_variable ready_;
  bool stopping_ = false;
  unsigned idle_ = 0;  // serving threads waiting for a job
  Lane serve_;
  Lane reject_;
};

}  // namespace quarn
