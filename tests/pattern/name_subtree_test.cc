// The name subtree derived from parsed patterns: expression in, root and whether the
// root itself may match out ("-" for none).
#include <gtest/gtest.h>

#include <string>

#include "pattern/name_subtree.h"
#include "pattern/parse.h"

namespace quarn {
namespace {

std::string subtree_of(const char* expr, bool glob) {
  std::string error;
  re_elem_ptr tree = glob ? glob_parse(expr, &error) : regex_parse(expr, &error);
  EXPECT_TRUE(tree) << expr << ": " << error;
  name_subtree s;
  if (!tree || !required_name_subtree(*tree, &s)) return "-";
  return s.root + (s.include_root ? " +root" : "") + (s.exact ? " exact" : "");
}

TEST(NameSubtreeTest, RegexSuffixesAtLabelBoundaries) {
  const std::pair<const char*, const char*> rows[] = {
      {"\\.example\\.com$", "example.com exact"},
      {".*\\.co\\.uk$", "co.uk exact"},
      {"^.*\\.co\\.uk$", "co.uk exact"},
      {"(^|\\.)example\\.com$", "example.com +root exact"},
      {"(\\.|^)Example\\.COM$", "example.com +root exact"},
      {"^example\\.com$", "example.com +root"},
      {"www\\.example\\.com$", "example.com"},  // the dot inside the literal
      {"xexample\\.com$", "com"},
      {"\\.com$", "com exact"},
      {"[a-z]+\\.net$", "net"},
      {"(mail|www)\\.example\\.com$", "example.com"},
      {"\\.a\\.example\\.com$|\\.b\\.example\\.com$", "example.com"},
      {"\\.example\\.com$|(^|\\.)com$", "com +root"},
      {"^(www\\.|)example\\.com$", "com"},  // an optional group: only the inner dot
      {"(^www\\.|^)example\\.com$", "example.com +root"},
      {"\\.com\\.$", "com. exact"},
      // No root: not anchored, not at a label boundary, nothing common, or a blank.
      {"\\.example\\.com", "-"},
      {"example\\.com$", "com"},
      {"example$", "-"},
      {"a?\\.com$", "com"},
      {"\\.(com|net)$", "-"},
      {"\\.a\\.com$|\\.b\\.net$", "-"},
      {"\\.com$|mail", "-"},
      {"\\.com+$", "-"},
      {"\\.$", "-"},
      {"\\.my host$", "-"},
      {"(\\.)*example\\.com$", "com"},
      // Exact only when nothing but a run of any byte stands before the boundary.
      {"^[a-z]*\\.com$", "com"},
      {"^\\.com$", ".com +root"},
      {"(^|x\\.)com$", "com +root"},
      {"(^|\\.)com$|\\.com$", "com +root"},
  };
  for (const auto& [expr, want] : rows) EXPECT_EQ(subtree_of(expr, false), want) << expr;
}

TEST(NameSubtreeTest, GlobsAreAnchoredAtBothEnds) {
  EXPECT_EQ(subtree_of("*.example.com", true), "example.com exact");
  EXPECT_EQ(subtree_of("example.com", true), "example.com +root");
  EXPECT_EQ(subtree_of("?.co.uk", true), "co.uk");
  EXPECT_EQ(subtree_of("*example.com", true), "com");
  EXPECT_EQ(subtree_of("*.example.*", true), "-");
}

}  // namespace
}  // namespace quarn
