// The reports of tginspect: header, per-trigram dump, gap statistics and one line.
#include <cstring>
#include <ctime>

#include "index/format.h"
#include "index/line_lookup.h"
#include "index/ref_item.h"
#include "index/tgdb.h"
#include "inspect/inspect.h"
#include "inspect/inspect_messages.h"

namespace quarn {

namespace {

using ulong = unsigned long;

// Local-time text of t as ctime_r gives it, without the trailing line feed.
void time_text(uint32_t t, char buf[32]) {
  std::memset(buf, 0, 32);
  time_t tt = static_cast<time_t>(t);
  if (ctime_r(&tt, buf) == nullptr) buf[0] = '\0';
  size_t n = strlen(buf);
  if (n > 0 && buf[n - 1] == '\n') buf[n - 1] = '\0';
}

// Prints the lines of one item at verbosity >= 2: every line of a range from -vvv on,
// else a range as "*first-last"; the lines of offset compression comma-separated.
void print_item(const ref_item& item, int verbosity, FILE* out) {
  switch (item.kind) {
    case ref_item_kind::range:
      if (verbosity >= 3) {
        for (uint64_t x = item.first; x <= item.last; ++x) fprintf(out, "%zu ", static_cast<size_t>(x));
      } else {
        fprintf(out, "*%lu-%lu ", static_cast<ulong>(item.first), static_cast<ulong>(item.last));
      }
      return;
    case ref_item_kind::offsets: {
      // A line held in slot 0 is printed without a comma before it.
      uint8_t k = 0;
      for (int s = 0; s < 4; ++s)
        if ((item.slot_mask >> s) & 1) fprintf(out, s == 0 ? "%lu" : ",%lu", static_cast<ulong>(item.values[k++]));
      fputc(' ', out);
      return;
    }
    case ref_item_kind::plain:
      fprintf(out, "%lu ", static_cast<ulong>(item.first));
      return;
  }
}

// Lines an item stands for.
uint64_t item_lines(const ref_item& item) {
  switch (item.kind) {
    case ref_item_kind::range:
      return item.last - item.first + 1;
    case ref_item_kind::offsets:
      return item.value_count;
    case ref_item_kind::plain:
      break;
  }
  return 1;
}

// Prints the structural error of a fault that stops the dump; false for the faults the
// dump tolerates (a range end of its own, offset compression without a slot).
bool report_fault(ref_fault fault, const ref_item& item, uint64_t j, size_t ordinal,
                  uint64_t start_entry, FILE* err) {
  switch (fault) {
    case ref_fault::start_mixed:
      fprintf(err, inspect_msg::kStartAndOther, static_cast<ulong>(item.bad_entry));
      return true;
    case ref_fault::range_at_end:
      fprintf(err, inspect_msg::kStartAtEnd, ordinal, static_cast<ulong>(item.bad_entry));
      return true;
    case ref_fault::range_no_end:
      fprintf(err, inspect_msg::kStartWithoutEnd, static_cast<size_t>(j), static_cast<ulong>(item.bad_entry));
      return true;
    case ref_fault::end_mixed:
      fprintf(err, "%s", inspect_msg::kEndAndOther);
      return true;
    case ref_fault::range_backwards:
      fprintf(err, inspect_msg::kRangeBackwards, static_cast<size_t>(j),
              static_cast<ulong>(ref_value(start_entry)), static_cast<ulong>(ref_value(item.bad_entry)));
      return true;
    case ref_fault::offsets_no_base:
      fprintf(err, inspect_msg::kOffsetsFirst, static_cast<ulong>(item.bad_entry));
      return true;
    case ref_fault::offsets_bad_base:
      fprintf(err, inspect_msg::kBadPrecedingMask, static_cast<size_t>(j), static_cast<ulong>(item.bad_entry));
      return true;
    case ref_fault::none:
    case ref_fault::lone_end:
    case ref_fault::offsets_no_slot:
      return false;
  }
  return false;
}

// Lines of the string table: its line feeds, plus a last line left without one.
uint64_t table_lines(const Tgdb& t) {
  const char* p = t.string_table();
  const char* end = p + t.string_table_size();
  uint64_t lines = 0;
  while (p < end) {
    const void* lf = std::memchr(p, '\n', static_cast<size_t>(end - p));
    ++lines;
    if (lf == nullptr) break;
    p = static_cast<const char*>(lf) + 1;
  }
  return lines;
}

// Walks one list for the dump at verbosity >= 1; adds the lines it stands for to *total.
// A range end of its own is printed but stands for no line; offset compression without
// a slot stands for none. A range reaching past the index's `lines` is a structural
// error. Returns false after printing a structural error.
bool walk_list(const uint8_t* list, uint64_t n, size_t ordinal, int verbosity, uint64_t lines,
               FILE* out, FILE* err, uint64_t* total) {
  uint64_t t = 0;
  ref_item item;
  for (uint64_t j = 0; j < n; j += item.entries) {
    const ref_fault fault = decode_ref_item<ref_kinds::exclusive>(list, n, j, item);
    if (report_fault(fault, item, j, ordinal, ref_at(list, j), err)) return false;
    if (fault == ref_fault::lone_end) {
      if (verbosity >= 2) fprintf(out, "-%lu ", static_cast<ulong>(item.first));
      continue;
    }
    if (item.kind == ref_item_kind::range && item.last >= lines) {
      fprintf(err, inspect_msg::kRangePastLines, static_cast<size_t>(j), static_cast<ulong>(item.first),
              static_cast<ulong>(item.last), static_cast<ulong>(lines));
      return false;
    }
    t += item_lines(item);
    if (verbosity >= 2) print_item(item, verbosity, out);
  }
  *total = t;
  return true;
}

}  // namespace

void print_header_report(const Tgdb& t, FILE* out) {
  const TgdbHeader& h = t.header();
  struct Named {
    uint32_t bit;
    const char* name;
  };
  static const Named kFlags[] = {{kFlagUnified, "unified"},
                                 {kFlagRealRef, "real_ref"},
                                 {kFlagRdata, "rdata"},
                                 {kFlagTimefence, "timefence"}};
  fprintf(out, "Flags = [");
  if (h.flags == 0) {
    fprintf(out, "%s", "none");
  } else {
    bool first = true;
    for (const Named& f : kFlags) {
      if ((h.flags & f.bit) == 0) continue;
      fprintf(out, "%s%s", first ? "" : ", ", f.name);
      first = false;
    }
  }
  fprintf(out, "] (0x%x)\n", h.flags);
  fprintf(out, "Header length: %u\n", h.header_length);
  fprintf(out, "Section sizes: string table (%zu), line index (%zu), tgdb (%zu), ",
          static_cast<size_t>(h.string_table_size), static_cast<size_t>(h.line_index_size),
          static_cast<size_t>(h.tgdb_size));
  if ((h.flags & kFlagTimefence) != 0) {
    char buf[32];
    time_text(h.earliest_seen, buf);
    fprintf(out, "earliest seen (%u [%s]), ", h.earliest_seen, buf);
    time_text(h.latest_seen, buf);
    fprintf(out, "latest seen (%u [%s])\n", h.latest_seen, buf);
  } else {
    fprintf(out, "earliest seen (%u), latest seen (%u)\n", h.earliest_seen, h.latest_seen);
  }
}

int dump_trigrams(const Tgdb& t, long ordinal, int verbosity, FILE* out, FILE* err) {
  // Every slot of a loaded file lives in the file's mapping, never in a heap buffer.
  static const char kMarker[] = " * ";
  uint32_t from = 0, to = kTrigramCount;
  if (ordinal >= 0) {
    if (ordinal >= static_cast<long>(kTrigramCount)) {
      fprintf(err, inspect_msg::kOrdinalRange, ordinal, kTrigramCount - 1);
      return 1;
    }
    from = static_cast<uint32_t>(ordinal);
    to = from + 1;
  }
  uint64_t entries = 0, bytes = 0;
  const uint64_t lines = verbosity >= 1 ? table_lines(t) : 0;
  for (uint32_t i = from; i < to; ++i) {
    const uint64_t n = t.nrefs(i);
    if (verbosity == 0 && n == 0) continue;
    char text[4];
    trigram_text(i, text);
    if (verbosity == 0) {
      fprintf(out, "%.5zu %s: %zu%s\n", static_cast<size_t>(i), text, static_cast<size_t>(n), kMarker);
    } else {
      fprintf(out, "%.5zu %s: %zu%s  | ", static_cast<size_t>(i), text, static_cast<size_t>(n), kMarker);
      uint64_t total = 0;
      if (!walk_list(t.list(i), n, i, verbosity, lines, out, err, &total)) return 1;
      fprintf(out, verbosity == 1 ? "total = %zu" : "| total = %zu", static_cast<size_t>(total));
      if (total < n) fprintf(out, "  / *total < nrefs*");
      fputc('\n', out);
    }
    entries += n;
    bytes += kRefSize * n;
  }
  fprintf(out, inspect_msg::kStorage, static_cast<size_t>(bytes), static_cast<size_t>(bytes / 1048576),
          static_cast<size_t>(entries));
  return 0;
}

int print_gap_stats(const Tgdb& t, FILE* out, FILE* err) {
  static const char* const kLabels[9] = {"7b",    "8b",            "12b",          "16b",
                                         "20b",   "other",         "small offsets", "3 x smallest",
                                         "4 x smallest"};
  uint64_t counter[9] = {};
  uint64_t gaps = 0;
  for (uint32_t i = 0; i < kTrigramCount; ++i) {
    const uint64_t n = t.nrefs(i);
    if (n <= 1) continue;
    const uint8_t* list = t.list(i);
    uint64_t run = 0, pair = 0;
    for (uint64_t j = 1; j < n; ++j) {
      const uint64_t cur = ref_at(list, j);
      const uint64_t prev = ref_at(list, j - 1);
      if (ref_is_end(cur)) continue;
      if (ref_is_start(prev)) {
        fprintf(err, "%s", inspect_msg::kUnexpectedSequence);
        continue;
      }
      const uint64_t gap = (cur & 0xFFFFFFFFu) - (prev & 0xFFFFFFFFu);
      if (gap <= 65535) {
        if (gap <= 127) {
          ++counter[0];
          ++run;
        } else if (gap <= 255) {
          ++counter[1];
          ++run;
        } else if (gap <= 4095) {
          ++counter[2];
        } else {
          ++counter[3];
        }
        ++pair;
        if (pair == 2) {
          ++counter[6];
          pair = 0;
        }
        if (run == 3) {
          ++counter[7];
        } else if (run == 4) {
          ++counter[8];
          --counter[7];
          run = 0;
        }
      } else {
        ++counter[gap < 1048575 ? 4 : 5];
        run = pair = 0;
      }
      ++gaps;
    }
  }
  fputc('\n', out);
  for (size_t k = 0; k < 9; ++k) {
    // No counted gap at all reads as 0% rather than a division by zero.
    const uint64_t pct = gaps == 0 ? 0 : counter[k] * 100 / gaps;
    fprintf(out, inspect_msg::kGapLine, k, static_cast<size_t>(counter[k]), static_cast<size_t>(pct),
            kLabels[k]);
  }
  return 0;
}

int print_line(const Tgdb& t, uint64_t n, FILE* out, FILE* err) {
  const char* p = line_lookup(t, n);
  if (p == nullptr) {
    fprintf(err, "%s", inspect_msg::kNoLine);
    return 1;
  }
  const char* end = t.string_table() + t.string_table_size();
  const void* lf = std::memchr(p, '\n', static_cast<size_t>(end - p));
  const char* stop = lf == nullptr ? end : static_cast<const char*>(lf);
  fprintf(err, inspect_msg::kLineAddress, static_cast<size_t>(n), static_cast<const void*>(p));
  fprintf(out, inspect_msg::kLineText, static_cast<int>(stop - p), p);
  return 0;
}

}  // namespace quarn
