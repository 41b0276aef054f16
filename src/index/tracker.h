// Trackers: one trigram's reference list walked as an ascending line-number sequence.
//
// A reference list is nrefs 5-byte entries (plain lines, ranges as a start/end pair, and
// offset-compression entries packing up to four nearby lines). A tracker decodes one item
// at a time, in place in the mapped index, and seeks forward by galloping (probe distances
// 1, 2, 4, ... entries) and then bisecting, so a seek far ahead costs a logarithmic number
// of decodings and a range is never expanded.
//
// Order of use: tracker_init (positions on the first item, or reports a defect), then any
// sequence of tracker_seek / tracker_get. A tracker only moves forward; finished is final.
// Every seek first checks the search deadline (which may throw search_aborted).
//
// Ownership: the tracker borrows the index (the line_source above it holds the index's
// reference) and the search hooks. It allocates nothing; tracker_iter_new wraps it as an
// n_iter leaf owned by the returned pointer.
//
// Invariants while not finished: position < nrefs; current <= item.last; with
// item.value_count > 0, current == item.values[value_index].
// Failures: a malformed entry is logged at level "error" and makes load_tracker return -1;
// during a seek that finishes the tracker, so the query simply yields fewer candidates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "index/ref_item.h"

namespace quarn {

class Tgdb;
class search_hooks;
struct SearchStats;
class n_iter;

struct tracker {
  const Tgdb* index = nullptr;
  search_hooks* hooks = nullptr;  // the search served, or nullptr
  bool finished = false;
  int32_t ordinal = 0;
  // Entry index of the current item's start or, for a range, of its end entry.
  int64_t position = 0;
  uint64_t current = 0;  // the line the tracker stands on
  ref_item item;         // the current item: its last line, its offset-compression lines
  uint8_t value_index = 0;  // which of item.values current is (offset compression)

  // The list itself: nrefs entries starting at data, inside the index's mapping.
  const uint8_t* data = nullptr;
  uint64_t nrefs = 0;
  // Where decoding and seek work is counted (the search's counters, or nullptr).
  SearchStats* counters = nullptr;
};

// True when the position lies past the list's last entry, so no item is there to load.
inline bool tracker_past_end(const tracker& t) {
  return static_cast<uint64_t>(t.position) >= t.nrefs;
}

// Sets up a tracker on trigram `ordinal` of the index and decodes its first item.
// Requires a non-empty list (checked; the loader has verified that every list lies
// inside the mapping). Returns 0, or -1 after a log line at level "error" when the first
// item is malformed.
int tracker_init(tracker& t, const Tgdb* index, search_hooks* hooks, uint32_t ordinal);

// Decodes the item at t.position. 0, or -1 after logging the defect. Requires that the
// tracker is not finished (checked).
int load_tracker(tracker& t);

// Afterwards current is the least line of the list not below target, or finished is set.
void tracker_seek(tracker& t, uint64_t target);

// false when finished; otherwise *out = current. Serves as both get and est.
inline bool tracker_get(const tracker& t, uint64_t* out) {
  if (t.finished) return false;
  *out = t.current;
  return true;
}

// The tracker as an n_iter leaf (seek = tracker_seek, get = est = tracker_get).
std::unique_ptr<n_iter> tracker_iter_new(const tracker& t);

}  // namespace quarn
