// The planner's one property that must never break: every string the matcher accepts
// satisfies the planned trigram query. Expressions come from a grammar covering every
// construct of both dialects; candidate strings are derived from the expression, mutated,
// or unrelated names, and the matcher decides which of them match.
//
// QUARN_PROPERTY_ROUNDS raises the number of expressions per dialect for longer runs;
// QUARN_PROPERTY_SEED changes the first seed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/log.h"
#include "expression_gen.h"
#include "pattern/matcher.h"
#include "planner/planner.h"
#include "common/trigram.h"
#include "planner/tgr_eval.h"

namespace quarn {
namespace {

using testing::expression_gen;
using testing::gen_node;

// Expressions per dialect and seed; the sanitizer build runs fewer (each costs several
// times more there) and the release build keeps tens of thousands of checked strings.
#if defined(__SANITIZE_ADDRESS__)
constexpr uint64_t kDefaultRounds = 500;
#else
constexpr uint64_t kDefaultRounds = 1500;
#endif

uint64_t env_number(const char* name, uint64_t fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::strtoull(v, nullptr, 10) : fallback;
}

struct property_stats {
  size_t expressions = 0, planned = 0, table_scans = 0, failed = 0, checked = 0, matched = 0;
};

// What the index side relies on: no empty slot, no empty node, ordinals in range.
bool well_formed(const tgr_result* n) {
  if (!n || n->empty()) return false;
  for (uint32_t o : n->trigrams)
    if (o >= kTrigramCount) return false;
  for (const auto& c : n->children)
    if (!well_formed(c.get())) return false;
  return true;
}

// Plans one expression and checks every candidate; gives false after a counter-example.
bool check_expression(const std::string& expr, bool glob, const gen_node& tree,
                      expression_gen& gen, property_stats& stats) {
  ++stats.expressions;
  std::string pattern, error;
  tgr_ptr query = plan_expression(expr, glob, &pattern, &error);
  if (!error.empty()) {
    ++stats.failed;
    return true;
  }
  if (!query) ++stats.table_scans;
  if (query && !well_formed(query.get())) {
    ADD_FAILURE() << "malformed query for " << (glob ? "glob " : "regex ") << "{" << expr
                  << "}: " << tgr_to_text(query.get());
    return false;
  }
  ++stats.planned;
  compiled_pattern matcher;
  std::string compile_error;
  if (!pattern_compile(pattern, matcher, compile_error)) return true;  // refused by the engine

  for (int i = 0; i < 24; ++i) {
    std::string s;
    if (i < 12)
      s = gen.sample(tree, glob);
    else if (i < 20)
      s = gen.mutate(gen.sample(tree, glob));
    else
      s = gen.random_name();
    ++stats.checked;
    if (!matcher.matches(s.data(), s.size())) continue;
    ++stats.matched;
    if (!tgr_matches_text(query.get(), s)) {
      std::string q = tgr_to_text(query.get());
      if (q.size() > 600) q = q.substr(0, 600) + "...";
      ADD_FAILURE() << "lost match: " << (glob ? "glob " : "regex ") << "{" << expr
                    << "} pattern {" << pattern << "} string {" << s << "} query " << q;
      return false;
    }
  }
  return true;
}

void run_property(bool glob, uint64_t seed, uint64_t rounds) {
  log_set_level(LOG_FAILURE);
  expression_gen gen(seed);
  property_stats stats;
  int failures = 0;
  for (uint64_t r = 0; r < rounds && failures < 5; ++r) {
    gen_node tree = glob ? gen.glob_tree() : gen.regex_tree();
    std::string expr = glob ? expression_gen::render_glob(tree) : expression_gen::render_regex(tree);
    if (!check_expression(expr, glob, tree, gen, stats)) ++failures;
  }
  std::printf("%s seed %llu: %zu expressions, %zu planned (%zu table scans), %zu failed, "
              "%zu strings checked, %zu matched\n",
              glob ? "glob" : "regex", static_cast<unsigned long long>(seed), stats.expressions,
              stats.planned, stats.table_scans, stats.failed, stats.checked, stats.matched);
  // The generator must actually exercise the property: most candidates are matches.
  EXPECT_GT(stats.matched, stats.checked / 4);
  EXPECT_LT(stats.table_scans, stats.planned);
}

TEST(NecessaryCondition, RegularExpressions) {
  const uint64_t seed = env_number("QUARN_PROPERTY_SEED", 20261208);
  const uint64_t rounds = env_number("QUARN_PROPERTY_ROUNDS", kDefaultRounds);
  for (uint64_t s = 0; s < 2; ++s) run_property(false, seed + s, rounds);
}

TEST(NecessaryCondition, Globs) {
  const uint64_t seed = env_number("QUARN_PROPERTY_SEED", 20261208);
  const uint64_t rounds = env_number("QUARN_PROPERTY_ROUNDS", kDefaultRounds);
  for (uint64_t s = 0; s < 2; ++s) run_property(true, seed + 100 + s, rounds);
}

}  // namespace
}  // namespace quarn
