// The writer's table of distinct values: one id per (type, bytes), stable views, and ids
// sorted exactly as value_order sorts, including values that are prefixes of others.
#include "store/value_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "store/value_order.h"

namespace quarn::testing {
namespace {

struct Value {
  uint16_t rrtype;
  std::string raw;
};

// Short values over a few bytes, so that equal prefixes, proper prefixes and a type
// equal to the longer value's next byte all occur often; some longer than the 8 bytes
// the sort compares first.
std::vector<Value> random_values(uint32_t seed, size_t n) {
  std::mt19937 rng(seed);
  const char bytes[] = {0, 1, 2, static_cast<char>(255)};
  const uint16_t types[] = {1, 2, 255, 256};
  std::vector<Value> out;
  for (size_t i = 0; i < n; ++i) {
    Value v{types[rng() % 4], std::string(rng() % 13, '\0')};
    for (char& c : v.raw) c = bytes[rng() % 4];
    out.push_back(std::move(v));
  }
  return out;
}

TEST(ValueTable, InternsEachValueOnceAndKeepsItsBytes) {
  ValueTable t;
  const std::vector<Value> values = random_values(1, 20000);
  std::vector<uint32_t> ids;
  for (const Value& v : values) ids.push_back(t.intern(v.rrtype, v.raw));
  for (size_t i = 0; i < values.size(); ++i) {
    // Asked again after the table grew, the same value gets the same id and bytes.
    EXPECT_EQ(t.intern(values[i].rrtype, values[i].raw), ids[i]);
    EXPECT_EQ(t.raw(ids[i]), values[i].raw);
    EXPECT_EQ(t.rrtype(ids[i]), values[i].rrtype);
  }
  std::vector<std::pair<uint16_t, std::string>> distinct;
  for (const Value& v : values) distinct.emplace_back(v.rrtype, v.raw);
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  EXPECT_EQ(t.size(), distinct.size());
  // In batches (repeats inside one, more than one batch's worth, slots growing in
  // between) a value gets the id a single intern() gives it.
  ValueTable batched;
  std::vector<ValueTable::Value> views;
  for (const Value& v : values) views.push_back({v.rrtype, v.raw});
  std::vector<uint32_t> batch_ids(views.size());
  for (size_t at = 0; at < views.size(); at += 150) {
    const size_t n = std::min<size_t>(150, views.size() - at);
    batched.intern_batch(views.data() + at, n, batch_ids.data() + at);
  }
  EXPECT_EQ(batch_ids, ids);
  EXPECT_EQ(t.intern(1, "\x01"), t.intern(1, "\x01"));
  EXPECT_NE(t.intern(1, "\x01"), t.intern(2, "\x01")) << "the type is part of the value";
}

TEST(ValueTable, SortsAsTheValueOrder) {
  ValueTable t;
  for (const Value& v : random_values(2, 5000)) t.intern(v.rrtype, v.raw);
  t.intern(1, std::string(65535, 'x'));  // the widest value a store takes
  const std::vector<uint32_t> got = t.sorted_ids();
  ASSERT_EQ(got.size(), t.size());
  EXPECT_EQ(t.sorted_ids(3), got) << "the order does not depend on the threads";
  std::vector<uint32_t> want(t.size());
  for (uint32_t i = 0; i < want.size(); ++i) want[i] = i;
  std::sort(want.begin(), want.end(), [&t](uint32_t a, uint32_t b) {
    return value_order(t.raw(a), t.rrtype(a), t.raw(b), t.rrtype(b)) < 0;
  });
  EXPECT_EQ(got, want);
}

}  // namespace
}  // namespace quarn::testing
