#include "index/name_order.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarn {
namespace {

int sign(int v) { return (v > 0) - (v < 0); }

TEST(NameOrder, ParentsFirstAndLabelsByLengthThenBytes) {
  // Each name sorts strictly before the next.
  const std::vector<std::string> sorted = {
      "com",         "a.com",     "ab.com",  "bb.com", "example.com",
      "mail.example.com", "x.mail.example.com", "net", "a.net", "zz.org", "aaaa",
  };
  for (size_t i = 0; i < sorted.size(); ++i) {
    for (size_t j = 0; j < sorted.size(); ++j) {
      EXPECT_EQ(sign(name_order(sorted[i], sorted[j])), sign(static_cast<int>(i) - static_cast<int>(j)))
          << sorted[i] << " vs " << sorted[j];
    }
  }
  // Bytes compare unsigned: a high byte sorts after ASCII.
  EXPECT_LT(name_order("az.com", "\xe4z.com"), 0);
}

TEST(NameOrder, OnlyTheKeyCounts) {
  EXPECT_EQ(name_order("example.com\t4:1:1", "example.com\tn:2:5 4:9"), 0);
  EXPECT_LT(name_order("example.com\tzzz", "mail.example.com\taaa"), 0);
  // A line feed ends the key too (a view running on into the mapped table).
  EXPECT_EQ(name_order(std::string_view("a.com\nb.com\tx"), "a.com"), 0);
}

TEST(NameOrder, SuffixesAndBlanks) {
  EXPECT_LT(name_order("example.com x", "example.com y"), 0);
  EXPECT_GT(name_order("example.com y", "example.com x"), 0);
  EXPECT_EQ(name_order("example.com x", "example.com"), 0);
  EXPECT_LT(name_order("example.com x", "example.com xy"), 0);  // shorter suffix first
  EXPECT_EQ(name_order("example.com ", "example.com"), 0);       // one trailing blank dropped
  EXPECT_LT(name_order("example.com z", "mail.example.com a"), 0);  // names decide first
}

TEST(NameOrder, EmptyAndNoneLines) {
  EXPECT_EQ(name_order("", ""), 0);
  EXPECT_EQ(name_order(std::string_view(), ""), 0);
  EXPECT_LT(name_order("", "com"), 0);
  EXPECT_GT(name_order("com", std::string_view()), 0);
}

TEST(NameOrder, DotsAndEmptyLabelsGiveATotalOrder) {
  // Antisymmetric and transitive on names with empty labels, so sorting by it is sound.
  const std::vector<std::string> names = {"com.", ".com", "a..com", "com", "..", ".", "a.com.", "b.a.com"};
  for (const std::string& a : names) {
    for (const std::string& b : names) {
      EXPECT_EQ(sign(name_order(a, b)), -sign(name_order(b, a))) << a << " vs " << b;
      for (const std::string& c : names) {
        if (name_order(a, b) <= 0 && name_order(b, c) <= 0) {
          EXPECT_LE(name_order(a, c), 0) << a << " <= " << b << " <= " << c;
        }
      }
    }
  }
  EXPECT_LT(name_order("com.", "com"), 0);  // the empty last label is shorter than "com"
}

}  // namespace
}  // namespace quarn
