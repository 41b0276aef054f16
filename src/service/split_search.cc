// A search split over slices of the key order; see split_search.h.
#include "service/split_search.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/log.h"
#include "common/my_time.h"
#include "index/line_source.h"
#include "retrieval/data_source.h"
#include "retrieval/key_ranges.h"
#include "retrieval/result_deadline.h"
#include "retrieval/search_context.h"
#include "retrieval/tgdb_merger.h"

namespace quarn {
namespace {

using Clock = std::chrono::steady_clock;

// How often a search thread looks whether it must stop while it finds nothing, and how
// often the writing thread asks the probe (as a single search does).
constexpr double kStopPollSeconds = 0.05;
constexpr auto kProbeInterval = std::chrono::milliseconds(100);

// Lines of some results of one slice, and where each result's lines end in them.
struct Batch {
  std::string text;
  std::vector<uint32_t> ends;
};

struct Slice {
  std::deque<Batch> batches;
  size_t bytes = 0;
  bool finished = false;
  bool damaged = false;
};

uint64_t saturating_add(uint64_t a, uint64_t b) {
  return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max()
                                                      : a + b;
}

// The slices, their buffers and the rules of who waits for whom. Thread-safe.
class SplitRun {
 public:
  SplitRun(const query_request& r, const SearchLimits& limits, const KeyRanges& ranges)
      : request_(r),
        limits_(limits),
        ranges_(ranges),
        slices_(ranges.parts.size()),
        slice_cap_(saturating_add(limits.offset, limits.limit)) {}

  // The body of a search thread: slices until none is left or the run stops. A thread
  // that may_leave returns before a new slice as soon as leave() says so.
  void work(search_context& ctx, bool may_leave, const std::function<bool()>& leave);
  // Writes the slices' lines in order into the sink, on the calling thread; fills o.
  void write_all(const LineSink& sink, const AbortProbe& probe, SearchOutcome& o);
  void stop();
  // After every thread has ended: the summed statistics and formatting time.
  const SearchStats& stats() const { return stats_; }
  double format_seconds() const { return format_seconds_; }

 private:
  bool claim(size_t* slice);
  void search_slice(size_t p, search_context& ctx);
  // Hands the batch to slice p and replaces it by an empty one (recycled: a batch's
  // buffers are reused, so a long search allocates nothing per batch once warm).
  bool push(size_t p, Batch& batch);
  void recycle(Batch&& batch);
  void finish(size_t p, bool damaged, const SearchStats& stats, double format_seconds);
  // Writes the batch's results that the offset and limit let through; false when the
  // answer is complete or the client is gone.
  bool write_batch(const Batch& batch, const LineSink& sink, SearchOutcome& o, bool* took);
  bool room_for(size_t p) const;

  const query_request& request_;
  const SearchLimits limits_;
  const KeyRanges& ranges_;
  std::mutex mutex_;
  std::condition_variable produced_;  // the writer waits for the slice being written
  std::condition_variable room_;      // search threads wait for buffer room
  std::vector<Slice> slices_;
  size_t next_claim_ = 0;
  size_t writing_ = 0;   // the slice being written
  size_t buffered_ = 0;  // bytes held by every slice
  std::vector<Batch> spare_;  // written batches, kept for their buffers
  // Who waits now: a wake-up is a system call, and most batches find nobody waiting.
  bool writer_waiting_ = false;
  unsigned threads_waiting_ = 0;
  std::atomic<bool> stop_{false};
  const uint64_t slice_cap_;
  uint64_t skipped_ = 0;  // results skipped for the offset (writer only)
  SearchStats stats_;
  double format_seconds_ = 0;
};

void SplitRun::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stop_ = true;
  room_.notify_all();
  produced_.notify_all();
}

bool SplitRun::claim(size_t* slice) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stop_ || next_claim_ >= slices_.size()) return false;
  *slice = next_claim_++;
  return true;
}

void SplitRun::work(search_context& ctx, bool may_leave, const std::function<bool()>& leave) {
  // The probe only watches the stop flag; the writer owns the timeout and the client.
  ResultDeadline deadline(0, ctx, [this] { return stop_.load(std::memory_order_relaxed); },
                          kStopPollSeconds);
  size_t p = 0;
  while (!(may_leave && leave && leave()) && claim(&p)) {
    deadline.arm();
    search_slice(p, ctx);
  }
  deadline.disarm();
}

void SplitRun::search_slice(size_t p, search_context& ctx) {
  std::unique_ptr<tgdb_merger> merger = open_merger(ctx, ranges_.indexes, &ranges_.parts[p]);
  SearchStats stats;
  double format_seconds = 0;
  Batch batch;
  batch.text.reserve(2 * kResultBatchBytes);
  uint64_t made = 0;
  while (made < slice_cap_ && !stop_.load(std::memory_order_relaxed)) {
    std::unique_ptr<result_entry> result = merger->next();
    stats.add(ctx.counters());
    if (!result) break;
    format_result(request_, *result, made, batch.text, &format_seconds);
    batch.ends.push_back(static_cast<uint32_t>(batch.text.size()));
    ++made;
    merger->recycle(std::move(result));
    if (batch.text.size() >= kResultBatchBytes && !push(p, batch)) break;
  }
  if (!batch.ends.empty()) push(p, batch);
  finish(p, merger->failed(), stats, format_seconds);
}

bool SplitRun::room_for(size_t p) const {
  const size_t writing_bytes = writing_ < slices_.size() ? slices_[writing_].bytes : 0;
  if (p == writing_) return writing_bytes < kEmittingSliceBytes;
  return buffered_ - writing_bytes < kSplitBufferBytes;
}

bool SplitRun::push(size_t p, Batch& batch) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!stop_ && !room_for(p)) {
    ++threads_waiting_;
    room_.wait(lock, [&] { return stop_ || room_for(p); });
    --threads_waiting_;
  }
  if (stop_) return false;
  Slice& s = slices_[p];
  s.bytes += batch.text.size();
  buffered_ += batch.text.size();
  s.batches.push_back(std::move(batch));
  if (p == writing_ && writer_waiting_) produced_.notify_one();
  if (spare_.empty()) {
    batch = Batch{};
    // A batch ends with the result that crosses the batch size.
    batch.text.reserve(2 * kResultBatchBytes);
  } else {
    batch = std::move(spare_.back());
    spare_.pop_back();
  }
  return true;
}

void SplitRun::recycle(Batch&& batch) {
  batch.text.clear();
  batch.ends.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  // As many as the threads can hold at once; beyond that the buffer budget holds them.
  if (spare_.size() < 16) spare_.push_back(std::move(batch));
}

void SplitRun::finish(size_t p, bool damaged, const SearchStats& stats, double format_seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  slices_[p].finished = true;
  slices_[p].damaged = damaged;
  stats_.add(stats);
  format_seconds_ += format_seconds;
  if (p == writing_ && writer_waiting_) produced_.notify_one();
}

bool SplitRun::write_batch(const Batch& batch, const LineSink& sink, SearchOutcome& o,
                           bool* took) {
  size_t from = std::string::npos, to = 0, previous = 0;
  for (const uint32_t end : batch.ends) {
    if (o.results >= limits_.limit) break;
    *took = true;
    if (skipped_ < limits_.offset) {
      ++skipped_;
    } else {
      if (from == std::string::npos) from = previous;
      to = end;
      ++o.results;
    }
    previous = end;
  }
  if (from != std::string::npos) {
    const TimePoint start = my_gettime();
    const bool ok = sink(std::string_view(batch.text).substr(from, to - from));
    o.output_seconds += elapsed_seconds(start, my_gettime());
    if (!ok) {
      o.write_failed = true;
      return false;
    }
  }
  return o.results < limits_.limit;
}

void SplitRun::write_all(const LineSink& sink, const AbortProbe& probe, SearchOutcome& o) {
  const double t = limits_.timeout;
  const bool timed = t > 0 && std::isfinite(t);
  const auto timeout = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(timed ? std::min(t, kMaxTimeoutSeconds) : 0));
  auto last_result = Clock::now();
  auto next_probe = last_result + kProbeInterval;
  std::unique_lock<std::mutex> lock(mutex_);
  bool more = o.results < limits_.limit;
  while (more && writing_ < slices_.size()) {
    const auto now = Clock::now();
    if (now >= next_probe) {
      next_probe = now + kProbeInterval;
      lock.unlock();
      const bool gone = probe && probe();
      lock.lock();
      if (gone) {
        o.aborted = true;
        break;
      }
    }
    Slice& s = slices_[writing_];
    if (!s.batches.empty()) {
      Batch batch = std::move(s.batches.front());
      s.batches.pop_front();
      s.bytes -= batch.text.size();
      buffered_ -= batch.text.size();
      if (threads_waiting_ > 0) room_.notify_all();
      lock.unlock();
      bool took = false;
      more = write_batch(batch, sink, o, &took);
      if (took) last_result = Clock::now();
      recycle(std::move(batch));
      lock.lock();
    } else if (s.finished) {
      if (s.damaged) {
        o.damaged = true;
        break;
      }
      ++writing_;
      if (threads_waiting_ > 0) room_.notify_all();  // the next slice's own budget applies
    } else if (timed && now - last_result >= timeout) {
      o.timed_out = true;
      break;
    } else {
      auto until = next_probe;
      if (timed) until = std::min(until, last_result + timeout);
      writer_waiting_ = true;
      produced_.wait_until(lock, until);
      writer_waiting_ = false;
    }
  }
}

// One search thread: its context (the search's own for the first), its worker's ticket
// (none for the first: the search's own worker), the run it serves.
void run_thread(SplitRun& run, const SplitHooks& hooks, search_context* own,
                SearchGate::Ticket ticket, const SearchGate& gate) {
  LogScope log_scope;  // the thread's own log context, for what on_thread_start sets
  if (hooks.on_thread_start) hooks.on_thread_start();
  std::unique_ptr<search_context> made;
  search_context* ctx = own;
  if (ctx == nullptr) {
    made = hooks.make_context ? hooks.make_context() : nullptr;
    ctx = made.get();
  }
  if (ctx == nullptr) return;
  const bool borrowed = static_cast<bool>(ticket);
  run.work(*ctx, borrowed, [&gate] { return gate.queued() > 0; });
  ticket.release();
}

SearchOutcome run_split(const query_request& r, const SearchLimits& limits, search_context& ctx,
                        const KeyRanges& ranges, std::vector<SearchGate::Ticket> tickets,
                        const SearchGate& gate, const SplitHooks& hooks, const LineSink& sink,
                        const AbortProbe& probe) {
  SearchOutcome o;
  const TimePoint start = my_gettime();
  SplitRun run(r, limits, ranges);
  std::vector<std::thread> threads;
  threads.emplace_back(run_thread, std::ref(run), std::cref(hooks), &ctx, SearchGate::Ticket(),
                       std::cref(gate));
  for (SearchGate::Ticket& t : tickets)
    threads.emplace_back(run_thread, std::ref(run), std::cref(hooks), nullptr, std::move(t),
                         std::cref(gate));
  run.write_all(sink, probe, o);
  run.stop();
  for (std::thread& t : threads) t.join();
  o.stats = run.stats();
  const double written = o.output_seconds;
  o.output_seconds += run.format_seconds();
  o.search_seconds = std::max(0.0, elapsed_seconds(start, my_gettime()) - written);
  return o;
}

}  // namespace

uint64_t lines_to_read(const search_context& ctx, const std::vector<TgdbRef>& indexes) {
  double lines = 0;
  for (const TgdbRef& t : indexes) {
    const double all = static_cast<double>(line_count_bound(*t));
    lines += ctx.query() == nullptr ? all : std::min(all, query_candidate_estimate(*t, *ctx.query()));
  }
  return lines >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(lines);
}

SearchOutcome run_search_split_or_whole(const query_request& r, const SearchLimits& limits,
                                        search_context& ctx, data_source& source,
                                        const SplitSettings& settings, SearchGate& gate,
                                        const SplitHooks& hooks, const LineSink& sink,
                                        const AbortProbe& probe, bool* split) {
  if (split != nullptr) *split = false;
  if (settings.max_workers <= 1) return run_search_request(r, limits, ctx, source, sink, probe);
  const std::vector<TgdbRef> indexes = source.refreshed_indexes();
  if (indexes.empty() || lines_to_read(ctx, indexes) < settings.min_lines)
    return run_search_over(r, limits, ctx, indexes, sink, probe);
  std::vector<SearchGate::Ticket> tickets = gate.borrow_idle(settings.max_workers - 1);
  KeyRanges ranges;
  if (tickets.empty() ||
      !split_key_ranges(indexes, (tickets.size() + 1) * kSlicesPerThread, &ranges) ||
      ranges.parts.size() < 2)
    return run_search_over(r, limits, ctx, indexes, sink, probe);
  if (split != nullptr) *split = true;
  return run_split(r, limits, ctx, ranges, std::move(tickets), gate, hooks, sink, probe);
}

}  // namespace quarn
