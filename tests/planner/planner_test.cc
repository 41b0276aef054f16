#include "planner/planner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/log_capture.h"
#include "pattern/matcher.h"
#include "planner/tgr_eval.h"

namespace quarn {
namespace {

using testing::LogCapture;

struct plan_row {
  const char* expr;
  bool glob;
  const char* query;  // canonical text of the final query ("none": table scan)
};

// Expression in, final query out. Lists come from bitmaps, so they are in ordinal order
// (first character least significant).
const plan_row kRows[] = {
    {"abc", false, "{abc}"},
    {"^abc", false, "{^^a ^ab abc}"},
    {"abc$", false, "{abc bc^ c^^}"},
    {"^ab$", false, "{^^a ^ab ab^ b^^}"},
    {"a", false, "none"},
    {".*", false, "none"},
    {"[ab]", false, "none"},
    {"^[ab]", false, "({^^a} | {^^b})"},
    {"(abc|d)", false, "none"},
    {"(abc|abd)[xy]", false, "(({abc} & ({bcx} | {bcy})) | ({abd} & ({bdx} | {bdy})))"},
    {"[ab]{14}", false, "({aaa} | {aab} | {aba} | {abb} | {baa} | {bab} | {bba} | {bbb})"},
    {"(ab){2}", false, "{aba bab}"},
    {"x(ab|cd){2}y", false, "(({xab} | {xcd}) & ({aby} | {cdy}))"},
    {"(abc|de)f", false, "({abc bcf} | {def})"},
    {"ab[xyz]", false, "({abx} | {aby} | {abz})"},
    {"ABC", false, "{abc}"},
    {"a!b", false, "{a@b}"},
    {"*.example.net", true, "{exa ple .ne mpl xam e.n amp net .ex le. et^ t^^}"},
    {"abc", true, "{^^a ^ab abc bc^ c^^}"},
    {"*", true, "none"},
};

TEST(PlanExpression, TableOfQueries) {
  log_set_level(LOG_FAILURE);
  for (const plan_row& row : kRows) {
    std::string pattern, error;
    tgr_ptr q = plan_expression(row.expr, row.glob, &pattern, &error);
    EXPECT_EQ(error, "") << row.expr;
    EXPECT_EQ(tgr_to_text(q.get()), row.query) << (row.glob ? "glob " : "regex ") << row.expr;
  }
}

TEST(PlanExpression, PairsAndBridgesCoverEverySymbol) {
  log_set_level(LOG_FAILURE);
  std::string pattern, error;
  // A two-character literal: the union of "ab" followed by each of the 41 symbols.
  tgr_ptr q = plan_expression("ab", false, &pattern, &error);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->op, TGR_UNION);
  EXPECT_EQ(q->children.size(), 41u);
  EXPECT_TRUE(tgr_matches_text(q.get(), "ab"));

  // One unknown byte between two literals: a union over the symbols the byte may be,
  // including '^' (a key may hold that byte and it shares the boundary symbol).
  q = plan_expression("ab.cd", false, &pattern, &error);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->op, TGR_UNION);
  EXPECT_EQ(q->children.size(), 41u);
  EXPECT_EQ(tgr_to_text(q->children[0].get()), "{aba bac acd}");
  EXPECT_TRUE(tgr_matches_text(q.get(), "xxab^cd"));
  EXPECT_TRUE(tgr_matches_text(q.get(), "ab!cd"));
  EXPECT_FALSE(tgr_matches_text(q.get(), "abcd"));

  // An end-anchored unknown byte after a literal.
  q = plan_expression("xyz.$", false, &pattern, &error);
  ASSERT_NE(q, nullptr);
  EXPECT_TRUE(tgr_matches_text(q.get(), "xyz^"));
  EXPECT_TRUE(tgr_matches_text(q.get(), "axyzQ"));
  EXPECT_FALSE(tgr_matches_text(q.get(), "xyzab"));
}

TEST(PlanExpression, ClassBesideShortAlternativeFails) {
  LogCapture cap(LOG_DEBUG);
  std::string pattern, error;
  tgr_ptr q = plan_expression("(a|bc)[xy]", false, &pattern, &error);
  EXPECT_EQ(q, nullptr);
  EXPECT_EQ(error, "could not coalesce string class and literal group");
  EXPECT_EQ(pattern, "(a|bc)[xy]");
  const std::string log = cap.text();
  EXPECT_NE(log.find("Error: class-permuted string \"a\" would be too short."), std::string::npos);
  EXPECT_NE(log.find("Error in trigramization: could not coalesce string class and literal group"),
            std::string::npos);
  EXPECT_NE(log.find("Warning: overly broad expression fell back to table scan {(a|bc)[xy]}"),
            std::string::npos);
}

TEST(PlanExpression, ParseFailure) {
  LogCapture cap(LOG_TRACE);
  std::string pattern = "stale", error;
  EXPECT_EQ(plan_expression("a{3,2}", false, &pattern, &error), nullptr);
  EXPECT_EQ(error, "Invalid bound at 1: 3 > 2");
  EXPECT_EQ(pattern, "");
  const std::string log = cap.text();
  EXPECT_EQ(log, "Error parsing regex expression: Invalid bound at 1: 3 > 2\n");
}

TEST(PlanExpression, ConversionMessages) {
  {
    LogCapture cap(LOG_DEBUG);
    std::string pattern, error;
    plan_expression("*.example.net", true, &pattern, &error);
    EXPECT_EQ(pattern, "^.*\\.example\\.net$");
    EXPECT_NE(cap.text().find("search expression {*.example.net} converted to {^.*\\.example\\.net$}"),
              std::string::npos);
  }
  {
    LogCapture cap(LOG_INFO);
    std::string pattern, error;
    plan_expression("(abc)", false, &pattern, &error);
    EXPECT_EQ(cap.text(), "search expression {(abc)} converted to {abc}\n");
    LogCapture quiet(LOG_INFO);
    plan_expression("abc.def", false, &pattern, &error);
    EXPECT_EQ(quiet.text(), "");
  }
  {
    // A glob's conversion is a debug message only.
    LogCapture cap(LOG_INFO);
    std::string pattern, error;
    plan_expression("abc", true, &pattern, &error);
    EXPECT_EQ(cap.text(), "");
  }
}

TEST(PlanExpression, TableScanWarningAndFinalDump) {
  LogCapture cap(LOG_DEBUG);
  std::string pattern, error;
  EXPECT_EQ(plan_expression(".*", false, &pattern, &error), nullptr);
  EXPECT_EQ(error, "");
  EXPECT_EQ(pattern, ".*");
  EXPECT_EQ(cap.text(),
            "--- final result:\n(no trigram filter)\n\n"
            "Warning: overly broad expression fell back to table scan {.*}\n");
}

TEST(PlanExpression, PermutationReductionMessages) {
  LogCapture cap(LOG_DEBUG);
  std::string pattern, error;
  tgr_ptr q = plan_expression("[a-z][a-z][a-z]", false, &pattern, &error);
  ASSERT_NE(q, nullptr);
  const std::string log = cap.text();
  const size_t a = log.find(
      "Warning: 17576 possible permutations exceeded threshold of 8192; reducing by factor of 26.\n");
  const size_t b = log.find("Warning: reduced expression to 676 possible permutations.\n");
  const size_t c = log.find("Reconstituted reduced expression is: .*[a-z][a-z]\n");
  ASSERT_NE(a, std::string::npos);
  ASSERT_NE(b, std::string::npos);
  ASSERT_NE(c, std::string::npos);
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_TRUE(tgr_matches_text(q.get(), "qrs"));

  LogCapture cap2(LOG_DEBUG);
  plan_expression("[a-e]{3}", false, &pattern, &error);
  EXPECT_NE(cap2.text().find("Warning: 125 possible permutations exceeded threshold of 64\n"),
            std::string::npos);
}

TEST(PlanExpression, TraceShowsEveryStageInOrder) {
  LogCapture cap(LOG_TRACE);
  std::string pattern, error;
  plan_expression("ab.cd", false, &pattern, &error);
  const std::string log = cap.text();
  size_t pos = 0;
  for (const char* marker : {"--- start debug\n", "+sequence", "--- end orig\n", "+sequence",
                             "--- end fixup\n", "--- pre-optimized result:\n", "+ TGR: 0=(2)",
                             "nodes from collapsed branch.", "--- final result:\n", "+ TGR: 0=(0), # union = 41"}) {
    size_t at = log.find(marker, pos);
    ASSERT_NE(at, std::string::npos) << marker << "\n" << log.substr(0, 2000);
    pos = at + 1;
  }
}

// Strings that match and that a literal reading of the planning rules would have lost;
// each row names the rule it guards.
TEST(PlanExpression, KnownLostMatchesStayFound) {
  log_set_level(LOG_FAILURE);
  const struct {
    const char* expr;
    const char* text;
  } kCases[] = {
      {"ab.cd", "ab^cd"},               // the unknown byte may be '^' itself
      {"xy[a^]z", "xy^z"},              // '^' in a class keeps the boundary symbol
      {"xy[!-+]{2,}zw", "xy!#zw"},      // a split unbounded class may be two bytes long
      {"^[ab]{9}$", "ababababa"},       // a class power shorter than the run
      {"x[ab]{9}y", "xababababay"},
      {"x(ab|cd){2}y", "xabcdy"},       // a repeated group joined on both sides
      {"xy(a|b){2}", "xyab"},
      {"^a{1,5}y", "aaay"},             // a repeated literal between anchor and neighbour
      {"^(ab|cd){2}$", "abcd"},
      {"[ab]{2,3}$", "xaab"},
  };
  for (const auto& c : kCases) {
    std::string pattern, error;
    tgr_ptr q = plan_expression(c.expr, false, &pattern, &error);
    compiled_pattern m;
    std::string compile_error;
    ASSERT_TRUE(pattern_compile(pattern, m, compile_error)) << compile_error;
    ASSERT_TRUE(m.matches(c.text, std::strlen(c.text))) << c.expr;
    EXPECT_TRUE(tgr_matches_text(q.get(), c.text))
        << c.expr << " lost " << c.text << ": " << tgr_to_text(q.get());
  }
}

// Repeated groups nested in one another: the query grows with the expression, not with
// two (or three) to the power of the nesting depth.
TEST(PlanExpression, NestedRepeatsStayLinear) {
  log_set_level(LOG_FAILURE);
  auto nodes_for = [](int depth, const char* repeat) {
    std::string e(static_cast<size_t>(depth), '(');
    e += "a[bc]d";
    for (int i = 0; i < depth; ++i) e += std::string("|ef)") + repeat + "gh";
    std::string pattern, error;
    tgr_ptr q = plan_expression(e, false, &pattern, &error);
    EXPECT_EQ(error, "");
    return tgr_count_nodes(q.get());
  };
  for (const char* repeat : {"{2,5}", "{3}"}) {
    const size_t small = nodes_for(10, repeat), large = nodes_for(40, repeat);
    EXPECT_GT(small, 0u);
    EXPECT_LT(large, small * 8) << repeat;
  }
}

// Expressions an analyst would type that name a literal of three or more characters,
// an anchored suffix or alternatives of literals never scan the whole table.
TEST(PlanExpression, SelectiveExpressionsUseTheIndex) {
  log_set_level(LOG_FAILURE);
  const char* const kRegexes[] = {
      "\\.example\\.com$", "^www\\.", "mail", "(paypal|apple|microsoft)",
      "^[a-z0-9-]+\\.example\\.net$", "^_dmarc\\.", "xn--", "cdn[0-9]+\\.", "^ns[0-9]\\.",
      "[0-9]{1,3}-[0-9]{1,3}-[0-9]{1,3}-[0-9]{1,3}\\.static", "(login|signin|secure)\\..*\\.com$",
      "^.*bank.*$", "abc.def", "google\\.(com|net|org)$", "\\.onion$",
  };
  for (const char* e : kRegexes) {
    std::string pattern, error;
    tgr_ptr q = plan_expression(e, false, &pattern, &error);
    EXPECT_NE(q, nullptr) << "table scan for " << e;
    EXPECT_EQ(error, "") << e;
  }
  const char* const kGlobs[] = {"*.example.com", "www.*", "*paypal*", "mail.*.org", "?.co"};
  for (const char* e : kGlobs) {
    std::string pattern, error;
    EXPECT_NE(plan_expression(e, true, &pattern, &error), nullptr) << "table scan for glob " << e;
  }
}

}  // namespace
}  // namespace quarn
