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
    kind_ = o.kind_;
    o.gate_ = nullptr;
  }
  return *this;
}

void SearchGate::Ticket::release() {
  if (gate_ != nullptr) gate_->leave(kind_);
  gate_ = nullptr;
}

bool SearchGate::may_start(Kind kind) const {
  if (running_ >= workers_) return false;
  // A heavy search also gives way to every waiting light one.
  return kind == Kind::kLight || (running_heavy_ < heavy_limit_ && waiting_light_ == 0);
}

SearchGate::Ticket SearchGate::enter(Kind kind, std::chrono::milliseconds max_wait,
                                     const std::function<bool()>& give_up, Refusal* why) {
  *why = Refusal::kNone;
  std::unique_lock<std::mutex> lock(mutex_);
  if (closed_) {
    *why = Refusal::kClosed;
    return Ticket();
  }
  unsigned& waiting = kind == Kind::kLight ? waiting_light_ : waiting_heavy_;
  // Nobody of the same kind is passed over; a light search may pass waiting heavy ones.
  if (waiting == 0 && may_start(kind)) {
    ++running_;
    if (kind == Kind::kHeavy) ++running_heavy_;
    return Ticket(this, kind);
  }
  if (waiting_light_ + waiting_heavy_ >= queue_) {
    *why = Refusal::kQueueFull;
    return Ticket();
  }
  ++waiting;
  const auto until = std::chrono::steady_clock::now() + max_wait;
  while (!closed_ && !may_start(kind)) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) {
      *why = Refusal::kWaitedTooLong;
      break;
    }
    freed_.wait_until(lock, std::min(until, now + kPollInterval));
    if (give_up && !may_start(kind)) {
      lock.unlock();
      const bool gone = give_up();
      lock.lock();
      if (gone) {
        *why = Refusal::kGaveUp;
        break;
      }
    }
  }
  --waiting;
  if (closed_ && *why == Refusal::kNone) *why = Refusal::kClosed;
  // Waiters have different conditions: a worker this one passed up, or a light waiter
  // fewer, may let any of them in.
  freed_.notify_all();
  if (*why != Refusal::kNone) return Ticket();
  ++running_;
  if (kind == Kind::kHeavy) ++running_heavy_;
  return Ticket(this, kind);
}

std::vector<SearchGate::Ticket> SearchGate::borrow_idle(unsigned most) {
  std::vector<Ticket> tickets;
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_ || waiting_light_ + waiting_heavy_ > 0) return tickets;
  while (tickets.size() < most && running_ < workers_) {
    ++running_;
    ++running_heavy_;
    tickets.emplace_back(this, Kind::kHeavy);
  }
  return tickets;
}

void SearchGate::leave(Kind kind) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    --running_;
    if (kind == Kind::kHeavy) --running_heavy_;
  }
  freed_.notify_all();
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

unsigned SearchGate::running_heavy() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_heavy_;
}

unsigned SearchGate::queued() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waiting_light_ + waiting_heavy_;
}

}  // namespace quarn
