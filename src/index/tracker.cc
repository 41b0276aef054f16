#include "index/tracker.h"

#include "common/check.h"
#include "common/log.h"
#include "index/format.h"
#include "index/n_iter.h"
#include "index/tgdb.h"
#include "index/tracker_messages.h"
#include "retrieval/search_context.h"

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
  if (t.value_count == 0) {
    t.current = target;  // a range holds every line up to last
    return;
  }
  for (uint8_t i = t.value_index; i < t.value_count; ++i) {
    if (t.values[i] >= target) {
      t.value_index = i;
      t.current = t.values[i];
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

int tracker_init(tracker& t, const Tgdb* index, search_context* context, uint32_t ordinal) {
  QUARN_CHECK(index != nullptr && ordinal < kTrigramCount);
  t = tracker{};
  t.index = index;
  t.context = context;
  t.ordinal = static_cast<int32_t>(ordinal);
  t.nrefs = index->nrefs(ordinal);
  t.data = index->list(ordinal);
  t.counters = context ? &context->counters() : nullptr;
  QUARN_CHECK(t.nrefs > 0 && t.data != nullptr);
  if (t.counters) ++t.counters->lists_opened;
  return load_tracker(t);
}

int load_tracker(tracker& ti) {
  QUARN_CHECK(!IS_TRACKER_FINISHED(ti));
  tracker& t = ti;
  const int64_t p = t.position;
  const uint64_t e = entry(t, p);
  count_decoded(t, 1);
  t.current = e;

  if (ref_is_other(e)) {
    if (p == 0) {
      QLOG(LOG_ERROR, tracker_msg::kOffsetNoBase, t.ordinal, static_cast<unsigned long>(p),
           static_cast<unsigned long>(e));
      return -1;
    }
    const uint64_t b = entry(t, p - 1);
    count_decoded(t, 1);
    if (ref_is_start(b) || ref_is_other(b)) {
      QLOG(LOG_ERROR, tracker_msg::kOffsetBadBase, t.ordinal, static_cast<unsigned long>(p),
           static_cast<unsigned long>(b));
      return -1;
    }
    uint64_t base = ref_value(b);
    const RefOffsets offs = decode_offsets(e);
    t.values[0] = t.values[1] = t.values[2] = t.values[3] = 0;
    uint8_t n = 0;
    for (int i = 0; i < 4; ++i) {
      if ((offs.mask & (1u << i)) == 0) continue;
      base += offs.slot[i];
      t.values[n++] = base;
    }
    if (n == 0) {
      QLOG(LOG_ERROR, tracker_msg::kOffsetNoSlot, static_cast<unsigned long>(e));
      return -1;
    }
    t.current = t.values[0];
    t.last = t.values[n - 1];
    t.value_count = n;
    t.value_index = 0;
    return 0;
  }

  if (ref_is_end(e)) {
    if (log_enabled(LOG_ERROR)) {
      const char* name = "???";
      char text[4] = {0, 0, 0, 0};
      if (t.ordinal >= 0 && trigram_text(static_cast<uint32_t>(t.ordinal), text) == 0)
        name = text;
      log_write(LOG_ERROR, tracker_msg::kBadStart, static_cast<unsigned long>(e), name,
                static_cast<unsigned long>(p), static_cast<size_t>(t.nrefs));
      for (int64_t back = 1; back <= 2 && p - back >= 0; ++back)
        log_write(LOG_ERROR, tracker_msg::kBadStartPrev, static_cast<unsigned long>(p - back),
                  static_cast<unsigned long>(entry(t, p - back)));
    }
    return -1;
  }

  if (ref_is_start(e)) {
    if (static_cast<uint64_t>(p) + 1 >= t.nrefs) {
      QLOG(LOG_ERROR, "%s", tracker_msg::kMissingRangeEnd);
      return -1;
    }
    const uint64_t end = entry(t, p + 1);
    count_decoded(t, 1);
    // A range whose end lies below its start is as malformed as one without an end: it
    // would otherwise let a seek step backwards.
    if (!ref_is_end(end) || ref_value(end) < ref_value(e)) {
      QLOG(LOG_ERROR, tracker_msg::kBadRangeEnd, static_cast<unsigned long>(end));
      return -1;
    }
    t.position = p + 1;
    t.current = ref_value(e);
    t.last = ref_value(end);
    t.value_count = 0;
    t.value_index = 0;
    return 0;
  }

  t.last = e;  // plain entry: no kind bits, so e is the line itself
  t.value_count = 0;
  t.value_index = 0;
  return 0;
}

void tracker_seek(tracker& t, uint64_t target) {
  if (t.context) t.context->check_deadline();
  if (t.counters) ++t.counters->seeks;
  if (t.finished || target <= t.current) return;
  if (target <= t.last) {
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
  if (target <= t.last) {
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
    if (target <= t.last) break;
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
    } else if (target <= t.last) {
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
