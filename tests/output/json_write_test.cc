// The result writer's own JSON text against the yajl generator it replaced: the same
// bytes for every key, and the same refusals, over keys built to hit each escape, each
// UTF-8 shape the generator accepts or refuses, and the integer extremes.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "output/json_gen.h"
#include "output/json_output.h"
#include "output/json_write.h"
#include "retrieval/rrkit.h"
#include "support/log_capture.h"

namespace quarn {
namespace {

using quarn::testing::LogCapture;

// The object as the generator writes it; nullopt when the generator refuses the key.
std::optional<std::string> reference(const result_entry& r, bool details) {
  JsonGen g(1 << 20);
  const rrtype_summary& e = r.auxdata[0];
  char type_name[kRrtypeNameSize];
  bool ok = g.map_open() && g.string(details ? "details" : "terse") && g.map_open() &&
            g.string("rrname") && g.string(r.key) && g.string("rrtype") &&
            g.string(rrtype_name(e.rrtype, type_name));
  if (ok && details) {
    ok = g.string("count") && g.unsigned_integer(e.count) && g.string("time_first") &&
         g.integer(e.time_first) && g.string("time_last") && g.integer(e.time_last);
  }
  ok = ok && g.map_close() && g.map_close();
  if (!ok) return std::nullopt;
  return g.text();
}

void expect_same(JsonResultWriter& w, const result_entry& r, bool details) {
  std::optional<std::string> want = reference(r, details);
  const bool built = w.build(r, r.auxdata[0].rrtype, details);
  ASSERT_EQ(built, want.has_value()) << ::testing::PrintToString(r.key);
  if (built) {
    ASSERT_EQ(std::string(w.text()), *want) << ::testing::PrintToString(r.key);
  }
}

result_entry entry(std::string key) {
  result_entry r;
  r.key = std::move(key);
  r.auxdata = {{1, 12, 1577836800, 1577923200}};
  return r;
}

TEST(JsonWrite, EveryByteAndPairMatchesTheGenerator) {
  LogCapture log;  // refusals log a line each
  JsonResultWriter w;
  for (int a = 0; a < 256; ++a) {
    expect_same(w, entry(std::string(1, static_cast<char>(a))), true);
    for (int b = 0; b < 256; ++b) {
      std::string key{static_cast<char>(a), static_cast<char>(b)};
      expect_same(w, entry(key), false);
    }
  }
}

TEST(JsonWrite, GeneratedKeysMatchTheGenerator) {
  LogCapture log;
  // Pieces that each stress one rule: escapes, DEL and the solidus (not escaped), valid
  // sequences of each length, and the structurally valid oddities the generator takes
  // (overlong, surrogate, past U+10FFFF) beside the ones it refuses (stray continuation,
  // cut sequence, 0xF8 and up).
  const std::vector<std::string> pieces = {
      "a", "www.", "-", "\"", "\\", "/", "\x7f", "\t", "\n", "\r", "\b", "\f",
      std::string(1, '\0'), "\x01", "\x1f", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80",
      "\xc0\x80", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xf7\xbf\xbf\xbf", "\x80", "\xbf",
      "\xe2\x82", "\xf0\x9f\x98", "\xc3", "\xf8\x88\x80\x80\x80", "\xfe", "\xff"};
  std::mt19937 rng(7);
  JsonResultWriter w;
  for (int i = 0; i < 20000; ++i) {
    std::string key;
    for (int n = static_cast<int>(rng() % 8); n > 0; --n) key += pieces[rng() % pieces.size()];
    result_entry r = entry(key);
    r.auxdata[0].rrtype = static_cast<uint16_t>(rng());
    expect_same(w, r, i % 2 == 0);
  }
}

TEST(JsonWrite, IntegerExtremesMatchTheGenerator) {
  JsonResultWriter w;
  for (uint64_t count : {uint64_t{0}, uint64_t{LLONG_MAX}, uint64_t{LLONG_MAX} + 1, UINT64_MAX}) {
    for (int64_t t : {int64_t{0}, int64_t{-1}, int64_t{LLONG_MIN}, int64_t{LLONG_MAX}}) {
      result_entry r = entry("x.example");
      r.auxdata[0] = {2, count, t, -t - 1};
      expect_same(w, r, true);
    }
  }
}

}  // namespace
}  // namespace quarn
