// Compile budget check: plans and compiles a list of hostile expressions (each at most
// 4,095 bytes) and of realistic ones, timing planning and the matcher's compile
// separately, and prints one line per expression and the worst accepted total. Every
// hostile expression must either be refused or finish within the target; every
// realistic one must be accepted.
//
//   build/bin/planner_compile_budget            the built-in lists
//   build/bin/planner_compile_budget FILE.tsv   also the expressions of a queries file
//                                               (class, kind, expression per line)
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "pattern/collapse.h"
#include "pattern/matcher.h"
#include "pattern/parse.h"
#include "pattern/render.h"
#include "planner/planner.h"

namespace {

struct entry {
  std::string name;
  std::string expr;
  bool glob;
  bool realistic;
};

constexpr size_t kMaxExpr = 4095;  // the longest expression a search line can carry

std::string repeat_to(const std::string& unit, const std::string& head,
                      const std::string& tail, size_t limit = kMaxExpr) {
  std::string s = head;
  while (s.size() + unit.size() + tail.size() <= limit) s += unit;
  return s + tail;
}

std::string alternation(size_t words, size_t limit = kMaxExpr) {
  std::string s;
  for (size_t i = 0; i < words; ++i) {
    std::string w = (i ? "|w" : "w") + std::to_string(i * 7919 % 100000) + "x";
    if (s.size() + w.size() > limit) break;
    s += w;
  }
  return s;
}

uint64_t cost_of(const std::string& expr, bool glob) {
  quarn::re_elem_ptr tree =
      glob ? quarn::glob_parse(expr, nullptr) : quarn::regex_parse(expr, nullptr);
  if (!tree) return 0;
  quarn::pattern_collapse(tree);
  return quarn::pattern_text_cost(quarn::re_elem_to_string(*tree));
}

// The longest run of `unit` (between head and tail, at most 4,095 bytes) whose cost is
// still within the budget: the slowest expressions the budget lets through.
std::string edge_of_budget(const std::string& unit, const std::string& head,
                           const std::string& tail, bool glob) {
  size_t lo = 0, hi = (kMaxExpr - head.size() - tail.size()) / unit.size();
  auto build = [&](size_t n) {
    std::string s = head;
    for (size_t i = 0; i < n; ++i) s += unit;
    return s + tail;
  };
  while (lo < hi) {
    const size_t mid = (lo + hi + 1) / 2;
    if (cost_of(build(mid), glob) <= quarn::kCompileBudget) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  return build(lo);
}

std::vector<entry> hostile() {
  std::vector<entry> v;
  auto add = [&v](std::string name, std::string expr, bool glob = false) {
    v.push_back({std::move(name), std::move(expr), glob, false});
  };
  const struct {
    const char* unit;
    const char* head;
    bool glob;
  } runs[] = {{"a?b", "", false},       {".*a", "", false},    {".+a", "", false},
              {"a.?", "", false},       {"*a", "", true},      {"?*", "", true},
              {"[a-z]{0,200}x", "", false}, {"[a-z]{0,20}x", "", false},
              {"(ab){0,9}", "", false}, {"|w123x", "w0", false}, {".{1,3}a", "", false},
              {"(a|b)?c", "", false},   {"(.*(a|b))", "", false}, {"a{0,3}b?", "", false},
              {"[ab][cd]", "", false},  {"(a|b)(c|d)", "", false},
              {"(abc|def)", "", false}, {"[ab][cd]x", "", false},
              {"a?bcdefgh", "", false}, {"a?bcdefghijklmnopq", "", false}, {"[ab]?cdefgh", "", false},
              {"([ab][cd]x?)", "", false}};
  for (const auto& r : runs)
    add(std::string("edge ") + r.unit, edge_of_budget(r.unit, r.head, "", r.glob), r.glob);
  add("^(.*)x400$", repeat_to(".*", "^", "$", 802));
  add("^(.*)xN$", repeat_to(".*", "^", "$"));
  add("glob *x800", std::string(800, '*'), true);
  add("glob *xN", std::string(kMaxExpr, '*'), true);
  add("x(.?)x1000", repeat_to(".?", "x", "", 2001));
  add("x(.?)xN", repeat_to(".?", "x", ""));
  add("(.*a)xN", repeat_to(".*a", "", ""));
  add("(.+a)xN", repeat_to(".+a", "", ""));
  add("(a.?)xN", repeat_to("a.?", "", ""));
  add("([ab]?)xN", repeat_to("[ab]?", "", ""));
  add("(a?b)xN", repeat_to("a?b", "", ""));
  add("(a|b)?xN", repeat_to("(a|b)?", "", ""));
  add("glob (*a)xN", repeat_to("*a", "", ""), true);
  add("glob (?*)xN", repeat_to("?*", "", ""), true);
  add("alternatives xN", alternation(100000));
  add("one-byte alternatives", repeat_to("|a", "b", ""));
  add("(.*a){1000}", "(.*a){1000}");
  add("(a.?){1000}", "(a.?){1000}");
  add("((a|b){0,50}){50}", "((a|b){0,50}){50}");
  add("(.{0,100}){100}", "(.{0,100}){100}");
  add("([a-z]{0,200}x){20}", "([a-z]{0,200}x){20}");
  add(".{0,65535}", ".{0,65535}");
  add("[a-z]{1000,}", "[a-z]{1000,}");
  add("(ab){0,2000}", "(ab){0,2000}");
  add("(a*b*c*)xN", repeat_to("a*b*c*", "", ""));
  add("(.*(a|b))xN", repeat_to(".*(a|b)", "", ""));
  add("((a|b).?)xN", repeat_to("(a|b).?", "", ""));
  add("(.{1,3}a)xN", repeat_to(".{1,3}a", "", ""));
  add("([ab][cd]){300}", "([ab][cd]){300}");
  add("(abc|def){500}", "(abc|def){500}");
  add("[ab]{3000}", "[ab]{3000}");
  add("^[0-9a-f]{4000}$", "^[0-9a-f]{4000}$");
  return v;
}

// Expressions the planner expands or permutes: its own work, apart from the compile.
void add_planner_heavy(std::vector<entry>& v) {
  std::string nested(40, '(');
  nested += "a[bc]d";
  for (int i = 0; i < 40; ++i) nested += "|ef){2,5}gh";
  v.push_back({"nested repeats x40", nested, false, false});
  v.push_back({"12 classes", "[ab][cd][ef][gh][ij][kl][mn][op][qr][st][uv][wx]", true, false});
  v.push_back({"[ab]{3000}", "[ab]{3000}", false, false});
  v.push_back({"(a|b){1300}", "(a|b){1300}", false, false});
  v.push_back({"x[ab]{1000}y", "x[ab]{1000}y", false, false});
}

std::vector<entry> realistic() {
  std::vector<entry> v;
  auto add = [&v](std::string expr, bool glob = false) {
    v.push_back({expr, expr, glob, true});
  };
  add("[a-z]{25,}");
  add("^[0-9a-f]{32}\\.");
  add("^[a-z]{20,}\\.(com|net)$");
  add("apple.*verify.*\\.(com|net)$");
  add("^.{40,}$");
  add("*.cdn.*cdn.net", true);
  add("x.*y.*z");
  v.push_back({"300 alternatives", alternation(300), false, true});
  v.push_back({"500 alternatives", alternation(500), false, true});
  return v;
}

void add_queries_file(const char* path, std::vector<entry>& v) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t a = line.find('\t');
    const size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
    const size_t c = b == std::string::npos ? b : line.find('\t', b + 1);
    if (c == std::string::npos) continue;
    const std::string expr = line.substr(b + 1, c - b - 1);
    v.push_back({expr, expr, line.compare(a + 1, b - a - 1, "glob") == 0, true});
  }
}

double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

struct outcome {
  bool accepted;
  double plan_s;
  double compile_s;
};

outcome run_one(const entry& e) {
  std::string pattern, error;
  auto t0 = std::chrono::steady_clock::now();
  quarn::tgr_ptr query = quarn::plan_expression(e.expr, e.glob, &pattern, &error);
  outcome o{query || error.empty(), seconds_since(t0), 0};
  if (!o.accepted) return o;
  quarn::compiled_pattern cp;
  t0 = std::chrono::steady_clock::now();
  o.accepted = quarn::pattern_compile(pattern, cp, error);
  o.compile_s = seconds_since(t0);
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<entry> all = hostile();
  add_planner_heavy(all);
  for (auto& e : realistic()) all.push_back(std::move(e));
  for (int i = 1; i < argc; ++i) add_queries_file(argv[i], all);

  double worst = 0, worst_plan = 0;
  std::string worst_name;
  bool realistic_refused = false;
  std::printf("%-24s %5s %10s %8s %9s %9s\n", "expression", "bytes", "cost", "result", "plan_s",
              "compile_s");
  for (const entry& e : all) {
    if (e.expr.size() > kMaxExpr) continue;
    const outcome o = run_one(e);
    std::printf("%-24.24s %5zu %10llu %8s %9.4f %9.4f\n", e.name.c_str(), e.expr.size(),
                static_cast<unsigned long long>(cost_of(e.expr, e.glob)), o.accepted ? "accepted" : "refused",
                o.plan_s, o.compile_s);
    if (e.realistic && !o.accepted) realistic_refused = true;
    if (o.plan_s > worst_plan) worst_plan = o.plan_s;
    const double total = o.plan_s + o.compile_s;
    if (total > worst) {
      worst = total;
      worst_name = e.name.substr(0, 40);
    }
  }
  std::printf("worst plan+compile: %.4f s (%s); worst planning alone: %.4f s\n", worst,
              worst_name.c_str(), worst_plan);
  if (realistic_refused) std::printf("a realistic expression was refused\n");
  return realistic_refused ? 1 : 0;
}
