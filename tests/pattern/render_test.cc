#include "pattern/render.h"

#include <gtest/gtest.h>

#include <string>

#include "gen_expr.h"
#include "pattern/matcher.h"
#include "pattern/parse.h"

namespace quarn {
namespace {

std::string rendered(const std::string& s) {
  std::string err;
  auto t = regex_parse(s, &err);
  EXPECT_TRUE(t) << s << ": " << err;
  return t ? re_elem_to_string(*t) : "<error>";
}

TEST(Render, RepeatTable) {
  struct Row {
    uint32_t min, max;
    const char* text;
  } rows[] = {{1, 1, ""},      {1, REPEAT_MAX, "+"}, {0, 1, "?"},        {0, REPEAT_MAX, "*"},
              {0, 0, "{0,0}"}, {3, 3, "{3}"},        {3, REPEAT_MAX, "{3,}"}, {2, 5, "{2,5}"},
              {0, 4, "{0,4}"}, {65534, 65534, "{65534}"}};
  for (const auto& r : rows) {
    std::string out = "x";
    render_repeat(r.min, r.max, out);
    EXPECT_EQ(out, std::string("x") + r.text) << r.min << "," << r.max;
  }
}

TEST(Render, NormalisesExpressions) {
  EXPECT_EQ(rendered("a{1}b{1,}c{0,1}d{0,}"), "ab+c?d*");
  EXPECT_EQ(rendered("a{2,5}"), "a{2,5}");
  EXPECT_EQ(rendered("a{3,}"), "a{3,}");
  EXPECT_EQ(rendered("[abcx]"), "[a-cx]");
  EXPECT_EQ(rendered("[ab]"), "[ab]");
  EXPECT_EQ(rendered("[[:digit:]]"), "[0-9]");
  EXPECT_EQ(rendered("[^a-c]"), "[^a-c]");
  EXPECT_EQ(rendered("(a|b|)"), "(a|b|)");
  EXPECT_EQ(rendered("(a||b)"), "(a||b)");
  EXPECT_EQ(rendered("x\\(y\\.z]"), "x\\(y\\.z]");
  EXPECT_EQ(rendered("(abc)"), "abc");
  EXPECT_EQ(rendered("^(a|b)*$"), "^(a|b)*$");
  // Already normal: the same text comes back.
  for (const char* s : {"abc.def", "^a[0-9]+\\.b$", "(foo|bar)?baz", "x{2,3}y*", ""}) {
    EXPECT_EQ(rendered(s), s);
  }
}

// Bracket members that are special to one reader or the other come out in places where
// both read them as plain members.
TEST(Render, BracketMembersSafeForBothReaders) {
  EXPECT_EQ(rendered("[-a]"), "[a-]");
  EXPECT_EQ(rendered("[]a]"), "[]a]");
  EXPECT_EQ(rendered("[a^]"), "[a^]");
  EXPECT_EQ(rendered("[\\^]"), "[\\\\^]");
  EXPECT_EQ(rendered("[x^_]"), "[_x^]");
  EXPECT_EQ(rendered("[-^]"), "[-^]");
  EXPECT_EQ(rendered("[_^a]"), "[_a^]");
  EXPECT_EQ(rendered("[[-^]"), "[][\\\\^]");
  EXPECT_EQ(rendered("[XYZ[]"), "[X-Z[]");
  EXPECT_EQ(rendered("[^^]"), "[^^]");
  EXPECT_EQ(rendered("[^]-]"), "[^]-]");

  // Non-printable members are spelled through the named classes that hold them.
  EXPECT_EQ(rendered("[[:space:]]"), "[[:space:]]");
  EXPECT_EQ(rendered("[^[:space:]]"), "[^[:space:]]");
  EXPECT_EQ(rendered("[[:cntrl:]a]"), "[a[:cntrl:]]");
  EXPECT_EQ(rendered("[x[:blank:]]"), "[x[:blank:]]");
  EXPECT_EQ(rendered("[^[:cntrl:]]"), "[^[:cntrl:]]");
  EXPECT_EQ(rendered("[]^[:space:]-]"), "[]^[:space:]-]");

  // Hand-built classes that no parser produces still render to something sound.
  std::string out;
  class_set none;
  re_elem_render(*re_elem_class_of(none), out);
  class_set high;
  high.set(0x80);
  high.set(0x81);
  high.set(0x82);
  high.set('a');
  re_elem_render(*re_elem_class_of(high), out);
  EXPECT_EQ(out, "[^\\x00-\\xff][a\\x80-\\x82]");
}

TEST(Render, NonCanonicalTreesKeepTheirMeaning) {
  auto lit = re_elem_literal_of("ab");
  lit->min_repeat = 2;
  lit->max_repeat = 2;
  EXPECT_EQ(re_elem_to_string(*lit), "(ab){2}");
  auto seq = re_elem_init(re_elem_sequence);
  seq->children.push_back(re_elem_literal_of("a"));
  seq->children.push_back(re_elem_any_byte());
  seq->min_repeat = 0;
  EXPECT_EQ(re_elem_to_string(*seq), "(a.)?");
  auto nul = re_elem_literal_of(std::string("a\0b", 3));
  EXPECT_EQ(re_elem_to_string(*nul), "a\\x00b");
}

// Rendering a parsed tree and parsing the rendering gives the same tree, rendered the
// same way. Where the matcher refuses a rendering (anchors inside repetitions, say),
// the caller gets the error text.
TEST(Render, RoundTripOverGeneratedExpressions) {
  testing::ExprGen gen(20261208);
  int parsed = 0;
  for (int i = 0; i < 3000; ++i) {
    const std::string expr = gen.expr();
    auto tree = regex_parse(expr, nullptr);
    if (!tree) continue;
    ++parsed;
    const std::string r1 = re_elem_to_string(*tree);
    std::string err;
    auto again = regex_parse(r1, &err);
    ASSERT_TRUE(again) << expr << " -> " << r1 << ": " << err;
    EXPECT_EQ(re_elem_to_string(*again), r1) << expr;
    EXPECT_TRUE(re_elem_equal(*tree, *again)) << expr << " -> " << r1;
    if (i % 10 == 0) {
      compiled_pattern cp;
      if (!pattern_compile(r1, cp, err)) {
        EXPECT_EQ(err.rfind("Internal regexp error: ", 0), 0u) << err;
        EXPECT_TRUE(err.ends_with(" (" + r1 + ")")) << err;
      }
    }
  }
  EXPECT_GT(parsed, 1500);
}

// The matcher accepts the rendering of every expression whose anchors stand where the
// engine supports them (at the ends of top-level alternatives).
TEST(Render, MatcherCompilesRealisticRenderings) {
  testing::ExprGen gen(99, /*embedded_anchors=*/false);
  int compiled = 0;
  for (int i = 0; i < 300; ++i) {
    auto tree = regex_parse(gen.expr(), nullptr);
    if (!tree) continue;
    const std::string r = re_elem_to_string(*tree);
    compiled_pattern cp;
    std::string err;
    EXPECT_TRUE(pattern_compile(r, cp, err)) << r << ": " << err;
    ++compiled;
  }
  EXPECT_GT(compiled, 200);
}

TEST(Render, GlobRenderingsReparseAsTheSameTree) {
  testing::ExprGen gen(7);
  for (int i = 0; i < 2000; ++i) {
    std::string glob;
    const int n = static_cast<int>(gen.pick(8));
    static const char kGlob[] = "ab*?.[]!-^$()\\{}|+";
    for (int j = 0; j < n; ++j) glob.push_back(kGlob[gen.pick(sizeof kGlob - 1)]);
    auto tree = glob_parse(glob, nullptr);
    if (!tree) continue;
    const std::string r = re_elem_to_string(*tree);
    std::string err;
    auto again = regex_parse(r, &err);
    ASSERT_TRUE(again) << glob << " -> " << r << ": " << err;
    EXPECT_TRUE(re_elem_equal(*tree, *again)) << glob << " -> " << r;
  }
}

}  // namespace
}  // namespace quarn
