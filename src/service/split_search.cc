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

// How often a borrowed thread looks whether it must stop while it finds nothing, and how
// often the request's own thread asks the probe and looks at the timeout (as a single
// search does).
constexpr double kStopPollSeconds = 0.05;
constexpr double kProbeSeconds = 0.1;
constexpr auto kProbeInterval =
    std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kProbeSeconds));
// Lines are handed on in batches of about this size: one lock, one hand-over and one
// write per batch, so a larger batch than a single search's keeps the hand-offs between
// threads and the writes few (32 KiB batches cost as much CPU in all, in context
// switches); still small beside the buffer budget.
constexpr size_t kSplitBatchBytes = 128 * 1024;

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
//
// Every thread searches slices, and whichever thread finds lines of the slice being
// written ready while nobody else writes becomes the writer: it writes them (and every
// later batch that is ready in order) itself, so the lines of the slice being written
// go from the thread that made them straight to the client, and buffered slices are
// written by whichever thread is free first. The request's own thread (the lead) is the
// one that asks the probe and watches the timeout, between and during its searches.
class SplitRun {
 public:
  SplitRun(const query_request& r, const SearchLimits& limits, const KeyRanges& ranges,
           const LineSink& sink, const AbortProbe& probe);

  bool claim(size_t* slice);
  // The body of a search thread: `first` (claimed already, or npos) and then slices
  // until none is left or the run stops. A borrowed thread (not lead) returns before a
  // new slice as soon as leave() says so.
  void work(search_context& ctx, bool lead, size_t first, const std::function<bool()>& leave);
  // The lead, after its last slice: waits until every slice is written or the run
  // stopped, asking the probe meanwhile.
  void wait_written();
  void stop();
  // After every thread has ended: the outcome, with the summed statistics.
  SearchOutcome outcome() const;
  double format_seconds() const { return format_seconds_; }

 private:
  void search_slice(size_t p, search_context& ctx, bool lead);
  // Hands the batch to slice p (writing what is ready) and replaces it by an empty one
  // (recycled: a batch's buffers are reused, so a long search allocates nothing per
  // batch once warm). False once the run stops.
  bool push(size_t p, Batch& batch, bool lead);
  void finish(size_t p, bool damaged, const SearchStats& stats, double format_seconds,
              bool lead);
  // Writes what is ready in order unless another thread is writing (mutex held).
  void drain(std::unique_lock<std::mutex>& lock, bool lead);
  // Writes the batch's results that the offset and limit let through; false when the
  // answer is complete or the client is gone. Only the writer calls it.
  bool write_batch(const Batch& batch, bool* took);
  bool room_for(size_t p) const;
  // A written batch kept for its buffers, or a new one (mutex held).
  Batch take_batch();
  void stop_locked();
  // The lead only, mutex not held: asks the probe and looks at the timeout when their
  // turn has come; true (having stopped the run) when the answer must end.
  bool lead_check();
  // The lead's wait (mutex held): a turn of lead_check at least every probe interval.
  void lead_wait(std::unique_lock<std::mutex>& lock, std::condition_variable& cv);

  const query_request& request_;
  const SearchLimits limits_;
  const KeyRanges& ranges_;
  const LineSink& sink_;
  const AbortProbe& probe_;
  const bool timed_;
  const Clock::duration timeout_;
  std::mutex mutex_;
  std::condition_variable room_;     // threads wait for buffer room
  std::condition_variable written_;  // the lead waits for the end
  std::vector<Slice> slices_;
  size_t next_claim_ = 0;
  size_t writing_ = 0;   // the slice being written
  size_t buffered_ = 0;  // bytes held by every slice
  // Written batches, kept for their buffers until the search ends: freeing them once
  // the buffer has drained hands the memory back to the system, and the next batches
  // fault it in again page by page. The buffer budget bounds how many there are.
  std::vector<Batch> spare_;
  bool writer_active_ = false;  // a thread is writing outside the mutex
  // Who waits now: a wake-up is a system call, and most batches find nobody waiting.
  unsigned threads_waiting_ = 0;
  bool lead_waiting_ = false;
  std::atomic<bool> stop_{false};
  bool damaged_ = false;
  Clock::time_point last_taken_;  // the last result taken for writing
  Clock::time_point next_probe_;  // lead only
  bool aborted_ = false;          // lead only
  bool timed_out_ = false;        // lead only
  const uint64_t slice_cap_;
  // The writer's (one at a time, handed over under the mutex).
  uint64_t skipped_ = 0;  // results skipped for the offset
  SearchOutcome written_outcome_;
  SearchStats stats_;
  double format_seconds_ = 0;
};

SplitRun::SplitRun(const query_request& r, const SearchLimits& limits, const KeyRanges& ranges,
                   const LineSink& sink, const AbortProbe& probe)
    : request_(r),
      limits_(limits),
      ranges_(ranges),
      sink_(sink),
      probe_(probe),
      timed_(limits.timeout > 0 && std::isfinite(limits.timeout)),
      timeout_(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
          timed_ ? std::min(limits.timeout, kMaxTimeoutSeconds) : 0))),
      slices_(ranges.parts.size()),
      last_taken_(Clock::now()),
      next_probe_(last_taken_ + kProbeInterval),
      slice_cap_(saturating_add(limits.offset, limits.limit)) {
  if (limits_.limit == 0) stop_ = true;
}

void SplitRun::stop_locked() {
  stop_ = true;
  room_.notify_all();
  written_.notify_all();
}

void SplitRun::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stop_locked();
}

bool SplitRun::claim(size_t* slice) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stop_ || next_claim_ >= slices_.size()) return false;
  *slice = next_claim_++;
  return true;
}

void SplitRun::work(search_context& ctx, bool lead, size_t first,
                    const std::function<bool()>& leave) {
  // A borrowed thread's probe only watches the stop flag; the lead's also asks the
  // client's probe and looks at the timeout.
  const auto must_stop = [this, lead] {
    return stop_.load(std::memory_order_relaxed) || (lead && lead_check());
  };
  ResultDeadline deadline(0, ctx, must_stop, lead ? kProbeSeconds : kStopPollSeconds);
  const auto may_go_on = [&] { return lead || !leave || !leave(); };
  size_t p = first;
  bool have = p != std::string::npos || (may_go_on() && claim(&p));
  while (have) {
    deadline.arm();
    search_slice(p, ctx, lead);
    have = may_go_on() && claim(&p);
  }
  deadline.disarm();
}

void SplitRun::search_slice(size_t p, search_context& ctx, bool lead) {
  std::unique_ptr<tgdb_merger> merger = open_merger(ctx, ranges_.indexes, &ranges_.parts[p]);
  SearchStats stats;
  double format_seconds = 0;
  Batch batch;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    batch = take_batch();
  }
  uint64_t made = 0;
  while (made < slice_cap_ && !stop_.load(std::memory_order_relaxed)) {
    std::unique_ptr<result_entry> result = merger->next();
    stats.add(ctx.counters());
    if (!result) break;
    format_result(request_, *result, made, batch.text, &format_seconds);
    batch.ends.push_back(static_cast<uint32_t>(batch.text.size()));
    ++made;
    merger->recycle(std::move(result));
    if (batch.text.size() >= kSplitBatchBytes && !push(p, batch, lead)) break;
  }
  if (!batch.ends.empty()) push(p, batch, lead);
  finish(p, merger->failed(), stats, format_seconds, lead);
}

Batch SplitRun::take_batch() {
  Batch batch;
  if (spare_.empty()) {
    // A batch ends with the result that crosses the batch size.
    batch.text.reserve(2 * kSplitBatchBytes);
  } else {
    batch = std::move(spare_.back());
    spare_.pop_back();
  }
  return batch;
}

bool SplitRun::room_for(size_t p) const {
  const size_t writing_bytes = writing_ < slices_.size() ? slices_[writing_].bytes : 0;
  if (p == writing_) return writing_bytes < kEmittingSliceBytes;
  return buffered_ - writing_bytes < kSplitBufferBytes;
}

void SplitRun::lead_wait(std::unique_lock<std::mutex>& lock, std::condition_variable& cv) {
  const auto until = next_probe_;
  if (Clock::now() < until) cv.wait_until(lock, until);
  lock.unlock();
  lead_check();
  lock.lock();
}

bool SplitRun::push(size_t p, Batch& batch, bool lead) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_ && !room_for(p)) {
    ++threads_waiting_;
    if (lead)
      lead_wait(lock, room_);
    else
      room_.wait(lock, [&] { return stop_ || room_for(p); });
    --threads_waiting_;
  }
  if (stop_) return false;
  Slice& s = slices_[p];
  s.bytes += batch.text.size();
  buffered_ += batch.text.size();
  s.batches.push_back(std::move(batch));
  batch = take_batch();
  drain(lock, lead);
  return !stop_;
}

void SplitRun::finish(size_t p, bool damaged, const SearchStats& stats, double format_seconds,
                      bool lead) {
  std::unique_lock<std::mutex> lock(mutex_);
  slices_[p].finished = true;
  slices_[p].damaged = damaged;
  stats_.add(stats);
  format_seconds_ += format_seconds;
  drain(lock, lead);
}

void SplitRun::drain(std::unique_lock<std::mutex>& lock, bool lead) {
  // The writer takes every batch that is ready before it lets go, this one included.
  if (writer_active_) return;
  writer_active_ = true;
  while (!stop_ && writing_ < slices_.size()) {
    Slice& s = slices_[writing_];
    if (!s.batches.empty()) {
      Batch batch = std::move(s.batches.front());
      s.batches.pop_front();
      s.bytes -= batch.text.size();
      buffered_ -= batch.text.size();
      if (threads_waiting_ > 0) room_.notify_all();
      lock.unlock();
      bool took = false;
      const bool more = write_batch(batch, &took);
      batch.text.clear();
      batch.ends.clear();
      if (lead && Clock::now() >= next_probe_) lead_check();
      lock.lock();
      if (took) last_taken_ = Clock::now();
      spare_.push_back(std::move(batch));
      if (!more) stop_locked();
    } else if (s.finished) {
      if (s.damaged) {
        damaged_ = true;
        stop_locked();
      }
      ++writing_;
      if (threads_waiting_ > 0) room_.notify_all();  // the next slice's own budget applies
    } else {
      break;
    }
  }
  writer_active_ = false;
  if (writing_ >= slices_.size() && lead_waiting_) written_.notify_all();
}

bool SplitRun::write_batch(const Batch& batch, bool* took) {
  SearchOutcome& o = written_outcome_;
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
    const bool ok = sink_(std::string_view(batch.text).substr(from, to - from));
    o.output_seconds += elapsed_seconds(start, my_gettime());
    if (!ok) {
      o.write_failed = true;
      return false;
    }
  }
  return o.results < limits_.limit;
}

bool SplitRun::lead_check() {
  const auto now = Clock::now();
  if (now < next_probe_) return stop_.load(std::memory_order_relaxed);
  next_probe_ = now + kProbeInterval;
  if (probe_ && probe_()) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stop_) aborted_ = true;
    stop_locked();
    return true;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  // A write in progress is not idleness: the client takes its time, as with one search.
  if (timed_ && !stop_ && !writer_active_ && now - last_taken_ >= timeout_) {
    timed_out_ = true;
    stop_locked();
  }
  return stop_;
}

void SplitRun::wait_written() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_ && writing_ < slices_.size()) {
    drain(lock, true);
    if (stop_ || writing_ >= slices_.size()) break;
    lead_waiting_ = true;
    lead_wait(lock, written_);
    lead_waiting_ = false;
  }
}

SearchOutcome SplitRun::outcome() const {
  SearchOutcome o = written_outcome_;
  o.damaged = damaged_;
  o.aborted = aborted_;
  o.timed_out = timed_out_;
  o.stats = stats_;
  return o;
}

// A borrowed worker's search thread: its own context, made like the search's own but
// sharing the search's table-scan matcher; its ticket goes back when the thread ends.
void run_helper(SplitRun& run, const SplitHooks& hooks, search_context& lead_ctx,
                SearchGate::Ticket ticket, const SearchGate& gate) {
  LogScope log_scope;  // the thread's own log context, for what on_thread_start sets
  if (hooks.on_thread_start) hooks.on_thread_start();
  std::unique_ptr<search_context> ctx = hooks.make_context ? hooks.make_context() : nullptr;
  if (ctx == nullptr) return;
  if (lead_ctx.query() == nullptr) ctx->share_table_scan(lead_ctx);
  run.work(*ctx, false, std::string::npos, [&gate] { return gate.queued() > 0; });
  ticket.release();
}

SearchOutcome run_split(const query_request& r, const SearchLimits& limits, search_context& ctx,
                        const KeyRanges& ranges, std::vector<SearchGate::Ticket> tickets,
                        const SearchGate& gate, const SplitHooks& hooks, const LineSink& sink,
                        const AbortProbe& probe) {
  const TimePoint start = my_gettime();
  SplitRun run(r, limits, ranges, sink, probe);
  // The lead takes the first slice before anyone else can, so the answer starts with
  // lines written by the thread that found them; a table scan's matcher is compiled
  // once, here, for every thread to share.
  size_t first = std::string::npos;
  run.claim(&first);
  if (ctx.query() == nullptr) ctx.prepare_table_scan();
  std::vector<std::thread> threads;
  for (SearchGate::Ticket& t : tickets)
    threads.emplace_back(run_helper, std::ref(run), std::cref(hooks), std::ref(ctx),
                         std::move(t), std::cref(gate));
  run.work(ctx, true, first, nullptr);
  run.wait_written();
  run.stop();
  for (std::thread& t : threads) t.join();
  SearchOutcome o = run.outcome();
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
