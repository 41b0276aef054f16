// Search benchmark: time per search for a fixed list of analyst expressions over one
// owner-name index, beside a full scan of the same names with grep -E -i.
//
//   bench_search [--budget] INDEX NAMES_TXT [REPEATS [EXPR...]]
//
// EXPR arguments replace the built-in list (each searched as a regex, kind "arg");
// --budget searches with the intersection budget the service uses (long reference
// lists of an intersection left to the matcher); "search ms" is the time after
// compilation (opening the lists, merging, matching, formatting).
// Each expression is searched REPEATS times (default 7) in this process, the way
// quarnsearch runs it (plan, compile, open, pull results up to the default limit of
// 10,000, format each in raw form); the table gives the median and 90th percentile
// time, the plan (trigram query or table scan), the results and the trigram and pattern
// match counts, then one grep -E -i -c run over NAMES_TXT for the same expression.
// Peak memory (maximum resident set, which includes the touched pages of the mapped
// index) closes the report.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/search_stats.h"
#include "output/text_output.h"
#include "retrieval/data_source.h"
#include "retrieval/search_context.h"
#include "retrieval/tgdb_merger.h"
#include "search/search_options.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Expression {
  const char* kind;
  const char* regex;
};

// Realistic analyst expressions, from the most selective to the broadest.
constexpr Expression kExpressions[] = {
    {"literal", "account-verify"},
    {"literal", "secure-login"},
    {"literal", "wallet-verify"},
    {"literal", "autodiscover\\.bank"},
    {"suffix", "\\.bank\\.ru$"},
    {"suffix", "\\.dyn\\.[a-z]+-isp\\.com$"},
    {"suffix", "^_dmarc\\.pay"},
    {"altern", "(wallet|crypto|coin)-(login|verify|update)"},
    {"altern", "^(mx|smtp|mail)[0-9]*\\.(bank|finance)"},
    {"class", "^ip-10-[0-9]+-[0-9]+-[0-9]+\\."},
    {"class", "[0-9a-f]{20}\\.cdn\\."},
    {"class", "xn--[a-z]{4,6}-"},
    {"broad", "^[a-z]{19,}\\.[a-z]+$"},
    {"broad", "^.{64,}$"},
    {"broad", "[0-9]{3}-[0-9]{3}"},
};

bool g_budget = false;

struct Run {
  double seconds = 0;
  double search_seconds = 0;
  quarn::SearchStats stats;  // counters only
  bool scan = false;
};

Run search_once(quarn::data_source& source, const char* expr) {
  Run run;
  const auto t0 = Clock::now();
  quarn::search_context ctx;
  std::string error;
  if (!ctx.compile(expr, false, &error)) {
    std::fprintf(stderr, "cannot compile %s: %s\n", expr, error.c_str());
    std::exit(1);
  }
  run.scan = ctx.query() == nullptr;
  ctx.set_intersection_budget(g_budget);
  const auto t1 = Clock::now();
  std::unique_ptr<quarn::tgdb_merger> merger = source.open(ctx);
  std::string line;
  while (merger && run.stats.results < quarn::kDefaultResultLimit) {
    std::unique_ptr<quarn::result_entry> r = merger->next();
    run.stats.add(ctx.counters());
    if (!r) break;
    ++run.stats.results;
    line.clear();
    quarn::format_raw(line, *r);
  }
  run.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  run.search_seconds = std::chrono::duration<double>(Clock::now() - t1).count();
  return run;
}

// Wall time of grep -E -i -c over the names file; its count goes to *count.
double grep_seconds(const char* expr, const char* names, long* count) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const auto t0 = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    execlp("grep", "grep", "-E", "-i", "-c", "-e", expr, names, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  char buf[64] = {};
  const ssize_t n = read(fds[0], buf, sizeof buf - 1);
  close(fds[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  *count = n > 0 ? std::strtol(buf, nullptr, 10) : -1;
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
  return v[i];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--budget") == 0) {
    g_budget = true;
    --argc;
    ++argv;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_search [--budget] INDEX NAMES_TXT [REPEATS [EXPR...]]\n");
    return 2;
  }
  const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;
  quarn::index_list list;
  const auto t_load = Clock::now();
  if (!list.add(argv[1])) {
    std::fprintf(stderr, "cannot load %s\n", argv[1]);
    return 1;
  }
  const double load_s = std::chrono::duration<double>(Clock::now() - t_load).count();
  struct stat st_names;
  const double names_mb = stat(argv[2], &st_names) == 0 ? st_names.st_size / 1e6 : 0;
  std::printf("index %s loaded in %.3f s; names file %.1f MB\n\n", argv[1], load_s, names_mb);
  std::printf("| kind | expression | plan | results | trigram matches | pattern matches | median ms | p90 ms | search ms | scanned MB/s | grep -E -i ms | grep count |\n");
  std::printf("|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  std::vector<Expression> chosen(std::begin(kExpressions), std::end(kExpressions));
  if (argc > 4) {
    chosen.clear();
    for (int i = 4; i < argc; ++i) chosen.push_back({"arg", argv[i]});
  }
  for (const Expression& e : chosen) {
    std::vector<double> times;
    std::vector<double> search_times;
    Run last;
    for (int i = 0; i < repeats; ++i) {
      last = search_once(list, e.regex);
      times.push_back(last.seconds);
      search_times.push_back(last.search_seconds);
    }
    const double med = percentile(times, 0.5);
    long grep_count = 0;
    const double grep_s = grep_seconds(e.regex, argv[2], &grep_count);
    std::printf("| %s | `%s` | %s | %llu%s | %llu | %llu | %.2f | %.2f | %.3f | %.0f | %.0f | %ld |\n", e.kind, e.regex,
                last.scan ? "table scan" : "trigrams", static_cast<unsigned long long>(last.stats.results),
                last.stats.results >= quarn::kDefaultResultLimit ? " (limit)" : "",
                static_cast<unsigned long long>(last.stats.trigram_matches),
                static_cast<unsigned long long>(last.stats.pattern_matches), med * 1e3, percentile(times, 0.9) * 1e3, percentile(search_times, 0.5) * 1e3,
                med > 0 ? last.stats.bytes_read / med / 1e6 : 0.0, grep_s * 1e3, grep_count);
    std::fflush(stdout);
  }
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  std::printf("\npeak memory (max RSS, including touched index pages): %.0f MB\n", ru.ru_maxrss / 1024.0);
  return 0;
}
