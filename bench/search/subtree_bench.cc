// Subtree-run benchmark: time per search with subtree runs on and off, for owner-name
// suffix expressions (which can use them) and a few others (which must not get slower).
//
//   bench_subtree INDEX [REPEATS [LIMIT]]      defaults: 7 repeats, limit 10000 (-1: none)
//
// Each expression runs REPEATS times each way, alternating, in this process, the way
// quarnsearch runs it (plan, compile, open, pull results up to the limit, format each
// in raw form). The table gives the median wall and CPU times each way, the speed-up of
// the median CPU time (the steadier figure on a shared machine) and both result counts,
// which must agree. The load average is printed before and after the table.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "output/text_output.h"
#include "retrieval/data_source.h"
#include "retrieval/search_context.h"
#include "retrieval/tgdb_merger.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Expression {
  const char* kind;
  const char* text;
  bool glob;
};

constexpr Expression kExpressions[] = {
    {"suffix", "\\.co\\.uk$", false},
    {"suffix", "\\.com$", false},
    {"suffix", "\\.promocdn\\.net$", false},
    {"suffix", "*.co.uk", true},
    {"suffix", "*.com", true},
    {"suffix", "*.promocdn.net", true},
    {"suffix", ".*\\.com\\.br$", false},
    {"suffix", "(^|\\.)ru$", false},
    {"suffix", "^mail\\.[a-z]+\\.fr$", false},
    {"suffix", "\\.net$", false},
    {"other", "account-verify", false},
    {"other", "^ip-10-[0-9]+-", false},
    {"other", "[0-9a-f]{20}\\.cdn\\.", false},
    {"other", "xn--[a-z]{4,6}-", false},
    {"other", "\\.(co\\.uk|com\\.br)$", false},
    {"other", "promocdn", false},
};

struct Run {
  double seconds = 0;
  double cpu = 0;
  uint64_t results = 0;
};

Run search_once(quarn::data_source& source, const Expression& e, bool runs, int64_t limit) {
  Run run;
  const auto t0 = Clock::now();
  const std::clock_t c0 = std::clock();
  quarn::search_context ctx;
  ctx.set_subtree_runs(runs ? quarn::search_context::subtree_runs::where_worthwhile
                            : quarn::search_context::subtree_runs::off);
  std::string error;
  if (!ctx.compile(e.text, e.glob, &error)) {
    std::fprintf(stderr, "cannot compile %s: %s\n", e.text, error.c_str());
    std::exit(1);
  }
  std::unique_ptr<quarn::tgdb_merger> merger = source.open(ctx);
  std::string line;
  while (merger && (limit < 0 || run.results < static_cast<uint64_t>(limit))) {
    std::unique_ptr<quarn::result_entry> r = merger->next();
    if (!r) break;
    ++run.results;
    line.clear();
    quarn::format_raw(line, *r);
  }
  run.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  run.cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
  return run;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void print_load() {
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) == 3) std::printf("load average %.2f %.2f %.2f\n", load[0], load[1], load[2]);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s INDEX [REPEATS [LIMIT]]\n", argv[0]);
    return 2;
  }
  const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  const int64_t limit = argc > 3 ? std::atoll(argv[3]) : 10000;
  quarn::index_list list;
  if (!list.add(argv[1])) {
    std::fprintf(stderr, "cannot load %s\n", argv[1]);
    return 1;
  }
  std::printf("index %s, %d repeats, limit %lld\n\n", argv[1], repeats,
              static_cast<long long>(limit));
  print_load();
  std::printf("| kind | expression | results on | results off | on wall ms | off wall ms | "
              "on CPU ms | off CPU ms | speed-up (CPU) |\n");
  std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const Expression& e : kExpressions) {
    std::vector<double> on, off, on_cpu, off_cpu;
    Run with, without;
    for (int i = 0; i < repeats; ++i) {
      with = search_once(list, e, true, limit);
      without = search_once(list, e, false, limit);
      on.push_back(with.seconds);
      off.push_back(without.seconds);
      on_cpu.push_back(with.cpu);
      off_cpu.push_back(without.cpu);
    }
    const double a = median(on_cpu), b = median(off_cpu);
    std::printf("| %s | `%s`%s | %llu | %llu | %.2f | %.2f | %.2f | %.2f | %.2fx |\n", e.kind,
                e.text, e.glob ? " (glob)" : "", static_cast<unsigned long long>(with.results),
                static_cast<unsigned long long>(without.results), median(on) * 1e3,
                median(off) * 1e3, a * 1e3, b * 1e3, a > 0 ? b / a : 0.0);
    std::fflush(stdout);
  }
  print_load();
  return 0;
}
