// The fixed pool of search workers: at most `workers` searches run at once, at most
// `queue` more wait for a turn, and any request beyond that is turned away at once.
//
// A search runs on the thread of the connection that asked for it (single-threaded, as
// on the command line); the gate only decides when. Order of use: enter() returns a
// Ticket holding a worker (waiting in the queue first if all are busy), or nothing when
// the queue is full, the wait ran out, the waiter gave up (its client went away) or the
// gate was closed for shutdown. A running search may also borrow idle workers for
// helper threads of its own (borrow_idle). The Ticket frees the worker when destroyed; move it into
// whatever outlives the search. Thread-safe; the gate must outlive its tickets.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace quarn {

class SearchGate {
 public:
  enum class Refusal { kNone, kQueueFull, kWaitedTooLong, kGaveUp, kClosed };

  class Ticket {
   public:
    Ticket() = default;
    explicit Ticket(SearchGate* gate) : gate_(gate) {}
    Ticket(Ticket&& o) noexcept : gate_(o.gate_) { o.gate_ = nullptr; }
    Ticket& operator=(Ticket&& o) noexcept;
    Ticket(const Ticket&) = delete;
    Ticket& operator=(const Ticket&) = delete;
    ~Ticket() { release(); }
    explicit operator bool() const { return gate_ != nullptr; }
    void release();

   private:
    SearchGate* gate_ = nullptr;
  };

  SearchGate(unsigned workers, unsigned queue) : workers_(workers), queue_(queue) {}

  // Waits at most max_wait for a worker, asking give_up (may be null) every poll
  // interval while it waits. On refusal the ticket is empty and *why says which.
  Ticket enter(std::chrono::milliseconds max_wait, const std::function<bool()>& give_up,
               Refusal* why);
  // Up to `most` workers that are idle now, for one search to spread over, each freed by
  // its own ticket. Never waits and never takes a worker that a waiting request could
  // have: none when anyone is queued or the gate is closed.
  std::vector<Ticket> borrow_idle(unsigned most);
  // Refuses every waiting and later request; running searches keep their workers.
  void close();

  unsigned running() const;
  unsigned queued() const;
  unsigned workers() const { return workers_; }

 private:
  void leave();

  const unsigned workers_;
  const unsigned queue_;
  mutable std::mutex mutex_;
  std::condition_variable freed_;
  unsigned running_ = 0;
  unsigned waiting_ = 0;
  bool closed_ = false;
};

}  // namespace quarn
