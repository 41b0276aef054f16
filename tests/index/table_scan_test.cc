// Table scans with every kind of scan filter against matching each line's key alone,
// over tables and block sizes that put line ends, empty lines, empty keys and a missing
// last line feed at block boundaries.
#include "index/table_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "retrieval/search_context.h"

namespace quarn {
namespace {

struct handed_out {
  std::string line;
  bool confirmed;
};

std::vector<handed_out> drain(const std::string& table, search_context& ctx, size_t block) {
  table_scan scan(table.data(), table.data() + table.size(), ctx, block);
  std::vector<handed_out> out;
  const char* line;
  size_t length;
  bool confirmed;
  const char* last = nullptr;
  while (scan.next(&line, &length, &confirmed)) {
    EXPECT_TRUE(last == nullptr || line > last) << "lines out of order or repeated";
    last = line;
    out.push_back({std::string(line, length), confirmed});
  }
  return out;
}

std::string key_of(const std::string& line) { return line.substr(0, line.find('\t')); }

// The table's lines whose keys pass the context's match(), split as a scan splits them.
std::vector<std::string> matching_lines(const std::string& table, search_context& ctx) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < table.size()) {
    const size_t nl = std::min(table.find('\n', start), table.size());
    const std::string line = table.substr(start, nl - start);
    const std::string key = key_of(line);
    if (ctx.match(key.data(), key.size())) out.push_back(line);
    start = nl + 1;
  }
  return out;
}

TEST(TableScan, EveryFilterAgreesWithMatchingEachKeyAtAnyBlockSize) {
  const std::string long_key(300, 'q');
  const std::string tables[] = {
      "a.com\t4:1\nb.net\t4:2\nx.com\t4:com\n",
      "\t4:1\n\nwww.a.io\t4:1\n\n\ncom\t\tcom4\nq.com",  // empty keys and lines, no last LF
      "mail.a.com\n" + long_key + "\t4:1\nmail.b.net\t4:2\n\n",
      "",
  };
  const char* patterns[] = {
      ".*",          // every key: no matcher
      "^$",          // empty keys only
      "com$",        // end of key at a tab, a line feed and the table's end
      "^mail\\.",    // start of key after a line feed only
      "com.4",       // would match across the tab if classes kept it
      "q{300}",      // the line longer than small blocks
      "[0-9]",       // matches mostly in annotations
      "^(www|mail)\\.[a-z]+\\.(io|com)$",
  };
  for (const std::string& table : tables) {
    for (const char* pattern : patterns) {
      search_context ctx;
      std::string error;
      ASSERT_TRUE(ctx.compile(pattern, false, &error)) << error;
      const std::vector<std::string> want = matching_lines(table, ctx);
      for (size_t block : {1, 5, 16, 64, 4096}) {
        SCOPED_TRACE(std::string(pattern) + " block " + std::to_string(block));
        std::vector<std::string> got;
        for (const handed_out& h : drain(table, ctx, block)) {
          const std::string key = key_of(h.line);
          const bool passes = ctx.match(key.data(), key.size());
          EXPECT_TRUE(passes || !h.confirmed) << "confirmed a key that does not match: " << h.line;
          if (passes) got.push_back(h.line);
        }
        EXPECT_EQ(got, want);
      }
    }
  }
}

TEST(TableScan, ScanFilterFollowsThePattern) {
  const std::string table = "a.com\t4:1\nb.net\t4:2\n";
  auto kinds = [&](const char* pattern, bool glob) {
    search_context ctx;
    std::string error;
    EXPECT_TRUE(ctx.compile(pattern, glob, &error)) << error;
    const scan_filter f = ctx.prepare_table_scan();
    EXPECT_EQ(f.kind == scan_filter::blocks, f.matcher != nullptr);
    return f.kind;
  };
  EXPECT_EQ(kinds(".*", false), scan_filter::every_key);
  EXPECT_EQ(kinds("*", true), scan_filter::every_key);
  EXPECT_EQ(kinds("*.com", true), scan_filter::blocks);
  search_context uncompiled;  // match() lets everything through: nothing to confirm
  EXPECT_EQ(uncompiled.prepare_table_scan().kind, scan_filter::every_line);

  // Confirmed lines still go through the exclusion in the merger; here only the flag.
  search_context ctx;
  std::string error;
  ASSERT_TRUE(ctx.compile("com", false, &error));
  ASSERT_TRUE(ctx.compile_exclusion("^a", false, &error));
  const std::vector<handed_out> got = drain(table, ctx, 4096);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(got[0].confirmed);
  EXPECT_FALSE(ctx.match_confirmed("a.com", 5));
  EXPECT_TRUE(ctx.match_confirmed("x.com", 5));
}

// A context that shares another's table-scan filter (another thread of one search)
// finds the same lines with a matcher object of its own, the empty key's answer too.
TEST(TableScan, SharedScanFilterFindsTheSameLines) {
  const std::string table = "\t4:1\n\nwww.a.io\t4:1\n\n\ncom\t\tcom4\nq.com";
  for (const char* pattern : {".*", "^$", "com$", "[0-9]"}) {
    SCOPED_TRACE(pattern);
    search_context planned, shared;
    std::string error;
    ASSERT_TRUE(planned.compile(pattern, false, &error)) << error;
    ASSERT_TRUE(shared.compile(pattern, false, &error)) << error;
    shared.share_table_scan(planned);
    const scan_filter mine = shared.prepare_table_scan(), theirs = planned.prepare_table_scan();
    EXPECT_EQ(mine.kind, theirs.kind);
    if (mine.kind == scan_filter::blocks) {
      EXPECT_NE(mine.matcher, theirs.matcher);
    }
    std::vector<std::string> got;
    for (const handed_out& h : drain(table, shared, 5)) {
      const std::string key = key_of(h.line);
      if (h.confirmed || shared.match(key.data(), key.size())) got.push_back(h.line);
    }
    EXPECT_EQ(got, matching_lines(table, planned));
  }
}

}  // namespace
}  // namespace quarn
