#include "service/search_gate.h"

namespace quarn {
namespace {

// How often a waiting request asks whether its client is still there.
constexpr std::chrono::milliseconds kPollInterval{50};

}  // namespace

SearchGate::Ticket& SearchGate::Ticket::operator=(Ticket&& o) noexcept {
  if (this != &o) {
    release();
    gate_ = o.gate_;
    o.gate_ = nullptr;
  }
  return *this;
}

void SearchGate::Ticket::release() {
  if (gate_ != nullptr) gate_->leave();
  gate_ = nullptr;
}

SearchGate::Ticket SearchGate::enter(std::chrono::milliseconds max_wait,
                                     const std::function<bool()>& give_up, Refusal* why) {
  *why = Refusal::kNone;
  std::unique_lock<std::mutex> lock(mutex_);
  if (closed_) {
    *why = Refusal::kClosed;
    return Ticket();
  }
  if (running_ < workers_ && waiting_ == 0) {
    ++running_;
    return Ticket(this);
  }
  if (waiting_ >= queue_) {
    *why = Refusal::kQueueFull;
    return Ticket();
  }
  ++waiting_;
  const auto until = std::chrono::steady_clock::now() + max_wait;
  while (!closed_ && running_ >= workers_) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) {
      *why = Refusal::kWaitedTooLong;
      break;
    }
    freed_.wait_until(lock, std::min(until, now + kPollInterval));
    if (give_up && running_ >= workers_) {
      lock.unlock();
      const bool gone = give_up();
      lock.lock();
      if (gone) {
        *why = Refusal::kGaveUp;
        break;
      }
    }
  }
  --waiting_;
  if (closed_ && *why == Refusal::kNone) *why = Refusal::kClosed;
  if (*why != Refusal::kNone) {
    freed_.notify_one();  // a worker this waiter passed up may serve the next one
    return Ticket();
  }
  ++running_;
  return Ticket(this);
}

std::vector<SearchGate::Ticket> SearchGate::borrow_idle(unsigned most) {
  std::vector<Ticket> tickets;
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_ || waiting_ > 0) return tickets;
  while (tickets.size() < most && running_ < workers_) {
    ++running_;
    tickets.emplace_back(this);
  }
  return tickets;
}

void SearchGate::leave() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    --running_;
  }
  freed_.notify_one();
}

void SearchGate::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  freed_.notify_all();
}

unsigned SearchGate::running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

unsigned SearchGate::queued() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waiting_;
}

}  // namespace quarn
