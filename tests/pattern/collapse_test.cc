#include "pattern/collapse.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "pattern/matcher.h"
#include "pattern/parse.h"
#include "pattern/render.h"

namespace quarn {
namespace {

std::string collapsed(const std::string& expr, bool glob = false) {
  std::string err;
  re_elem_ptr tree = glob ? glob_parse(expr, &err) : regex_parse(expr, &err);
  EXPECT_TRUE(tree) << expr << ": " << err;
  if (!tree) return "";
  pattern_collapse(tree);
  return re_elem_to_string(*tree);
}

TEST(Collapse, RunsOfTheSameRepeatedByteBecomeOne) {
  const struct {
    const char* expr;
    const char* want;
  } rows[] = {
      {"^.*.*.*$", "^.*$"},
      {".*.+", ".+"},
      {".+.+x", ".{2,}x"},
      {".?.?.?", ".{0,3}"},
      {"a+a*b", "a+b"},
      {"[a-c]*[a-c]{2}", "[a-c]{2,}"},
      {"(.*)*", ".*"},
      {"(a+)+", "a+"},
      {"(a+)?b", "a*b"},
      {"(.*.*)*x", ".*x"},
      {"x.**", "x.*"},
      // Bounded runs of other bytes stay: the planner expands them as written.
      {"a?a?", "a?a?"},
      {"[ab]{1,2}[ab]", "[ab]{1,2}[ab]"},
      // Different members, or a minimum of 2 under a repeat, are not the same run.
      {"a*b*", "a*b*"},
      {"(a{2,})*", "(a{2,})*"},
      {"(^.*)*", "(^.*)*"},
  };
  for (const auto& r : rows) EXPECT_EQ(collapsed(r.expr), r.want) << r.expr;
  EXPECT_EQ(collapsed("a***?b", true), "^a.+b$");
  EXPECT_EQ(collapsed(std::string(400, '*'), true), "^.*$");
}

// Random runs of repeated single bytes and groups over a three-letter alphabet: the
// matcher gives the same answer for the expression as written and for its collapse.
TEST(Collapse, MatchesTheSameTextsAsTheOriginal) {
  static const char* kAtoms[] = {".", "a", "b", "[ab]", "(a)", "(.*)", "(a+)", "(b?)"};
  static const char* kReps[] = {"", "*", "+", "?", "{2}", "{1,3}", "{2,}", "*?", "+*"};
  std::mt19937 rng(7);
  auto pick = [&rng](size_t n) { return static_cast<size_t>(rng() % n); };
  int differing = 0;
  for (int i = 0; i < 300; ++i) {
    std::string expr = pick(4) == 0 ? "^" : "";
    for (size_t n = 1 + pick(5); n > 0; --n)
      expr += std::string(kAtoms[pick(std::size(kAtoms))]) + kReps[pick(std::size(kReps))];
    if (pick(4) == 0) expr += "$";
    std::string err;
    re_elem_ptr tree = regex_parse(expr, &err);
    ASSERT_TRUE(tree) << expr << ": " << err;
    const std::string before = re_elem_to_string(*tree);
    pattern_collapse(tree);
    const std::string after = re_elem_to_string(*tree);
    if (before != after) ++differing;
    compiled_pattern a, b;
    ASSERT_TRUE(pattern_compile(before, a, err)) << before << ": " << err;
    ASSERT_TRUE(pattern_compile(after, b, err)) << after << ": " << err;
    for (int k = 0; k < 60; ++k) {
      std::string text;
      for (size_t len = pick(8); len > 0; --len) text.push_back("abc"[pick(3)]);
      ASSERT_EQ(pattern_match(&a, nullptr, text.data(), text.size()),
                pattern_match(&b, nullptr, text.data(), text.size()))
          << expr << " collapsed to " << after << " on '" << text << "'";
    }
  }
  EXPECT_GT(differing, 100);  // the rewrite was exercised, not just skipped
}

std::string repeated(const std::string& unit, size_t times) {
  std::string s;
  for (size_t i = 0; i < times; ++i) s += unit;
  return s;
}

// What the matcher is given after planning: the rendering of the collapsed tree.
bool compiles_within_budget(const std::string& expr, bool glob, std::string& err) {
  re_elem_ptr tree = glob ? glob_parse(expr, &err) : regex_parse(expr, &err);
  EXPECT_TRUE(tree) << err;
  pattern_collapse(tree);
  compiled_pattern cp;
  return pattern_compile(re_elem_to_string(*tree), cp, err);
}

TEST(CompileBudget, RefusesCostlyPatternsWithTheError) {
  const std::string costly[] = {repeated(".*a", 1300), "(.*a){1000}", "((a|b){0,50}){50}",
                                repeated("(a|b)?", 600), repeated("a?bcdefgh", 400)};
  for (const std::string& expr : costly) {
    std::string err;
    EXPECT_FALSE(compiles_within_budget(expr, false, err)) << expr.substr(0, 40);
    EXPECT_EQ(err.rfind("expression too complex to compile: estimated cost ", 0), 0u)
        << expr.substr(0, 40) << ": " << err;
  }
  std::string err;
  EXPECT_FALSE(compiles_within_budget(repeated("*a", 2000), true, err));
  // Nested bounded repeats multiply; the estimate saturates instead of wrapping round.
  EXPECT_FALSE(compiles_within_budget("((((a{0,65534}){65534}){65534}){65534})", false, err));
}

TEST(CompileBudget, AcceptsLongRealisticPatterns) {
  std::string words;
  for (int i = 0; i < 400; ++i) words += (i ? "|host" : "host") + std::to_string(i * 37);
  const std::string realistic[] = {"[a-z]{25,}", "^[0-9a-f]{32}\\.", "^.{40,}$", words,
                                   std::string(4095, 'q'), "^" + repeated(".*", 2000) + "$",
                                   "x" + repeated(".?", 1000), "https?://[a-z0-9.-]+/"};
  for (const std::string& expr : realistic) {
    std::string err;
    EXPECT_TRUE(compiles_within_budget(expr, false, err)) << expr.substr(0, 40) << ": " << err;
  }
  std::string err;
  EXPECT_TRUE(compiles_within_budget(std::string(4095, '*'), true, err)) << err;
}

}  // namespace
}  // namespace quarn
