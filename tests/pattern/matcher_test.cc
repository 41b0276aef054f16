#include "pattern/matcher.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "gen_expr.h"
#include "pattern/parse.h"
#include "pattern/render.h"

namespace quarn {
namespace {

bool compiles(const std::string& pattern, compiled_pattern& cp) {
  std::string err;
  const bool ok = pattern_compile(pattern, cp, err);
  EXPECT_TRUE(ok) << pattern << ": " << err;
  return ok;
}

bool match(compiled_pattern& cp, const std::string& s) {
  return pattern_match(&cp, nullptr, s.data(), s.size());
}

TEST(Matcher, CaselessSubstringMatching) {
  compiled_pattern cp;
  ASSERT_TRUE(compiles("EXAMPLE\\.com$", cp));
  EXPECT_TRUE(match(cp, "www.example.COM"));
  EXPECT_FALSE(match(cp, "www.example.com.au"));
  ASSERT_TRUE(compiles("^[a-c]x", cp));  // recompiling replaces the database
  EXPECT_TRUE(match(cp, "BX"));
  EXPECT_FALSE(match(cp, "dx"));
  EXPECT_FALSE(match(cp, "EXAMPLE.com"));
}

TEST(Matcher, EmptyPatternAndMissingDatabaseMatchEverything) {
  compiled_pattern cp;
  EXPECT_TRUE(pattern_match(&cp, nullptr, "abc", 3));  // nothing compiled yet
  EXPECT_TRUE(pattern_match(nullptr, nullptr, "abc", 3));
  ASSERT_TRUE(compiles("", cp));
  EXPECT_TRUE(match(cp, ""));
  EXPECT_TRUE(match(cp, "anything"));
}

TEST(Matcher, ExclusionPattern) {
  compiled_pattern m, x;
  ASSERT_TRUE(compiles("\\.com$", m));
  ASSERT_TRUE(compiles("^ads\\.", x));
  EXPECT_TRUE(pattern_match(&m, &x, "www.example.com", 15));
  EXPECT_FALSE(pattern_match(&m, &x, "ads.example.com", 15));
  EXPECT_FALSE(pattern_match(&m, &x, "www.example.net", 15));
}

TEST(Matcher, RefusedPatternsGiveTheErrorText) {
  compiled_pattern cp;
  ASSERT_TRUE(compiles("abc", cp));
  std::string err;
  EXPECT_FALSE(pattern_compile("a{65535}", cp, err));
  EXPECT_EQ(err.rfind("Internal regexp error: ", 0), 0u) << err;
  EXPECT_NE(err.find(" (a{65535})"), std::string::npos) << err;
  // The failed compile left no database: everything passes, nothing crashes.
  EXPECT_FALSE(cp.has_database());
  EXPECT_TRUE(match(cp, "zzz"));
  EXPECT_FALSE(pattern_compile("(", cp, err));
  EXPECT_EQ(err.rfind("Internal regexp error: ", 0), 0u) << err;
  EXPECT_FALSE(pattern_compile(std::string("a\0b", 3), cp, err));
}

TEST(Matcher, MovesOwnership) {
  compiled_pattern a;
  ASSERT_TRUE(compiles("xyz", a));
  compiled_pattern b(std::move(a));
  EXPECT_FALSE(a.has_database());  // a moved-from pattern is empty
  EXPECT_TRUE(match(b, "axyzb"));
  compiled_pattern c;
  c = std::move(b);
  EXPECT_TRUE(c.ready());
  EXPECT_FALSE(match(c, "xy"));
}

// An independent reading of the tree: the set of end positions reachable from a set of
// start positions, by kind and repetition. Caseless like the matcher, for ASCII letters.
class TreeOracle {
 public:
  explicit TreeOracle(const std::string& text) : t_(text) {}

  bool matches(const re_elem& root) {
    std::vector<bool> all(t_.size() + 1, true);
    for (bool b : ends(root, all)) {
      if (b) return true;
    }
    return false;
  }

 private:
  using Set = std::vector<bool>;

  static bool any(const Set& s) {
    for (bool b : s) {
      if (b) return true;
    }
    return false;
  }

  static bool caseless_member(const class_set& bits, unsigned char c) {
    return bits.test(c) || bits.test(static_cast<unsigned char>(tolower(c))) ||
           bits.test(static_cast<unsigned char>(toupper(c)));
  }

  // Parsed classes holding bytes above 0x7f came from a negation and are written as one,
  // and caseless matching folds the negated members: [^a-c] refuses 'C' as well.
  static bool byte_in(const class_set& bits, unsigned char c) {
    if (bits.test(0x80)) return !caseless_member(~bits, c);
    return caseless_member(bits, c);
  }

  Set once(const re_elem& e, const Set& from) {
    Set out(from.size(), false);
    switch (e.type) {
      case re_elem_literal:
        for (size_t p = 0; p < from.size(); ++p) {
          if (!from[p] || p + e.text.size() > t_.size()) continue;
          bool ok = true;
          for (size_t k = 0; k < e.text.size() && ok; ++k) {
            ok = tolower(static_cast<unsigned char>(t_[p + k])) ==
                 tolower(static_cast<unsigned char>(e.text[k]));
          }
          if (ok) out[p + e.text.size()] = true;
        }
        return out;
      case re_elem_class:
        for (size_t p = 0; p < t_.size(); ++p) {
          if (from[p] && byte_in(e.bits, static_cast<unsigned char>(t_[p]))) out[p + 1] = true;
        }
        return out;
      case re_elem_sequence: {
        Set cur = from;
        for (const auto& c : e.children) cur = ends(*c, cur);
        return cur;
      }
      case re_elem_group:
        for (const auto& c : e.children) {
          Set r = ends(*c, from);
          for (size_t p = 0; p < r.size(); ++p) out[p] = out[p] || r[p];
        }
        return out;
    }
    return out;
  }

  Set ends(const re_elem& e, Set from) {
    if (e.start_anchor) {
      for (size_t p = 1; p < from.size(); ++p) from[p] = false;
    }
    Set cur = from;
    for (uint32_t i = 0; i < e.min_repeat && any(cur); ++i) cur = once(e, cur);
    Set acc = cur;
    for (uint32_t i = e.min_repeat; i < e.max_repeat && any(cur); ++i) {
      cur = once(e, cur);
      bool grew = false;
      for (size_t p = 0; p < cur.size(); ++p) {
        if (cur[p] && !acc[p]) grew = acc[p] = true;
      }
      if (!grew) break;  // nothing new can be reached by further rounds
    }
    if (e.end_anchor) {
      for (size_t p = 0 ; p + 1 < acc.size(); ++p) acc[p] = false;
    }
    return acc;
  }

  const std::string& t_;
};

// Parsing, rendering and compiling never change what an expression means: the matcher
// agrees with a direct reading of the parsed tree on every generated text.
TEST(Matcher, AgreesWithTheTreeOnGeneratedExpressions) {
  testing::ExprGen gen(4242, /*embedded_anchors=*/false);
  int checked = 0;
  for (int i = 0; i < 400; ++i) {
    const std::string expr = gen.expr();
    auto tree = regex_parse(expr, nullptr);
    if (!tree) continue;
    const std::string pattern = re_elem_to_string(*tree);
    compiled_pattern cp;
    if (!compiles(pattern, cp)) continue;
    for (int k = 0; k < 40; ++k) {
      const std::string text = gen.text();
      TreeOracle oracle(text);
      ASSERT_EQ(match(cp, text), oracle.matches(*tree))
          << "expression " << expr << " rendered " << pattern << " text '" << text << "'";
      ++checked;
    }
  }
  EXPECT_GT(checked, 8000);
}

TEST(Matcher, GlobsMatchWholeStrings) {
  struct Case {
    const char* glob;
    const char* text;
    bool match;
  } cases[] = {
      {"*.example.com", "www.EXAMPLE.com", true},
      {"*.example.com", "www.example.com.au", false},
      {"*.example.com", "example.com", false},
      {"?x", "ax", true},
      {"?x", "x", false},
      {"[!a]b", "cb", true},
      {"[!a]b", "Ab", false},
      {"a\\*", "a*", true},
      {"a\\*", "ab", false},
      {"", "", true},
      {"", "a", false},
  };
  for (const auto& c : cases) {
    auto tree = glob_parse(c.glob, nullptr);
    ASSERT_TRUE(tree) << c.glob;
    compiled_pattern cp;
    ASSERT_TRUE(compiles(re_elem_to_string(*tree), cp));
    EXPECT_EQ(match(cp, c.text), c.match) << c.glob << " on " << c.text;
  }
}

}  // namespace
}  // namespace quarn
