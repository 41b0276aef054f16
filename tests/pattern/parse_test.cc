#include "pattern/parse.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "pattern/render.h"

namespace quarn {
namespace {

std::string regex_error(const std::string& s) {
  std::string err;
  auto t = regex_parse(s, &err);
  EXPECT_FALSE(t) << s << " parsed as " << (t ? re_elem_to_string(*t) : "");
  return err;
}

std::string glob_error(const std::string& s) {
  std::string err;
  auto t = glob_parse(s, &err);
  EXPECT_FALSE(t) << s;
  return err;
}

std::string regex_render(const std::string& s) {
  std::string err;
  auto t = regex_parse(s, &err);
  EXPECT_TRUE(t) << s << ": " << err;
  return t ? re_elem_to_string(*t) : "<error>";
}

class_set class_of(const std::string& bracket, char negation = '^') {
  size_t cursor = 0;
  re_elem_ptr out;
  std::string err;
  EXPECT_TRUE(class_parse(bracket, cursor, out, negation, err)) << bracket << ": " << err;
  if (!out) return {};
  EXPECT_EQ(cursor, bracket.size() - 1);
  return out->bits;
}

class_set members(const std::string& s) {
  class_set b;
  for (unsigned char c : s) b.set(c);
  return b;
}

TEST(RegexParse, ErrorTextsAndPositions) {
  struct Case {
    const char* expr;
    const char* error;
  } cases[] = {
      {"*abc", "Invalid '*' at 0"},
      {"a|*b", "Invalid '*' at 2"},
      {"^*", "Invalid '*' at 1"},
      {"({2}", "Invalid '{' at 1"},
      {"a^b", "Invalid '^' at 1"},
      {"^^a", "Duplicate '^' at 1"},
      {"a$b", "Invalid characters after '$' at 2"},
      {"a$$", "Invalid characters after '$' at 2"},
      {"a$.", "Invalid characters after '$' at 2"},
      {"(a$)$", "Duplicate '$' at 4"},
      {"a{70000}", "Invalid bound at 1: 70000 exceeds maximum 65535"},
      {"a{1,70000}", "Invalid bound at 1: 70000 exceeds maximum 65535"},
      {"a{99999999999999999999999}", "Invalid bound at 1: 18446744073709551615 exceeds maximum 65535"},
      {"a{3,2}", "Invalid bound at 1: 3 > 2"},
      {"a{2,x}", "Invalid bound at 1: 2 > 0"},
      {"a{3", "Invalid bound at 1"},
      {"a{0,x}", "Invalid bound at 1"},
      {"\\d", "Invalid escaped character \\d at 0"},
      {"a\\]", "Invalid escaped character \\] at 1"},
      {"a\\}", "Invalid escaped character \\} at 1"},
      {"a\\1", "Invalid escaped character \\1 at 1"},
      {"ab\\", "Invalid unescaped '\\' at end of regexp"},
      {"a)", "Unmatched ) at 1"},
      {"(a", "Premature end of regexp"},
      {"((a)|b", "Premature end of regexp"},
      {"a\tb", "Invalid character code 9 at 1"},
      {"a\nb", "Invalid character code 10 at 1"},
      {"\xc3\xa9", "Invalid character code 195 at 0"},
      {"\\\x7f", "Invalid character code 127 at 1"},
      {"[z-a]", "Invalid range at 3"},
      {"[a-c-e]", "Invalid range at 5"},
      {"[[:alpha:]-z]", "Invalid range at 11"},
      {"[a-[]", "Invalid range at 3"},
      {"[ -\x7f]", "Invalid character code 127 at 3"},
      {"[a-\xe9]", "Invalid character code 233 at 3"},
      {"[[:foo:]]", "Invalid character class name at 0"},
      {"x[[:alpha]", "Invalid character class name at 1"},
      {"[[.a.]]", "Collating element [..] not supported at 1"},
      {"[[=a=]]", "Collating element [==] not supported at 1"},
      {"[abc", "Unmatched [ at 0"},
      {"x[^abc", "Unmatched [^ at 1"},
      {"[]", "Unmatched [ at 0"},
      {"[a\tb]", "Invalid character code 9 at 2"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(regex_error(c.expr), c.error) << c.expr;
  }
  // A NUL inside the text is refused, not taken as the end of the expression.
  EXPECT_EQ(regex_error(std::string("a\0b", 3)), "Invalid character code 0 at 1");
  // Without an error slot the parser still fails cleanly.
  EXPECT_FALSE(regex_parse("(", nullptr));
}

TEST(RegexParse, DialectEdges) {
  EXPECT_TRUE(regex_parse("a$|b", nullptr));
  EXPECT_EQ(regex_render("a{,3}"), "a\\{,3}");   // '{' without a digit is a byte
  EXPECT_EQ(regex_render("a]b}"), "a]b}");       // so are ']' and '}'
  EXPECT_EQ(regex_render("\\(\\.\\|\\\\"), "\\(\\.\\|\\\\");
  EXPECT_EQ(regex_render("a{1, 3}"), "a{1,3}");  // blanks before the upper bound
  EXPECT_EQ(regex_render("a{2,}"), "a{2,}");
  EXPECT_EQ(regex_render("a**"), "(a*)*");
  EXPECT_EQ(regex_render("(ab)*+"), "((ab)*)+");
  auto empty = regex_parse("", nullptr);
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->is_sequence());
  EXPECT_TRUE(empty->children.empty());
  // A lone alternative is returned as itself, not as a group.
  auto single = regex_parse("abc", nullptr);
  ASSERT_TRUE(single);
  EXPECT_TRUE(single->is_literal());
  EXPECT_EQ(single->text, "abc");
}

TEST(RegexParse, RefusesAbsurdNesting) {
  EXPECT_TRUE(regex_parse(std::string(200, '(') + "a|b" + std::string(200, ')'), nullptr));
  std::string err;
  EXPECT_FALSE(regex_parse(std::string(100000, '(') + "a", &err));
  EXPECT_EQ(err, "Expression nested too deeply at 256");
  EXPECT_FALSE(regex_parse("a" + std::string(100000, '*'), &err));
  EXPECT_EQ(err.rfind("Expression nested too deeply at ", 0), 0u) << err;
  // Whatever is accepted renders into text that is accepted again.
  auto deep = regex_parse("a" + std::string(255, '*'), &err);
  ASSERT_TRUE(deep) << err;
  auto again = regex_parse(re_elem_to_string(*deep), &err);
  ASSERT_TRUE(again) << err;
  EXPECT_TRUE(re_elem_equal(*deep, *again));
  EXPECT_FALSE(regex_parse("a" + std::string(300, '*'), &err));
  EXPECT_EQ(err, "Expression nested too deeply at 300");
  std::string nested;
  for (int i = 0; i < 2000; ++i) nested = "(" + nested + "x|y)*";
  EXPECT_FALSE(regex_parse(nested, &err));
  EXPECT_EQ(err.rfind("Expression nested too deeply at ", 0), 0u) << err;
}

TEST(ClassParse, MembersRangesNegationAndNames) {
  EXPECT_EQ(class_of("[]a]"), members("]a"));
  EXPECT_EQ(class_of("[-a]"), members("-a"));
  EXPECT_EQ(class_of("[a-]"), members("-a"));
  EXPECT_EQ(class_of("[--/]"), members("-./"));
  EXPECT_EQ(class_of("[a-cx]"), members("abcx"));
  EXPECT_EQ(class_of("[\\]"), members("\\"));  // no escapes inside brackets
  EXPECT_EQ(class_of("[[a]"), members("[a"));
  EXPECT_EQ(class_of("[[:alpha:][:digit:]]"), class_of("[a-zA-Z0-9]"));
  EXPECT_EQ(class_of("[[:xdigit:]_]"), members("0123456789ABCDEFabcdef_"));
  class_set neg = class_of("[^a-c]");
  EXPECT_EQ(neg.count(), 253u);
  EXPECT_TRUE(neg.test(0));
  EXPECT_TRUE(neg.test(128));
  EXPECT_TRUE(neg.test(255));
  EXPECT_FALSE(neg.test('b'));
  EXPECT_EQ(class_of("[^]a]").count(), 254u);
  // The glob parser's negation character is '!'; '^' is then a member.
  EXPECT_EQ(class_of("[^a]", '!'), members("^a"));
  EXPECT_EQ(class_of("[!a]", '!').count(), 255u);

  // The cursor is left alone on failure.
  size_t cursor = 2;
  re_elem_ptr out;
  std::string err;
  EXPECT_FALSE(class_parse("ab[x", cursor, out, '^', err));
  EXPECT_EQ(cursor, 2u);
  EXPECT_FALSE(out);
  EXPECT_EQ(err, "Unmatched [ at 2");
}

TEST(GlobParse, ShapesAndErrors) {
  auto t = glob_parse("*.example", nullptr);
  ASSERT_TRUE(t);
  ASSERT_TRUE(t->is_sequence());
  EXPECT_TRUE(t->start_anchor && t->end_anchor);
  ASSERT_EQ(t->children.size(), 2u);
  EXPECT_TRUE(t->children[0]->bits.all());
  EXPECT_EQ(t->children[0]->min_repeat, 0u);
  EXPECT_EQ(t->children[0]->max_repeat, REPEAT_MAX);
  EXPECT_EQ(t->children[1]->text, ".example");

  t = glob_parse("abc", nullptr);
  ASSERT_TRUE(t && t->is_literal());
  EXPECT_TRUE(t->start_anchor && t->end_anchor);
  EXPECT_EQ(t->text, "abc");

  t = glob_parse("", nullptr);
  ASSERT_TRUE(t && t->is_sequence());
  EXPECT_TRUE(t->children.empty());
  EXPECT_TRUE(t->start_anchor && t->end_anchor);

  t = glob_parse("[!a-c]", nullptr);
  ASSERT_TRUE(t && t->is_class());
  EXPECT_EQ(t->bits.count(), 253u);
  EXPECT_TRUE(t->bits.test(0) && t->bits.test(200));

  auto render = [](const char* g) {
    auto e = glob_parse(g, nullptr);
    return e ? re_elem_to_string(*e) : std::string("<error>");
  };
  EXPECT_EQ(render("*.Example.com"), "^.*\\.Example\\.com$");
  EXPECT_EQ(render("[!a]"), "^[^a]$");
  EXPECT_EQ(render("a?(b)|{c}^$+"), "^a.\\(b\\)\\|\\{c}\\^\\$\\+$");
  EXPECT_EQ(render("\\*\\\\x[a]"), "^\\*\\\\xa$");

  EXPECT_EQ(glob_error("a\\"), "Invalid unescaped '\\' at 1");
  EXPECT_EQ(glob_error("a\\\t"), "Invalid character code 9 at 2");
  EXPECT_EQ(glob_error("ab\x80"), "Invalid character code 128 at 2");
  EXPECT_EQ(glob_error("x[!a"), "Unmatched [! at 1");
  EXPECT_EQ(glob_error("[z-a]"), "Invalid range at 3");
}

// Whatever the bytes, both parsers return a tree or an error text.
TEST(Parsers, ArbitraryBytesNeverAbort) {
  std::mt19937 rng(12345);
  const std::string alphabet = "ab^$()[]{}|*+?.\\-:!,0123456789=\t\x80";
  for (int round = 0; round < 20000; ++round) {
    std::string s;
    const int len = static_cast<int>(rng() % 16);
    for (int i = 0; i < len; ++i) {
      s.push_back(rng() % 8 == 0 ? static_cast<char>(rng() % 256)
                                 : alphabet[rng() % alphabet.size()]);
    }
    std::string err;
    auto r = regex_parse(s, &err);
    EXPECT_TRUE(r || !err.empty()) << s;
    err.clear();
    auto g = glob_parse(s, &err);
    EXPECT_TRUE(g || !err.empty()) << s;
  }
}

}  // namespace
}  // namespace quarn
