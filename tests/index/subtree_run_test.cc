// Subtree runs against a brute force over the sorted keys: the run must be exactly the
// lines whose names lie in the subtree, and files whose keys could put a match
// elsewhere (a blank inside a key, upper-case spellings) must be declined.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "index/crafted_index.h"
#include "index/name_order.h"
#include "index/subtree_run.h"
#include "index/tgdb.h"

namespace quarn {
namespace {

using testing::ScratchDir;

bool brute_in_subtree(const std::string& name, const name_subtree& s) {
  const std::string& r = s.root;
  if (name == r) return s.include_root;
  return name.size() > r.size() && name.compare(name.size() - r.size(), r.size(), r) == 0 &&
         name[name.size() - r.size() - 1] == '.';
}

class SubtreeRunTest : public ::testing::Test {
 protected:
  TgdbRef write(std::vector<std::string> keys) {
    std::sort(keys.begin(), keys.end(),
              [](const std::string& a, const std::string& b) { return name_order(a, b) < 0; });
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    keys_ = keys;
    std::string text;
    for (const std::string& k : keys) text += k + "\t1:1,0:1\n";
    const std::string path = dir_.file("n" + std::to_string(files_++) + ".idx");
    testing::write_index(path, text);
    return tgdb_load(path);
  }

  // The run must cover exactly the brute-force lines, which must be contiguous.
  void expect_exact(const Tgdb& index, const name_subtree& s) {
    SCOPED_TRACE(s.root + (s.include_root ? " +root" : ""));
    subtree_run run;
    ASSERT_TRUE(find_subtree_run(index, s, &run));
    uint64_t first = keys_.size(), end = 0, count = 0;
    for (size_t i = 0; i < keys_.size(); ++i) {
      if (!brute_in_subtree(keys_[i], s)) continue;
      first = std::min<uint64_t>(first, i);
      end = i + 1;
      ++count;
    }
    if (count == 0) {
      EXPECT_EQ(run.lines(), 0u);
      return;
    }
    EXPECT_EQ(run.first_line, first);
    EXPECT_EQ(run.end_line, end);
    EXPECT_EQ(end - first, count);
    const std::string first_line = keys_[first] + "\t";
    EXPECT_EQ(std::string(run.begin, first_line.size()), first_line);
    EXPECT_EQ(run.end[-1], '\n');
  }

  ScratchDir dir_;
  int files_ = 0;
  std::vector<std::string> keys_;
};

TEST_F(SubtreeRunTest, RunsEqualABruteForceOverGeneratedNames) {
  std::mt19937 rng(7);
  const char* labels[] = {"example", "examples", "xexample", "co", "uk", "com", "community",
                          "a", "b", "mail", "www", "ex-ample", "e", "z9", "", "org"};
  std::vector<std::string> keys = {"example.com", "example.community", "xexample.com", "com",
                                   "co.uk", "a", "zzzz.zzz"};
  for (int i = 0; i < 3000; ++i) {
    std::string n = labels[rng() % 16];
    const int more = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < more; ++k) n += std::string(".") + labels[rng() % 16];
    if (!n.empty()) keys.push_back(n);
  }
  const TgdbRef index = write(keys);
  ASSERT_TRUE(index);
  const char* roots[] = {"example.com", "com", "co.uk", "uk", "example.community", "a",
                         "zzzz.zzz", "zzz", "nothere.com", "aaa", ".com", "www.example.com",
                         "org", "e.e"};
  for (const char* r : roots) {
    expect_exact(*index, name_subtree{r, true});
    expect_exact(*index, name_subtree{r, false});
  }
}

TEST_F(SubtreeRunTest, SmallTablesAndTheTableEdges) {
  const TgdbRef one = write({"example.com"});
  ASSERT_TRUE(one);
  expect_exact(*one, name_subtree{"example.com", true});
  expect_exact(*one, name_subtree{"example.com", false});
  expect_exact(*one, name_subtree{"com", false});
  expect_exact(*one, name_subtree{"net", false});
  const TgdbRef edges = write({"a.com", "b.com", "c.net", "a.org", "www.a.org"});
  ASSERT_TRUE(edges);
  expect_exact(*edges, name_subtree{"com", false});  // the first lines
  expect_exact(*edges, name_subtree{"a.org", true});  // the last lines
  expect_exact(*edges, name_subtree{"zz", false});  // past the end: empty
  expect_exact(*edges, name_subtree{"aa", false});  // before the start: empty
}

TEST_F(SubtreeRunTest, KeysThatCouldMatchOutsideTheRunAreDeclined) {
  subtree_run run;
  const name_subtree s{"example.com", false};
  // Upper-case spellings of the root's labels, at any level and letter.
  for (const char* odd : {"www.EXAMPLE.COM", "a.example.Com", "b.eXample.com", "c.examplE.com",
                          "example.com.Example.com"}) {
    SCOPED_TRACE(odd);
    const TgdbRef index = write({"www.example.com", "mail.example.com", "x.net", odd});
    ASSERT_TRUE(index);
    EXPECT_FALSE(find_subtree_run(*index, s, &run));
  }
  // Upper case below the root or in other names does not matter.
  const TgdbRef elsewhere = write({"WWW.example.com", "EXAMPLE.NET", "x.net", "A.B"});
  ASSERT_TRUE(elsewhere);
  EXPECT_TRUE(find_subtree_run(*elsewhere, s, &run));
  EXPECT_EQ(run.lines(), 1u);
  // A blank inside a key: it sorts by the text before it, wherever its end lies, and
  // '^' bytes before it fold into the padding symbol. Any other odd byte declines too.
  for (const char* odd : {"zz x.example.com", "a^ b.example.com", "^ b.example.com",
                          "a^^ b.example.com", "a^^^ b.example.com", "^^ b.example.com",
                          "*.example.com", "a*b.org", " lead.org"}) {
    SCOPED_TRACE(odd);
    const TgdbRef index = write({"www.example.com", "x.net", odd});
    ASSERT_TRUE(index);
    EXPECT_TRUE(keys_may_hold_blank(*index));
    EXPECT_FALSE(find_subtree_run(*index, s, &run));
  }
  const TgdbRef plain = write({"a^^b.example.com", "www.example.com", "x_y-1.org"});
  ASSERT_TRUE(plain);
  EXPECT_FALSE(keys_may_hold_blank(*plain));
  EXPECT_TRUE(find_subtree_run(*plain, s, &run));
  EXPECT_EQ(run.lines(), 2u);
}

}  // namespace
}  // namespace quarn
