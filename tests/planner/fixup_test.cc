#include "planner/fixup.h"

#include <gtest/gtest.h>

#include <string>

#include "common/log.h"
#include "support/log_capture.h"
#include "pattern/parse.h"
#include "pattern/render.h"
#include "planner/decompose.h"
#include "planner/reduce.h"

namespace quarn {
namespace {

using testing::LogCapture;

re_elem_ptr parse(const char* expr) {
  std::string err;
  re_elem_ptr t = regex_parse(expr, &err);
  EXPECT_NE(t, nullptr) << expr << ": " << err;
  return t;
}

std::string reduced(const char* expr) {
  re_elem_ptr t = reduce_permutations(parse(expr));
  return t ? re_elem_to_string(*t) : "<none>";
}

std::string fixed(const char* expr) {
  re_elem_ptr t = reduce_permutations(parse(expr));
  if (!t || !fixup_tree(t, nullptr)) return "<failed>";
  return re_elem_to_string(*t);
}

re_elem_ptr klass(const char* members) {
  class_set s;
  for (const char* p = members; *p; ++p) s.set(static_cast<unsigned char>(*p));
  return re_elem_class_of(s);
}

TEST(Reduce, ClassRepeatsAndProducts) {
  log_set_level(LOG_FAILURE);
  EXPECT_EQ(reduced("abc.def"), "abc.def");
  EXPECT_EQ(reduced("[a-z][a-z][a-z]"), ".*[a-z][a-z]");
  EXPECT_EQ(reduced("[a-z]{4}"), ".*");
  EXPECT_EQ(reduced("[ab]{14}"), ".(aaa|aab|aba|abb|baa|bab|bba|bbb).");
  // The first and last bytes of an unbounded run may be adjacent: a gap, not one byte.
  EXPECT_EQ(reduced("[a-m]{2,}"), "[a-m].*[a-m]");
  EXPECT_EQ(reduced("[a-j]{2,}"), "[a-j]{2,}");
  EXPECT_EQ(reduced("x([a-z]{5}|y)"), "x([a-z]{5}|y)");  // classes in groups stay
  // The group is the largest contributor and goes first.
  std::string many = "(";
  for (int i = 0; i < 5000; ++i) many += (i ? "|" : "") + std::to_string(i) + "x";
  many += ")[ab]";
  EXPECT_EQ(reduced(many.c_str()), ".*[ab]");
  EXPECT_EQ(reduce_permutations(nullptr), nullptr);
}

TEST(Fixup, RepeatsResolveIntoConcreteCopies) {
  log_set_level(LOG_FAILURE);
  EXPECT_EQ(fixed("(ab){2}"), "abab");
  EXPECT_EQ(fixed("xa{2}y"), "xaay");
  // A run of varying length keeps a copy at each end.
  EXPECT_EQ(fixed("a{3,5}"), "aaa.*aaa");
  EXPECT_EQ(fixed("x[a-z]{2,5}y"), "x[a-z].*[a-z]{2}y");
  EXPECT_EQ(fixed("x(ab|cd){2}y"), "(xab|xcd)(aby|cdy)");
  EXPECT_EQ(fixed("abc(de)?"), "abc.*");
  EXPECT_EQ(fixed("[ab]{3}"), "(aaa|aab|aba|abb|baa|bab|bba|bbb)");
}

TEST(Fixup, JoinsAndClassExpansion) {
  log_set_level(LOG_FAILURE);
  EXPECT_EQ(fixed("(abc|de)f"), "(abcf|def)");
  EXPECT_EQ(fixed("ab[xyz]"), "(abx|aby|abz)");
  EXPECT_EQ(fixed("[A-C!]x"), "(@x|ax|bx|cx)");
  EXPECT_EQ(fixed("a[b-d]"), "a[b-d]");  // one unanchored character is not extended
  EXPECT_EQ(fixed("^a[b-d]"), "^(^ab|^ac|^ad)");
  EXPECT_EQ(fixed("x[a-z0-4]y"), "x.y");  // more than 30 members: any byte
}

TEST(Fixup, PermutationLimitTurnsClassIntoGap) {
  LogCapture cap(LOG_DEBUG);
  EXPECT_EQ(fixed("[a-e]{3}"),
            "(aa|ab|ac|ad|ae|ba|bb|bc|bd|be|ca|cb|cc|cd|ce|da|db|dc|dd|de|ea|eb|ec|ed|ee)[a-e]");
  EXPECT_NE(cap.text().find("Warning: 125 possible permutations exceeded threshold of 64"),
            std::string::npos);
}

TEST(Decompose, BuildingBlocks) {
  auto ab = klass("ab");
  auto xy = klass("xY");
  auto cross = class_cross(*ab, *xy);
  ASSERT_NE(cross, nullptr);
  // Byte order, then folded: Y (0x59) comes before x.
  EXPECT_EQ(re_elem_to_string(*cross), "(ay|ax|by|bx)");
  EXPECT_EQ(class_cross(*ab, *re_elem_any_byte()), nullptr);

  auto abc3 = klass("abc");
  abc3->min_repeat = abc3->max_repeat = 3;
  auto power = class_power(*abc3);
  ASSERT_NE(power, nullptr);
  EXPECT_EQ(power->children.size(), 27u);
  EXPECT_FALSE(class_too_wide(*abc3));
  abc3->min_repeat = 6;  // 729 strings
  EXPECT_TRUE(class_too_wide(*abc3));

  auto one = re_elem_literal_of("a");
  EXPECT_EQ(literal_extend_class(*one, *ab, true, false), nullptr);
  EXPECT_NE(literal_extend_class(*one, *ab, true, true), nullptr);

  auto lit = re_elem_literal_of("xy");
  lit->start_anchor = true;
  auto g = literal_extend_class(*re_elem_literal_of("pq"), *ab, true, false);
  auto joined = literal_join_group(*lit, *g, true);
  ASSERT_NE(joined, nullptr);
  EXPECT_EQ(re_elem_to_string(*joined), "(^xypqa|^xypqb)");

  // Crossed strings are cut to the join limit and lose any claim about the end.
  auto long_group = re_elem_init(re_elem_group);
  long_group->children.push_back(re_elem_literal_of(std::string(3000, 'a')));
  auto cut = group_cross(*long_group, *long_group);
  ASSERT_NE(cut, nullptr);
  EXPECT_EQ(cut->children[0]->text.size(), kJoinLimit - 2);
  EXPECT_EQ(shortest_alternative(*g), 3u);

  std::vector<re_elem_ptr> v;
  v.push_back(re_elem_literal_of("a"));
  v.push_back(re_elem_literal_of("b"));
  auto seq = re_elem_init(re_elem_sequence);
  seq->start_anchor = seq->end_anchor = true;
  seq->children.push_back(re_elem_literal_of("x"));
  seq->children.push_back(re_elem_literal_of("y"));
  splice_children(v, 1, 1, std::move(seq), true);
  ASSERT_EQ(v.size(), 3u);
  EXPECT_TRUE(v[1]->start_anchor);
  EXPECT_TRUE(v[2]->end_anchor);
  EXPECT_EQ(v[2]->text, "y");
}

}  // namespace
}  // namespace quarn
