// The reports of tginspect: header, per-trigram dump, gap statistics and one line.
#include <cstring>
#include <ctime>

#include "index/format.h"
#include "index/line_lookup.h"
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

// Walks one list for the dump at verbosity >= 1; adds the lines it stands for to *total.
// Returns false after printing a structural error.
bool walk_list(const uint8_t* list, uint64_t n, size_t ordinal, int verbosity, FILE* out,
               FILE* err, uint64_t* total) {
  uint64_t t = 0;
  for (uint64_t j = 0; j < n; ++j) {
    const uint64_t e = ref_at(list, j);
    const uint64_t value = ref_value(e);
    if (ref_is_start(e)) {
      if ((e & (REF_END | REF_OTHER)) != 0) {
        fprintf(err, inspect_msg::kStartAndOther, static_cast<ulong>(e));
        return false;
      }
      if (j + 1 >= n) {
        fprintf(err, inspect_msg::kStartAtEnd, ordinal, static_cast<ulong>(e));
        return false;
      }
      const uint64_t next = ref_at(list, j + 1);
      if (!ref_is_end(next)) {
        fprintf(err, inspect_msg::kStartWithoutEnd, static_cast<size_t>(j), static_cast<ulong>(next));
        return false;
      }
      if ((next & (REF_START | REF_OTHER)) != 0) {
        fprintf(err, "%s", inspect_msg::kEndAndOther);
        return false;
      }
      const uint64_t end = ref_value(next);
      if (end < value) {
        fprintf(err, inspect_msg::kRangeBackwards, static_cast<size_t>(j), static_cast<ulong>(value),
                static_cast<ulong>(end));
        return false;
      }
      t += end - value + 1;
      if (verbosity >= 3) {
        for (uint64_t x = value; x <= end; ++x) fprintf(out, "%zu ", static_cast<size_t>(x));
        ++j;  // the end entry is done
      } else if (verbosity == 2) {
        fprintf(out, "%s%lu%s", "*", static_cast<ulong>(value), "");
      }
    } else if (ref_is_end(e)) {
      if ((e & (REF_START | REF_OTHER)) != 0) {
        fprintf(err, "%s", inspect_msg::kEndAndOther);
        return false;
      }
      if (verbosity >= 2) fprintf(out, "%s%lu%s", "-", static_cast<ulong>(value), " ");
    } else if (ref_is_other(e)) {
      if (j == 0) {
        fprintf(err, inspect_msg::kOffsetsFirst, static_cast<ulong>(e));
        return false;
      }
      const uint64_t prev = ref_at(list, j - 1);
      if ((prev & (REF_START | REF_OTHER)) != 0) {
        fprintf(err, inspect_msg::kBadPrecedingMask, static_cast<size_t>(j), static_cast<ulong>(prev));
        return false;
      }
      const RefOffsets d = decode_offsets(e);
      t += d.count;
      if (verbosity >= 2) {
        uint64_t running = ref_value(prev);
        for (int s = 0; s < 4; ++s) {
          running += d.slot[s];
          if ((d.mask >> s) & 1) fprintf(out, s == 0 ? "%lu" : ",%lu", static_cast<ulong>(running));
        }
        fputc(' ', out);
      }
    } else {
      ++t;
      if (verbosity >= 2) fprintf(out, "%s%lu%s", "", static_cast<ulong>(value), " ");
    }
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
      if (!walk_list(t.list(i), n, i, verbosity, out, err, &total)) return 1;
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
