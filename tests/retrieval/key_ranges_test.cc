// Slices of the key order: the slices' merged results, one slice after the other, are
// exactly the whole search's, for owner names and rdata, table scans and indexed
// queries, with filters and with an index that the time filter skips.
#include "retrieval/key_ranges.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "index/crafted_index.h"
#include "index/name_order.h"
#include "retrieval/rdata_order.h"
#include "retrieval/search_context.h"
#include "retrieval/tgdb_merger.h"

namespace quarn {
namespace {

using testing::ScratchDir;

std::string hexs(uint64_t v) {
  char b[24];
  std::snprintf(b, sizeof b, "%llx", static_cast<unsigned long long>(v));
  return b;
}

// Owner names with parents and children interleaved in name order (z3.example before
// h1.z3.example), every `step`-th of n, with times shifted by `shift`.
std::string name_lines(int n, int step, uint32_t shift) {
  std::vector<std::string> lines;
  for (int i = 0; i < n; i += step) {
    const std::string t = hexs(1000 + i + shift);
    lines.push_back("h" + std::to_string(i) + ".z" + std::to_string(i % 7) + ".example\t4:" + t +
                    ":1" + (i % 3 == 0 ? " n:" + t + ":2" : ""));
    if (i % 50 == 0) lines.push_back("z" + std::to_string(i) + ".example\t4:" + t + ":3");
  }
  std::sort(lines.begin(), lines.end(),
            [](const std::string& a, const std::string& b) { return name_order(a, b) < 0; });
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  return text;
}

// A records 10.0.x.y, every `step`-th of n, and some CNAMEs whose rdata shares a prefix.
std::string rdata_lines(int n, int step, uint32_t shift) {
  std::vector<std::string> lines;
  for (int i = 0; i < n; i += step) {
    char v[64], raw[16];
    std::snprintf(v, sizeof v, "10.0.%d.%d", i / 256, i % 256);
    std::snprintf(raw, sizeof raw, "0a00%02x%02x", i / 256, i % 256);
    lines.push_back(std::string(v) + "\t4/" + raw + " 4:" + hexs(1000 + i + shift) + ":1");
    if (i % 40 == 0) lines.push_back(std::string(v) + "\t4/" + raw + " 10:" + hexs(900 + i) + ":2");
  }
  std::sort(lines.begin(), lines.end(),
            [](const std::string& a, const std::string& b) { return rdata_line_compare(a, b) < 0; });
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  return text;
}

std::string canonical(const result_entry& r) {
  std::string s = r.key;
  for (const rrtype_summary& e : r.auxdata)
    s += " " + std::to_string(e.rrtype) + "/" + std::to_string(e.count) + "/" +
         std::to_string(e.time_first) + "/" + std::to_string(e.time_last);
  return s;
}

struct Search {
  const char* expression;
  bool query;         // planned into a trigram query rather than a table scan
  uint16_t rrtype;
  int64_t last_after;  // 0: none; otherwise skips the third index
};

void prepare(search_context& ctx, const Search& s) {
  std::string error;
  ASSERT_TRUE(ctx.compile(s.expression, false, &error)) << error;
  ASSERT_EQ(ctx.query() != nullptr, s.query) << s.expression;
  ctx.set_rrtype(s.rrtype);
  if (s.last_after != 0) ctx.set_time_last_after(s.last_after);
}

std::vector<std::string> whole(const std::vector<TgdbRef>& indexes, const Search& s) {
  search_context ctx;
  prepare(ctx, s);
  std::vector<std::string> out;
  auto m = open_merger(ctx, indexes);
  while (auto r = m->next()) out.push_back(canonical(*r));
  return out;
}

std::vector<std::string> sliced(const KeyRanges& ranges, const Search& s) {
  search_context ctx;
  prepare(ctx, s);
  std::vector<std::string> out;
  for (const std::vector<LineRange>& part : ranges.parts) {
    auto m = open_merger(ctx, ranges.indexes, &part);
    while (auto r = m->next()) out.push_back(canonical(*r));
    EXPECT_FALSE(m->failed());
  }
  return out;
}

TEST(KeyRanges, SlicesInOrderGiveTheWholeAnswer) {
  ScratchDir dir;
  for (const bool rdata : {false, true}) {
    IndexWriterOptions o;
    if (rdata) {
      o.kind = IndexKind::kRdata;
      o.compare = [](std::string_view a, std::string_view b) { return rdata_line_compare(a, b); };
    }
    std::vector<TgdbRef> indexes;
    const int steps[] = {1, 3, 7};
    for (int f = 0; f < 3; ++f) {
      o.timefence = true;
      o.earliest_seen = f == 2 ? 0 : 1000;
      o.latest_seen = f == 2 ? 1500 : 9000;
      const std::string path = dir.file((rdata ? "d" : "n") + std::to_string(f) + ".idx");
      const uint32_t shift = static_cast<uint32_t>(f * 5);
      testing::write_index(path, rdata ? rdata_lines(3000, steps[f], shift)
                                       : name_lines(3000, steps[f], shift), o);
      indexes.push_back(tgdb_load(path));
      ASSERT_TRUE(indexes.back());
    }
    const std::vector<Search> searches =
        rdata ? std::vector<Search>{{".", false, 0, 0}, {"10\\.0\\.1", true, 0, 0},
                                    {"\\.1[0-9]", true, 1, 2000}}
              : std::vector<Search>{{".", false, 0, 0}, {"h12|3\\.ex", true, 0, 0},
                                    {"h1", true, 2, 0}, {"z[0-9]", false, 0, 2000}};
    for (const size_t parts : {2u, 5u, 16u, 200u}) {
      KeyRanges ranges;
      ASSERT_TRUE(split_key_ranges(indexes, parts, &ranges));
      EXPECT_GE(ranges.parts.size(), std::min<size_t>(parts, 2));
      for (const Search& s : searches) {
        const std::vector<std::string> expected = whole(indexes, s);
        ASSERT_FALSE(expected.empty()) << s.expression;
        EXPECT_EQ(sliced(ranges, s), expected) << s.expression << " in " << parts << " parts";
      }
    }
  }
}

}  // namespace
}  // namespace quarn
