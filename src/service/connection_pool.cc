#include "service/connection_pool.h"

namespace quarn {
namespace {

thread_local bool t_rejecting = false;

}  // namespace

ConnectionPool::ConnectionPool(unsigned threads, unsigned backlog) : backlog_(backlog) {
  for (unsigned i = 0; i < threads; ++i) serve_.threads.emplace_back([this] { work(serve_, false); });
  reject_.threads.emplace_back([this] { work(reject_, true); });
}

ConnectionPool::~ConnectionPool() { shutdown(); }

bool ConnectionPool::busy() { return t_rejecting; }

void ConnectionPool::enqueue(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Waiting connections beyond the idle threads count against the backlog.
    const size_t waiting = serve_.jobs.size() + 1;
    Lane& lane = waiting > idle_ + backlog_ ? reject_ : serve_;
    lane.jobs.push_back(std::move(fn));
  }
  ready_.notify_all();
}

void ConnectionPool::work(Lane& lane, bool rejecting) {
  t_rejecting = rejecting;
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!rejecting) ++idle_;
      ready_.wait(lock, [&] { return stopping_ || !lane.jobs.empty(); });
      if (!rejecting) --idle_;
      if (lane.jobs.empty()) return;  // stopping, nothing left
      job = std::move(lane.jobs.front());
      lane.jobs.pop_front();
    }
    job();
  }
}

void ConnectionPool::shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ && serve_.threads.empty()) return;
    stopping_ = true;
  }
  ready_.notify_all();
  for (Lane* lane : {&serve_, &reject_}) {
    for (std::thread& t : lane->threads)
      if (t.joinable()) t.join();
    lane->threads.clear();
  }
}

}  // namespace quarn
