#include "index/tracker.h"

#include "common/check.h"
#include "common/log.h"
#include "index/format.h"
#include "index/n_iter.h"
#include "index/search_hooks.h"
#include "index/tgdb.h"
#include "index/tracker_messages.h"

namespace quarn {

namespace {

inline uint64_t entry(const tracker& t, int64_t i) {
  return ref_at(t.data, static_cast<uint64_t>(i));
}

inline void count_decoded(tracker& t, uint64_t n) {
  if (t.counters) t.counters->entries_decoded += n;
}

// Moves current inside the current item to the least line not below target, for
// current < target <= last.
inline void adjust_inside(tracker& t, uint64_t target) {
  if (t.item.value_count == 0) {
    t.current = target;  // a range holds every line up to last
    return;
  }
  for (uint8_t i = t.value_index; i < t.item.value_count; ++i) {
    if (t.item.values[i] >= target) {
      t.value_index = i;
      t.current = t.item.values[i];
      return;
    }
  }
  // Only reachable for gaps that do not ascend; stay monotone rather than step back.
  t.current = target;
}

// Loads the item at position, marking the tracker finished when it is malformed.
inline bool load_at(tracker& t, int64_t position) {
  t.position = position;
  if (load_tracker(t) < 0) {
    t.finished = true;
    return false;
  }
  return true;
}

// Steps a probe back over range-end entries so that it names the start of its item.
inline int64_t back_to_item_start(const tracker& t, int64_t i) {
  while (i > 0 && ref_is_end(entry(t, i))) --i;
  return i;
}

}  // namespace

int tracker_init(tracker& t, const Tgdb* index, search_hooks* hooks, uint32_t ordinal) {
  QUARN_CHECK(index != nullptr && ordinal < kTrigramCount);
  t = tracker{};
  t.index = index;
  t.hooks = hooks;
  t.ordinal = static_cast<int32_t>(ordinal);
  t.nrefs = index->nrefs(ordinal);
  t.data = index->list(ordinal);
  t.counters = hooks ? &hooks->counters() : nullptr;
  QUARN_CHECK(t.nrefs > 0 && t.data != nullptr);
  if (t.counters) ++t.counters->lists_opened;
  return load_tracker(t);
}

namespace {

// The "bad start" report: the entry, the trigram's text and the two entries before it.
void log_lone_end(const tracker& t, int64_t p, uint64_t e) {
  if (!log_enabled(LOG_ERROR)) return;
  const char* name = "???";
  char text[4] = {0, 0, 0, 0};
  if (t.ordinal >= 0 && trigram_text(static_cast<uint32_t>(t.ordinal), text) == 0) name = text;
  log_write(LOG_ERROR, tracker_msg::kBadStart, static_cast<unsigned long>(e), name,
            static_cast<unsigned long>(p), static_cast<size_t>(t.nrefs));
  for (int64_t back = 1; back <= 2 && p - back >= 0; ++back)
    log_write(LOG_ERROR, tracker_msg::kBadStartPrev, static_cast<unsigned long>(p - back),
              static_cast<unsigned long>(entry(t, p - back)));
}

// Logs the defect of the item at entry p, at level "error".
void log_fault(const tracker& t, ref_fault fault, int64_t p) {
  const unsigned long bad = static_cast<unsigned long>(t.item.bad_entry);
  switch (fault) {
    case ref_fault::offsets_no_base:
      QLOG(LOG_ERROR, tracker_msg::kOffsetNoBase, t.ordinal, static_cast<unsigned long>(p), bad);
      return;
    case ref_fault::offsets_bad_base:
      QLOG(LOG_ERROR, tracker_msg::kOffsetBadBase, t.ordinal, static_cast<unsigned long>(p), bad);
      return;
    case ref_fault::offsets_no_slot:
      QLOG(LOG_ERROR, tracker_msg::kOffsetNoSlot, bad);
      return;
    case ref_fault::lone_end:
      log_lone_end(t, p, t.item.bad_entry);
      return;
    case ref_fault::range_at_end:
      QLOG(LOG_ERROR, "%s", tracker_msg::kMissingRangeEnd);
      return;
    case ref_fault::range_no_end:
    case ref_fault::range_backwards:
      QLOG(LOG_ERROR, tracker_msg::kBadRangeEnd, bad);
      return;
    case ref_fault::none:
    case ref_fault::start_mixed:  // never reported under the first-set reading
    case ref_fault::end_mixed:
      return;
  }
}

}  // namespace

int load_tracker(tracker& t) {
  QUARN_CHECK(!tracker_past_end(t));
  const int64_t p = t.position;
  const ref_fault fault =
      decode_ref_item<ref_kinds::first_set>(t.data, t.nrefs, static_cast<uint64_t>(p), t.item);
  count_decoded(t, t.item.entries_read);
  if (fault != ref_fault::none) {
    log_fault(t, fault, p);
    return -1;
  }
  t.position = p + t.item.entries - 1;  // a range's position is its end entry
  t.current = t.item.first;
  t.value_index = 0;
  return 0;
}

void tracker_seek(tracker& t, uint64_t target) {
  if (t.hooks) t.hooks->check_deadline();
  if (t.counters) ++t.counters->seeks;
  if (t.finished || target <= t.current) return;
  if (target <= t.item.last) {
    adjust_inside(t, target);
    return;
  }

  const int64_t nrefs = static_cast<int64_t>(t.nrefs);
  // Step to the next item: most seeks are short, so try it before galloping.
  int64_t next = t.position + 1;
  if (next >= nrefs) {
    t.finished = true;
    return;
  }
  if (!load_at(t, back_to_item_start(t, next))) return;
  if (target <= t.item.last) {
    if (target >= t.current) adjust_inside(t, target);
    return;
  }

  // Gallop: probe 1, 2, 4, ... entries ahead until an item reaches the target.
  int64_t lo = t.position;
  int64_t step = 1;
  int64_t probe = lo;
  for (;;) {
    probe = lo + step;
    step *= 2;
    bool last_probe = false;
    if (probe >= nrefs) {
      probe = nrefs - 1;
      last_probe = true;
    }
    if (!load_at(t, back_to_item_start(t, probe))) return;
    probe = t.position;
    if (target <= t.item.last) break;
    if (last_probe) {
      t.finished = true;
      return;
    }
    lo = probe;
  }
  if (target >= t.current) {
    adjust_inside(t, target);
    return;
  }

  // Bisect between the last item below the target (lo) and the first probe above it.
  int64_t hi = probe;
  while (lo < hi) {
    int64_t mid = lo + (hi - lo) / 2;
    while (mid < hi && (mid == lo || ref_is_end(entry(t, mid)))) ++mid;
    if (mid >= hi) break;
    if (!load_at(t, mid)) return;
    if (target < t.current) {
      hi = mid;
    } else if (target <= t.item.last) {
      adjust_inside(t, target);
      return;
    } else {
      lo = mid;
    }
  }
  load_at(t, back_to_item_start(t, hi));
}

namespace {

// The tracker as an iterator leaf; est is get, since a tracker always knows its current
// line exactly at no cost.
class tracker_iter final : public n_iter {
 public:
  explicit tracker_iter(const tracker& t) : t_(t) {}
  void seek(uint64_t target) override { tracker_seek(t_, target); }
  bool get(uint64_t* value) override { return tracker_get(t_, value); }
  bool est(uint64_t* value) override { return tracker_get(t_, value); }

 private:
  tracker t_;
};

}  // namespace

std::unique_ptr<n_iter> tracker_iter_new(const tracker& t) {
  return std::make_unique<tracker_iter>(t);
}

}  // namespace quarn
