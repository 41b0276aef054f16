// Table-scan benchmark: string-table megabytes per second of searches that scan the
// whole table, per pattern.
//
//   bench_scan INDEX [REPEATS]          (bench/search/scan.sh builds the index and runs it)
//
// For each pattern, two medians over REPEATS runs (default 5) in this process: "lines",
// the line source alone (every line it hands out, with the per-key matcher called on
// each line it does not mark confirmed, as the merger would) and "search", the whole
// merged search with no result limit and no formatting. Both divide the string table's
// size by the time, which is this process's CPU time: per core, and steady on a machine
// that other work shares.
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "index/line_source.h"
#include "index/tgdb.h"
#include "retrieval/search_context.h"
#include "retrieval/tgdb_merger.h"

namespace {

double cpu_now() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

constexpr const char* kPatterns[] = {".*", "^[a-z.]+$", "com", "[a-z]{25,}",
                                     "^[0-9a-f]{32}\\.", "[0-9]", "^mail\\.|\\.net$",
                                     "^.*mail.*$" /* the glob *mail* */};

double seconds_since(double t0) { return cpu_now() - t0; }

// Lines handed out and keys that passed; the time goes to *seconds.
unsigned long drain_lines(quarn::Tgdb* index, quarn::search_context& ctx, double* seconds) {
  const double t0 = cpu_now();
  bool error = false;
  std::unique_ptr<quarn::line_source> src = quarn::line_source::create(index, ctx, &error);
  unsigned long passed = 0;
  const char* line;
  size_t length;
  while (src && src->next(&line, &length)) {
    const void* tab = std::memchr(line, '\t', length);
    const size_t key = tab ? static_cast<size_t>(static_cast<const char*>(tab) - line) : length;
    if (src->confirmed() || ctx.match(line, key)) ++passed;
  }
  *seconds = seconds_since(t0);
  return passed;
}

unsigned long merged_search(quarn::Tgdb* index, quarn::search_context& ctx, double* seconds) {
  const double t0 = cpu_now();
  quarn::tgdb_merger merger(ctx, index->is_rdata());
  merger.add_index(index);
  unsigned long results = 0;
  while (std::unique_ptr<quarn::result_entry> r = merger.next()) {
    ++results;
    merger.recycle(std::move(r));
  }
  *seconds = seconds_since(t0);
  return results;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s INDEX [REPEATS]\n", argv[0]);
    return 2;
  }
  const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  quarn::TgdbRef index = quarn::tgdb_load(argv[1]);
  if (!index) {
    std::fprintf(stderr, "cannot load %s\n", argv[1]);
    return 1;
  }
  const double mb = static_cast<double>(index->string_table_size()) / 1e6;
  std::printf("string table %.1f MB\n\n", mb);
  std::printf("| pattern | keys passed | lines ms | lines MB/s | results | search ms | search MB/s |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
  for (const char* pattern : kPatterns) {
    std::vector<double> lines_s, search_s;
    unsigned long passed = 0, results = 0;
    for (int i = 0; i < repeats; ++i) {
      quarn::search_context ctx;
      std::string error;
      if (!ctx.compile(pattern, false, &error)) {
        std::fprintf(stderr, "cannot compile %s: %s\n", pattern, error.c_str());
        return 1;
      }
      // Every pattern here is a table scan, whatever its trigram query.
      ctx.set_query(nullptr);
      double s = 0;
      passed = drain_lines(index.get(), ctx, &s);
      lines_s.push_back(s);
      results = merged_search(index.get(), ctx, &s);
      search_s.push_back(s);
    }
    const double l = median(lines_s), m = median(search_s);
    std::printf("| `%s` | %lu | %.1f | %.0f | %lu | %.1f | %.0f |\n", pattern, passed, l * 1e3,
                mb / l, results, m * 1e3, mb / m);
  }
  return 0;
}
