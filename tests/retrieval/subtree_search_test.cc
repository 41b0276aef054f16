// Suffix searches read through subtree runs give exactly what the usual path gives and
// what a brute force over every key gives: generated names around the traps (sibling
// names sharing a prefix, names that only end with the suffix's text, the suffix as the
// whole name, the file's first and last lines), several overlapping files, time filters
// (one file skipped by its time fence), files with upper-case keys or blanks in keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "index/crafted_index.h"
#include "index/name_order.h"
#include "index/tgdb.h"
#include "retrieval/key_ranges.h"
#include "retrieval/search_context.h"
#include "retrieval/tgdb_merger.h"

namespace quarn {
namespace {

using testing::ScratchDir;

class SubtreeSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 rng(99);
    const char* labels[] = {"example", "xexample", "co", "uk", "com", "community", "www",
                            "mail", "a", "example-1", "net", "cdn"};
    std::set<std::string> names = {"com", "example.com", "co.uk", "aaa.a", "zzz.zzz"};
    while (names.size() < 1500) {
      std::string n = labels[rng() % 12];
      const int more = 1 + static_cast<int>(rng() % 3);
      for (int k = 0; k < more; ++k) n += std::string(".") + labels[rng() % 12];
      names.insert(n);
    }
    add_files(names, rng);
  }

  // Three files, each key in one to three of them; file 2 lies in a later time range.
  void add_files(const std::set<std::string>& names, std::mt19937& rng) {
    std::vector<std::string> sorted(names.begin(), names.end());
    std::sort(sorted.begin(), sorted.end(),
              [](const std::string& a, const std::string& b) { return name_order(a, b) < 0; });
    for (int f = 0; f < 3; ++f) {
      std::string text;
      for (size_t i = 0; i < sorted.size(); ++i) {
        if (i % 3 != static_cast<size_t>(f) && rng() % 3 != 0) continue;
        const int64_t first = 1000 * (f + 1) + static_cast<int64_t>(rng() % 500);
        char ann[64];
        std::snprintf(ann, sizeof ann, "\t1:%lx,%x:1\n", static_cast<unsigned long>(first),
                      static_cast<unsigned>(rng() % 400));
        text += sorted[i] + ann;
        keys_[sorted[i]] += 1;
      }
      const std::string path = dir_.file("f" + std::to_string(files_++) + ".idx");
      testing::write_index(path, text);
      indexes_.push_back(tgdb_load(path));
      ASSERT_TRUE(indexes_.back());
    }
  }

  std::vector<std::string> brute(const std::string& regex) const {
    const std::regex re(regex, std::regex::icase | std::regex::extended);
    std::vector<std::string> out;
    for (const auto& [k, n] : keys_)
      if (std::regex_search(k, re)) out.push_back(k);
    std::sort(out.begin(), out.end(),
              [](const std::string& a, const std::string& b) { return name_order(a, b) < 0; });
    return out;
  }

  // The search's results; with parts > 1 the files are cut into that many slices of
  // the key order, searched one after the other, as a split search does.
  std::vector<std::string> searched(const std::string& expr, bool glob, bool runs,
                                    int64_t last_after = 0, size_t parts = 1) {
    search_context ctx;
    // The files are small: "always" sends every suffix search through the runs.
    ctx.set_subtree_runs(runs ? search_context::subtree_runs::always
                              : search_context::subtree_runs::off);
    if (last_after > 0) ctx.set_time_last_after(last_after);
    std::string error;
    EXPECT_TRUE(ctx.compile(expr, glob, &error)) << expr << ": " << error;
    KeyRanges ranges;
    if (parts > 1) {
      EXPECT_TRUE(split_key_ranges(indexes_, parts, &ranges));
    }
    std::vector<std::string> out;
    for (size_t p = 0; p < std::max<size_t>(1, ranges.parts.size()); ++p) {
      const auto m = open_merger(ctx, indexes_, parts > 1 ? &ranges.parts[p] : nullptr);
      while (auto r = m->next()) {
        std::string line = r->key + "|";
        for (const auto& a : r->auxdata)
          line += " " + std::to_string(a.count) + " " + std::to_string(a.time_first) + " " +
                  std::to_string(a.time_last);
        out.push_back(line);
      }
    }
    return out;
  }

  static std::vector<std::string> keys_only(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& l : lines) out.push_back(l.substr(0, l.find('|')));
    return out;
  }

  void expect_same(const char* expr, const char* regex, bool glob) {
    SCOPED_TRACE(expr);
    const std::vector<std::string> with = searched(expr, glob, true);
    EXPECT_EQ(with, searched(expr, glob, false));
    EXPECT_EQ(keys_only(with), brute(regex));
    // A time filter that leaves the first files out of candidate generation.
    EXPECT_EQ(searched(expr, glob, true, 3000), searched(expr, glob, false, 3000));
    // Slices of the key order, whose bounds cut through the runs.
    EXPECT_EQ(searched(expr, glob, true, 0, 7), with);
  }

  ScratchDir dir_;
  int files_ = 0;
  std::map<std::string, int> keys_;
  std::vector<TgdbRef> indexes_;
};

const std::pair<const char*, const char*> kRegexes[] = {
    {"\\.example\\.com$", "\\.example\\.com$"},
    {".*\\.co\\.uk$", "\\.co\\.uk$"},
    {"(^|\\.)example\\.com$", "(^|\\.)example\\.com$"},
    {"(^|\\.)COM$", "(^|\\.)com$"},
    {"\\.com$", "\\.com$"},
    {"^example\\.com$", "^example\\.com$"},
    {"\\.www\\.mail\\.a$", "\\.www\\.mail\\.a$"},
    {"mail\\.example\\.community$", "mail\\.example\\.community$"},
    {"(www|cdn)\\.co\\.uk$", "(www|cdn)\\.co\\.uk$"},
    {"^[a-z]+\\.xexample\\.net$", "^[a-z]+\\.xexample\\.net$"},
    {"\\.zzz$", "\\.zzz$"},
    {"(^|\\.)aaa\\.a$", "(^|\\.)aaa\\.a$"},
    {"\\.nothere\\.com$", "\\.nothere\\.com$"},
    // Trigrams common outside the run: it is scanned instead of the query's lists.
    {"\\.www\\.com$", "\\.www\\.com$"},
    {"\\.co\\.com$", "\\.co\\.com$"},
    {"\\.com\\.a$", "\\.com\\.a$"},
};

TEST_F(SubtreeSearchTest, SuffixSearchesEqualTheUsualPathAndABruteForce) {
  for (const auto& [expr, regex] : kRegexes) expect_same(expr, regex, false);
  expect_same("*.example.com", "^.*\\.example\\.com$", true);
  expect_same("example.com", "^example\\.com$", true);
  expect_same("*.*.uk", "^.*\\..*\\.uk$", true);
}

TEST_F(SubtreeSearchTest, FilesWithKeysOutsideTheOrderStayExact) {
  // Upper-case spellings and a blank whose text after it ends with the suffix: true
  // matches that lie outside the subtree's run.
  std::mt19937 rng(5);
  add_files({"WWW.EXAMPLE.COM", "Mail.Example.Com", "b.co.UK", "www.example.com"}, rng);
  add_files({"zz x.example.com", "aa y.co.uk", "q.co.uk", "a.example.com"}, rng);
  // Blanks after '^' bytes, which fold into the trigram padding, in files of their own.
  add_files({"a^^ b.co.uk", "b^^ x.example.com", "y.co.uk"}, rng);
  for (const auto& [expr, regex] : kRegexes) expect_same(expr, regex, false);
  expect_same("*.example.com", "^.*\\.example\\.com$", true);
}

}  // namespace
}  // namespace quarn
