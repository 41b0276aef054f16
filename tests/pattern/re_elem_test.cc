#include "pattern/re_elem.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/log.h"
#include "pattern/parse.h"
#include "pattern/render.h"
#include "support/log_capture.h"

namespace quarn {
namespace {

re_elem_ptr lit(const std::string& s, uint32_t min = 1, uint32_t max = 1) {
  auto e = re_elem_literal_of(s);
  e->min_repeat = min;
  e->max_repeat = max;
  return e;
}

re_elem_ptr cls(std::initializer_list<unsigned> members) {
  class_set bits;
  for (unsigned v : members) bits.set(v);
  return re_elem_class_of(bits);
}

bool add(re_elem& seq, re_elem_ptr e, std::string* err = nullptr) {
  std::string local;
  return sequence_add(seq, e, err ? *err : local, 7);
}

re_elem_ptr parse(const std::string& s) {
  std::string err;
  auto t = regex_parse(s, &err);
  EXPECT_TRUE(t) << s << ": " << err;
  return t;
}

TEST(SequenceAdd, MergesOnceLiteralsAndTurnsSingletonClassesIntoLiterals) {
  auto seq = re_elem_init(re_elem_sequence);
  ASSERT_TRUE(add(*seq, lit("ab")));
  ASSERT_TRUE(add(*seq, lit("c")));
  ASSERT_EQ(seq->children.size(), 1u);
  EXPECT_EQ(seq->children[0]->text, "abc");

  // A repeated literal is not merged, and the next literal does not merge into it.
  ASSERT_TRUE(add(*seq, lit("d", 0, REPEAT_MAX)));
  ASSERT_TRUE(add(*seq, cls({'e'})));
  ASSERT_EQ(seq->children.size(), 3u);
  EXPECT_TRUE(seq->children[2]->is_literal());
  EXPECT_EQ(seq->children[2]->text, "e");

  // The one-member class keeps its repetition as a literal.
  auto star = cls({'f'});
  star->min_repeat = 2;
  star->max_repeat = 4;
  ASSERT_TRUE(add(*seq, std::move(star)));
  ASSERT_EQ(seq->children.size(), 4u);
  EXPECT_TRUE(seq->children[3]->is_literal());
  EXPECT_EQ(seq->children[3]->min_repeat, 2u);
  EXPECT_EQ(seq->children[3]->max_repeat, 4u);

  // Byte 255 alone stays a class; two members stay a class.
  ASSERT_TRUE(add(*seq, cls({255})));
  ASSERT_TRUE(add(*seq, cls({'a', 'c'})));
  EXPECT_TRUE(seq->children[4]->is_class());
  EXPECT_TRUE(seq->children[5]->is_class());
}

TEST(SequenceAdd, SplicesSequencesAndMovesAnchorsOntoTheReceiver) {
  auto seq = re_elem_init(re_elem_sequence);
  auto inner = re_elem_init(re_elem_sequence);
  inner->start_anchor = true;
  inner->children.push_back(lit("ab"));
  inner->children.push_back(cls({'x', 'y'}));
  ASSERT_TRUE(add(*seq, std::move(inner)));
  EXPECT_TRUE(seq->start_anchor);
  ASSERT_EQ(seq->children.size(), 2u);
  EXPECT_FALSE(seq->children[0]->any_anchor());

  // Across the seam, literals merge like any others.
  auto seq2 = re_elem_init(re_elem_sequence);
  ASSERT_TRUE(add(*seq2, lit("a")));
  auto inner2 = re_elem_init(re_elem_sequence);
  inner2->children.push_back(lit("bc"));
  inner2->children.push_back(cls({'x', 'y'}));
  ASSERT_TRUE(add(*seq2, std::move(inner2)));
  ASSERT_EQ(seq2->children.size(), 2u);
  EXPECT_EQ(seq2->children[0]->text, "abc");

  // A start anchor arriving once the sequence has children is refused.
  auto anchored = lit("z");
  anchored->start_anchor = true;
  std::string err;
  EXPECT_FALSE(add(*seq2, std::move(anchored), &err));
  EXPECT_EQ(err, "Invalid '^' at 7");
}

TEST(SequenceAdd, NothingMayFollowTheEndAnchor) {
  auto seq = re_elem_init(re_elem_sequence);
  std::string err;
  ASSERT_TRUE(anchor_end(*seq, err, 0));
  EXPECT_FALSE(add(*seq, nullptr, &err));  // even no element at all
  EXPECT_EQ(err, "Invalid characters after '$' at 7");
  EXPECT_FALSE(anchor_end(*seq, err, 3));
  EXPECT_EQ(err, "Duplicate '$' at 3");

  auto seq2 = re_elem_init(re_elem_sequence);
  ASSERT_TRUE(anchor_start(*seq2, err, 0));
  EXPECT_FALSE(anchor_start(*seq2, err, 1));
  EXPECT_EQ(err, "Duplicate '^' at 1");
}

TEST(GroupAdd, FoldsSingleChildAndDropsDuplicateEmptyAlternatives) {
  auto group = re_elem_init(re_elem_group);
  auto one = re_elem_init(re_elem_sequence);
  one->start_anchor = true;
  one->children.push_back(lit("a"));
  group_add(*group, one);
  EXPECT_FALSE(one);
  ASSERT_EQ(group->children.size(), 1u);
  EXPECT_TRUE(group->children[0]->is_literal());
  EXPECT_TRUE(group->children[0]->start_anchor);

  auto e1 = re_elem_init(re_elem_sequence);
  auto e2 = re_elem_init(re_elem_sequence);
  auto e3 = re_elem_init(re_elem_sequence);
  e3->end_anchor = true;
  group_add(*group, e1);
  group_add(*group, e2);  // same anchors as e1: dropped
  group_add(*group, e3);  // differs: kept
  EXPECT_EQ(group->children.size(), 3u);
}

TEST(GroupSimplify, EmptyAlternativesAndSingleAlternatives) {
  // (ab|) is an optional ab; (a|) goes on to dissolve into a?.
  auto t = parse("(ab|)");
  ASSERT_TRUE(t->is_group());
  EXPECT_EQ(t->min_repeat, 0u);
  EXPECT_EQ(t->max_repeat, 1u);
  ASSERT_EQ(t->children.size(), 1u);
  EXPECT_EQ(t->children[0]->text, "ab");
  t = parse("(a|)");
  ASSERT_TRUE(t->is_literal());
  EXPECT_EQ(t->min_repeat, 0u);

  // () is an empty sequence.
  t = parse("()");
  EXPECT_TRUE(t->is_sequence());
  EXPECT_TRUE(t->children.empty());

  // A {2,2} group over ab stays a group; over a it dissolves into a{2}.
  t = parse("(ab){2}");
  EXPECT_TRUE(t->is_group());
  t = parse("(a){2}");
  ASSERT_TRUE(t->is_literal());
  EXPECT_EQ(t->min_repeat, 2u);

  // A group that repeats once keeps the repetition of its alternative.
  EXPECT_EQ(re_elem_to_string(*parse("(a*)b")), "a*b");
  EXPECT_EQ(re_elem_to_string(*parse("(a+)")), "a+");
  EXPECT_EQ(re_elem_to_string(*parse("([ab]{2,3})c")), "[ab]{2,3}c");

  // An anchor inside an optional or repeated group stays inside it.
  EXPECT_EQ(re_elem_to_string(*parse("(^a)?b")), "(^a)?b");
  EXPECT_EQ(re_elem_to_string(*parse("(^a|)b")), "(^a)?b");
  // Outside any repetition it moves out.
  EXPECT_EQ(re_elem_to_string(*parse("(^a)b")), "^ab");
}

TEST(RepStart, SplitsLiteralsAndNestsRepeatedRepetitions) {
  auto seq = re_elem_init(re_elem_sequence);
  re_elem_ptr pending = lit("abc");
  std::string err;
  ASSERT_TRUE(rep_start(*seq, pending, '*', err, 3));
  ASSERT_EQ(seq->children.size(), 1u);
  EXPECT_EQ(seq->children[0]->text, "ab");
  EXPECT_EQ(pending->text, "c");

  // No pending atom: the last child is wrapped in a group.
  pending->min_repeat = 0;
  pending->max_repeat = REPEAT_MAX;
  ASSERT_TRUE(add(*seq, std::move(pending)));
  pending.reset();
  ASSERT_TRUE(rep_start(*seq, pending, '+', err, 4));
  ASSERT_TRUE(pending->is_group());
  EXPECT_EQ(pending->children[0]->text, "c");
  EXPECT_EQ(pending->children[0]->max_repeat, REPEAT_MAX);
  EXPECT_EQ(seq->children.size(), 1u);

  auto empty = re_elem_init(re_elem_sequence);
  re_elem_ptr none;
  EXPECT_FALSE(rep_start(*empty, none, '?', err, 5));
  EXPECT_EQ(err, "Invalid '?' at 5");
}

TEST(NamedClasses, MembersAndOrder) {
  const auto& t = named_classes();
  EXPECT_STREQ(t[0].name, "[:alnum:]");
  EXPECT_STREQ(t[11].name, "[:xdigit:]");
  for (const auto& nc : t) {
    for (unsigned v = 128; v < 256; ++v) EXPECT_FALSE(nc.members.test(v)) << nc.name;
  }
  EXPECT_EQ(t[0].members.count(), 62u);   // alnum
  EXPECT_EQ(t[2].members.count(), 2u);    // blank
  EXPECT_EQ(t[3].members.count(), 33u);   // cntrl
  EXPECT_EQ(t[5].members.count(), 94u);   // graph
  EXPECT_EQ(t[7].members.count(), 95u);   // print
  EXPECT_EQ(t[8].members.count(), 32u);   // punct
  EXPECT_EQ(t[9].members.count(), 6u);    // space
  EXPECT_EQ(t[11].members.count(), 22u);  // xdigit
  EXPECT_TRUE(t[9].members.test('\v'));
  EXPECT_FALSE(t[8].members.test('A'));
}

// Captures the printer's lines under the prefix "p".
struct LogCapture : quarn::testing::LogCapture {
  LogCapture() { log_set_prefix("p"); }
};

TEST(Print, LineFormat) {
  LogCapture cap;
  auto t = parse("^(x[a-z].|b{2,5}[ac]+)*yz");
  // Classes of non-printable bytes, added by hand, cover the \x forms.
  auto seq = re_elem_init(re_elem_sequence);
  seq->children.push_back(std::move(t));
  seq->children.push_back(cls({1, 2, 3}));
  seq->children.push_back(cls({1, 'a'}));
  re_elem_print(seq.get(), 0);
  re_elem_print(nullptr, 1);
  EXPECT_EQ(cap.text(),
            "p: +sequence [3] | 1    \n"
            "p: ++++  ^ sequence [2] | 1    \n"
            "p: +++++++ group [2] | 0..MAX    \n"
            "p: ++++++++++ sequence [3] | 1    \n"
            "p: +++++++++++++ literal [0] | 1    \"x\"\n"
            "p: +++++++++++++ class [0] | 1    'a'-'z'\n"
            "p: +++++++++++++ class [0] | 1    *\n"
            "p: ++++++++++ sequence [2] | 1    \n"
            "p: +++++++++++++ literal [0] | 2..5    \"b\"\n"
            "p: +++++++++++++ class [0] | 1..MAX    {2}   'a','c'\n"
            "p: +++++++ literal [0] | 1    \"yz\"\n"
            "p: ++++ class [0] | 1    \\x1-\\x3\n"
            "p: ++++ class [0] | 1    {2}   \\x1,'a'\n"
            "p: ++++ [NULL]\n");
}

}  // namespace
}  // namespace quarn
