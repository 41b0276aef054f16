// Block scans against matching each key alone: random expressions over random blocks
// of lines (tabs in annotations, keys that match only across their tab if a rewrite were
// wrong, empty keys and lines, a last line without a line feed), the every-key test, and
// the trees that get no block rendering.
#include "pattern/block_matcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gen_expr.h"
#include "pattern/block_render.h"
#include "pattern/collapse.h"
#include "pattern/parse.h"
#include "pattern/render.h"

namespace quarn {
namespace {

re_elem_ptr tree_of(const std::string& expr) {
  re_elem_ptr tree = regex_parse(expr, nullptr);
  if (tree) pattern_collapse(tree);
  return tree;
}

// The block's lines (split at line feeds, as a table scan does) whose keys match.
std::vector<std::string> per_key(compiled_pattern& cp, const std::string& block) {
  std::vector<std::string> out;
  size_t start = 0;
  while (true) {
    const size_t nl = std::min(block.find('\n', start), block.size());
    const std::string line = block.substr(start, nl - start);
    const std::string key = line.substr(0, line.find('\t'));
    if (pattern_match(&cp, nullptr, key.data(), key.size())) out.push_back(line);
    if (nl == block.size()) return out;
    start = nl + 1;
  }
}

std::vector<std::string> scanned(block_matcher& bm, const std::string& block) {
  std::vector<found_line> found;
  EXPECT_TRUE(bm.scan(block.data(), block.size(), found));
  std::vector<std::string> out;
  for (const found_line& f : found) out.emplace_back(f.text, f.length);
  return out;
}

std::vector<std::string> all_lines(const std::string& block) {
  compiled_pattern none;
  return per_key(none, block);  // no database: every key passes
}

// Lines of random keys (no tab or line feed), most with a tab and an annotation that
// may hold more tabs and text the keys hold too.
std::string random_block(testing::ExprGen& gen) {
  std::string block;
  const int lines = 1 + static_cast<int>(gen.pick(12));
  for (int i = 0; i < lines; ++i) {
    if (i > 0) block += '\n';
    for (char c : gen.text())
      if (c != '\t') block += c;
    if (gen.pick(4) != 0) block += "\t" + gen.text();
  }
  if (gen.pick(3) == 0) block += "\t";  // a last line with an empty annotation
  return block;
}

void expect_block_equals_per_key(const std::string& expr, const std::string& block) {
  re_elem_ptr tree = tree_of(expr);
  ASSERT_TRUE(tree) << expr;
  compiled_pattern cp;
  std::string err;
  ASSERT_TRUE(pattern_compile(re_elem_to_string(*tree), cp, err)) << expr << ": " << err;
  block_matcher bm;
  ASSERT_TRUE(bm.compile(*tree, err)) << expr << ": " << err;
  EXPECT_EQ(scanned(bm, block), per_key(cp, block)) << expr << " as " << bm.text();
}

TEST(BlockMatcher, RandomExpressionsAgreeWithMatchingEachKey) {
  size_t rendered = 0, every_key = 0, found = 0;
  for (bool embedded : {false, true}) {
    testing::ExprGen gen(embedded ? 99 : 17, embedded);
    for (int i = 0; i < 700; ++i) {
      const std::string expr = gen.expr();
      re_elem_ptr tree = tree_of(expr);
      compiled_pattern cp;
      std::string err;
      if (!tree || !pattern_compile(re_elem_to_string(*tree), cp, err)) continue;
      const std::string block = random_block(gen) + "\n" + random_block(gen);
      SCOPED_TRACE(expr);
      if (matches_every_key(*tree)) {
        ++every_key;
        EXPECT_EQ(per_key(cp, block), all_lines(block));
        continue;
      }
      block_matcher bm;
      if (!bm.compile(*tree, err)) continue;
      ++rendered;
      const std::vector<std::string> want = per_key(cp, block);
      found += want.size();
      EXPECT_EQ(scanned(bm, block), want) << bm.text();
    }
  }
  // Not vacuous: most expressions take the block path and many lines match.
  EXPECT_GT(rendered, 600u);
  EXPECT_GT(every_key, 200u);
  EXPECT_GT(found, 1000u);
}

TEST(BlockMatcher, MatchesNeverCrossTheKeyEndOrLeaveTheLine) {
  const std::string block = "x.com\t4:1\nbb.com\nab\t\tcom4\n\t\n\ncom";
  expect_block_equals_per_key("com.4", block);       // would match across the tab
  expect_block_equals_per_key("com[^x]4", block);
  expect_block_equals_per_key("m\\.?$", block);      // end of key at a tab and at a line feed
  expect_block_equals_per_key("^com", block);        // after a line feed, not after a tab
  expect_block_equals_per_key("^$", block);          // empty key and empty line
  expect_block_equals_per_key("(b|\\.)com$", block);
  expect_block_equals_per_key("com$", block);        // the last line has no line feed
  expect_block_equals_per_key("[[:space:]]", block); // tab and line feed are no key bytes
  expect_block_equals_per_key("b.c[a-z]*", block);   // trailing repeat cut to its minimum
  expect_block_equals_per_key("^.*com.*$", block);   // the glob *com*, ends dropped
  expect_block_equals_per_key("^.*m$", block);       // the glob *m keeps its end anchor
  expect_block_equals_per_key("^.*(4|b)", block);
}

TEST(BlockMatcher, EveryKeyPatternsAndTreesWithoutARendering) {
  for (const char* expr : {".*", "^.*$", "a*", "^", "$", "(x|)", "^a?", ".*$", "(^.*$|q)"})
    EXPECT_TRUE(matches_every_key(*tree_of(expr))) << expr;
  for (const char* expr : {"^$", "^a?$", "a", "^.+$", ".", "(^a|b)*c"})
    EXPECT_FALSE(matches_every_key(*tree_of(expr))) << expr;

  std::string text, err;
  // An end anchor something may follow would need the tab twice or look past it.
  EXPECT_FALSE(block_render(*tree_of("(a$|b)c"), &text));
  EXPECT_FALSE(block_render(*tree_of("(a$|b)+"), &text));
  block_matcher bm;
  EXPECT_FALSE(bm.compile(*tree_of("(a$|b)c"), err));
  EXPECT_EQ(err, block_matcher_error::kNoRendering);
  EXPECT_FALSE(bm.ready());
  re_elem_ptr tab = re_elem_literal_of("a\tb");
  EXPECT_FALSE(block_render(*tab, &text));
}

}  // namespace
}  // namespace quarn
