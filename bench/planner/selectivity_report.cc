// Selectivity report: plans a fixed list of realistic analyst expressions (or the
// expressions given on the command line, "-g" before an argument marks a glob) and
// prints, for each, whether it falls back to a table scan, the size of the planned
// query, the planning time, and the query itself in its canonical text form.
//
//   build/bin/planner_selectivity_report            the built-in list
//   build/bin/planner_selectivity_report -g '*.example.com' 'mail\.'
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "common/log.h"
#include "planner/planner.h"

namespace {

struct entry {
  std::string expr;
  bool glob;
};

size_t count_trigrams(const quarn::tgr_result* n) {
  if (!n) return 0;
  size_t t = n->trigrams.size();
  for (const auto& c : n->children) t += count_trigrams(c.get());
  return t;
}

const entry kBuiltIn[] = {
    {"\\.example\\.com$", false},
    {"^www\\.", false},
    {"mail", false},
    {"(paypal|apple|microsoft)", false},
    {"^[a-z0-9-]+\\.example\\.net$", false},
    {"^_dmarc\\.", false},
    {"xn--", false},
    {"cdn[0-9]+\\.", false},
    {"^ns[0-9]\\.", false},
    {"[0-9]{1,3}-[0-9]{1,3}-[0-9]{1,3}-[0-9]{1,3}\\.static", false},
    {"(login|signin|secure)\\..*\\.com$", false},
    {"google\\.(com|net|org)$", false},
    {"\\.onion$", false},
    {"ab.cd", false},
    {"^[a-f0-9]{32}\\.", false},
    {"[a-z][a-z][a-z]", false},
    {"^.{3}$", false},
    {"co", false},
    {".*", false},
    {"*.example.com", true},
    {"www.*", true},
    {"*paypal*", true},
    {"mail.*.org", true},
    {"?.co", true},
    {"*", true},
};

}  // namespace

int main(int argc, char** argv) {
  quarn::log_set_level(quarn::LOG_FAILURE);
  std::vector<entry> list;
  bool glob = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-g") {
      glob = true;
      continue;
    }
    list.push_back({a, glob});
    glob = false;
  }
  if (list.empty()) list.assign(std::begin(kBuiltIn), std::end(kBuiltIn));

  std::printf("%-5s %-48s %-10s %6s %8s %9s  query\n", "kind", "expression", "result", "nodes",
              "trigrams", "plan (us)");
  for (const entry& e : list) {
    std::string pattern, error;
    auto t0 = std::chrono::steady_clock::now();
    quarn::tgr_ptr q = quarn::plan_expression(e.expr, e.glob, &pattern, &error);
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                  std::chrono::steady_clock::now() - t0)
                  .count();
    const char* result = !error.empty() ? "error" : q ? "indexed" : "TABLESCAN";
    std::string text = error.empty() ? quarn::tgr_to_text(q.get()) : error;
    if (text.size() > 100) text = text.substr(0, 100) + "...";
    std::printf("%-5s %-48s %-10s %6zu %8zu %9lld  %s\n", e.glob ? "glob" : "regex",
                e.expr.c_str(), result, quarn::tgr_count_nodes(q.get()), count_trigrams(q.get()),
                static_cast<long long>(us), text.c_str());
  }
  return 0;
}
