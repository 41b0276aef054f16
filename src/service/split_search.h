// One broad search spread over idle workers: the index files are cut into slices of the
// key order (retrieval/key_ranges.h), each slice is searched by a single-threaded search
// of its own, and the slices' lines are written in slice order, so the answer is byte
// for byte the one a single search gives.
//
// Which searches: after planning, a table scan or a query whose planned candidates
// (index/line_source.h query_candidate_estimate) reach SplitSettings::min_lines over the
// files, not following records, while the gate has idle workers and nobody is queued.
// Anything else runs as one search (service_search.h).
//
// Threads: the request's own thread (the lead, holding the search's own worker) and each
// borrowed worker (SearchGate::borrow_idle) search slices, so a split over n workers runs
// n threads. A thread takes the lowest slice nobody has taken, the lead the first one; a
// borrowed worker goes back to the gate before taking another as soon as a request is
// queued, so a split search delays a queued request by at most one slice of one thread.
// Whoever finds the lines of the slice being written ready while nobody writes writes
// them, and every later ready batch in order: the slice being written goes from the
// thread that searches it straight to the client, and buffered slices are written by
// the first thread free. Each thread has its own search context (its own matcher scratch
// and counters); the prepared expression's query and database, and a table scan's
// block matcher, are shared read-only. The lead asks the probe and watches the timeout.
//
// Order and memory: the slice being written (the lowest not yet written) holds at most
// kEmittingSliceBytes of lines before its thread waits for the client; later slices
// together hold at most kSplitBufferBytes, beyond which their threads wait until their
// slice is the one being written. Offset and limit count results across slices as one
// search counts them; a slice never makes more than offset + limit results, and every
// thread stops once the limit is written. The timeout counts from the last result taken
// for writing (written, or skipped by the offset), not while a write is under way; the
// probe is asked every probe interval; a failed write or a true probe stops every
// thread. Statistics and phase times of every thread are summed into the outcome.
//
// Failures: a slice that meets a damaged index ends the answer after the slices before
// it, with damaged set (fin 500). Nothing here ends the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "service/search_gate.h"
#include "service/service_options.h"
#include "service/service_search.h"

namespace quarn {

class data_source;
class search_context;

// Slices per thread: enough that threads finishing at different times even out, and that
// a slice's lines fit in the buffer with room to spare (a thread that runs a whole
// buffer ahead of the writing slice waits), even for a scan that returns every line;
// few enough that the per-slice set-up (a bisection per file and split key, the
// candidate iterators' first seeks) stays small.
inline constexpr size_t kSlicesPerThread = 32;
// Bytes of lines held by the slices after the one being written, in all.
inline constexpr size_t kSplitBufferBytes = 32 * 1024 * 1024;
// Bytes of lines the slice being written may hold before it waits for the client.
inline constexpr size_t kEmittingSliceBytes = 1024 * 1024;

struct SplitSettings {
  unsigned max_workers = 1;             // workers one search may use in all; 1: no split
  uint64_t min_lines = kDefaultMinSplitLines;  // fewer lines to read: no split
};

// A fresh context prepared like the search's own (filters, expression, exclusion), or
// null when it cannot be; called on the thread that uses it.
using ContextMaker = std::function<std::unique_ptr<search_context>()>;

struct SplitHooks {
  ContextMaker make_context;
  // Called first on each borrowed thread, inside a log scope of its own (e.g. to set the
  // log prefix); may be null.
  std::function<void()> on_thread_start;
};

// Runs the search split when it qualifies (see above), else whole. *split (may be null)
// tells which. The ctx is the search's prepared context; it serves the calling thread.
SearchOutcome run_search_split_or_whole(const query_request& request,
                                        const SearchLimits& limits, search_context& ctx,
                                        data_source& source, const SplitSettings& settings,
                                        SearchGate& gate, const SplitHooks& hooks,
                                        const LineSink& sink, const AbortProbe& probe,
                                        bool* split = nullptr);

// Lines a search reads in these indexes: every line for a table scan, else the planned
// candidates (at most the lines).
uint64_t lines_to_read(const search_context& ctx, const std::vector<TgdbRef>& indexes);

}  // namespace quarn
