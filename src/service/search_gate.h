// The fixed pool of search workers: at most `workers` searches run at once, at most
// `queue` more wait for a turn, and any request beyond that is turned away at once.
//
// A search runs on the thread of the connection that asked for it (single-threaded, as
// on the command line); the gate only decides when. Order of use: enter() returns a
// Ticket holding a worker (waiting in the queue first if all are busy), or nothing when
// the queue is full, the wait ran out, the waiter gave up (its client went away) or the
// gate was closed for shutdown. A running search may also borrow idle workers for
// helper threads of its own (borrow_idle). The Ticket frees the worker when destroyed;
// move it into whatever outlives the search. Thread-safe; the gate must outlive its tickets.
//
// Kinds: a search says whether it is heavy (a table scan, or many candidate lines;
// service/search_weight.h decides) or light. Heavy searches hold at most heavy_limit() =
// workers - 1 workers at once (the only one with a single worker), so that broad
// searches never occupy every worker and light ones only queue behind light ones; and
// when a worker frees up, a waiting light search takes it before any waiting heavy one.
// Both kinds share the one queue and its length. Under a load of light searches that keeps every worker busy, heavy ones wait
// (until their wait runs out, like any waiter).
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
  enum class Kind { kLight, kHeavy };

  class Ticket {
   public:
    Ticket() = default;
    Ticket(SearchGate* gate, Kind kind) : gate_(gate), kind_(kind) {}
    Ticket(Ticket&& o) noexcept : gate_(o.gate_), kind_(o.kind_) { o.gate_ = nullptr; }
    Ticket& operator=(Ticket&& o) noexcept;
    Ticket(const Ticket&) = delete;
    Ticket& operator=(const Ticket&) = delete;
    ~Ticket() { release(); }
    explicit operator bool() const { return gate_ != nullptr; }
    void release();

   private:
    SearchGate* gate_ = nullptr;
    Kind kind_ = Kind::kLight;
  };

  SearchGate(unsigned workers, unsigned queue)
      : workers_(workers), queue_(queue), heavy_limit_(workers > 1 ? workers - 1 : 1) {}

  // Waits at most max_wait for a worker a search of this kind may take, asking give_up
  // (may be null) every poll interval while it waits. On refusal the ticket is empty
  // and *why says which.
  Ticket enter(Kind kind, std::chrono::milliseconds max_wait,
               const std::function<bool()>& give_up, Refusal* why);
  // A light search's entry (lookups and whatever has not been classified).
  Ticket enter(std::chrono::milliseconds max_wait, const std::function<bool()>& give_up,
               Refusal* why) {
    return enter(Kind::kLight, max_wait, give_up, why);
  }
  // Up to `most` workers that are idle now, for one search to spread over, each freed by
  // its own ticket. Never waits and never takes a worker that a waiting request could
  // have: none when anyone is queued or the gate is closed. Borrowed workers count as
  // heavy and may go past heavy_limit(): the search that borrows them must give each one
  // back as soon as a request waits (queued() > 0), between its pieces of work.
  std::vector<Ticket> borrow_idle(unsigned most);
  // Refuses every waiting and later request; running searches keep their workers.
  void close();

  unsigned running() const;
  unsigned queued() const;
  unsigned running_heavy() const;
  unsigned workers() const { return workers_; }
  unsigned heavy_limit() const { return heavy_limit_; }

 private:
  // Whether a search of the kind may take a worker now (mutex held).
  bool may_start(Kind kind) const;
  void leave(Kind kind);

  const unsigned workers_;
  const unsigned queue_;
  const unsigned heavy_limit_;
  mutable std::mutex mutex_;
  std::condition_variable freed_;
  unsigned running_ = 0;
  unsigned running_heavy_ = 0;
  unsigned waiting_light_ = 0;
  unsigned waiting_heavy_ = 0;
  bool closed_ = false;
};

}  // namespace quarn
