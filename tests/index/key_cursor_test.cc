// The forward key cursor against a linear scan: for random sorted tables (runs of equal
// keys, long and short lines, with and without a final line feed) and random ascending
// key sequences, it hands out exactly the lines the scan finds; over a table out of order
// it still ends every lookup inside the table.
#include "index/key_cursor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {
namespace {

// Bytewise order of the keys (text before the first tab).
int key_order(std::string_view a, std::string_view b) {
  const std::string_view x = a.substr(0, a.find('\t'));
  const std::string_view y = b.substr(0, b.find('\t'));
  return x < y ? -1 : x == y ? 0 : 1;
}

std::string key_text(unsigned k) { return "k" + std::to_string(100000 + k); }

std::vector<std::string> found(key_cursor& cursor, const std::string& key) {
  std::vector<std::string> lines;
  std::string_view line;
  for (bool more = cursor.seek(key, &line); more; more = cursor.next_equal(key, &line))
    lines.emplace_back(line);
  return lines;
}

TEST(KeyCursor, FindsWhatALinearScanFinds) {
  std::mt19937 rng(5);
  for (int variant = 0; variant < 60; ++variant) {
    std::vector<std::string> lines;
    const unsigned distinct = rng() % 300;
    for (unsigned k = 0; k < distinct; ++k) {
      if (rng() % 3 != 0) continue;
      const unsigned copies = 1 + (rng() % 5 == 0 ? rng() % 4 : 0);
      for (unsigned c = 0; c < copies; ++c)
        lines.push_back(key_text(k) + "\t" + std::string(rng() % 2 ? 3 : 400, 'a' + c));
    }
    std::string table;
    for (const std::string& l : lines) table += l + "\n";
    if (variant % 4 == 3 && !table.empty()) table.pop_back();  // no final line feed

    key_cursor cursor(table.data(), table.size(), &key_order);
    const unsigned stride = 1 + rng() % 7;
    for (unsigned k = rng() % 3; k < distinct + 2; k += 1 + rng() % stride) {
      const std::string key = key_text(k) + "\tx";
      std::vector<std::string> expected;
      for (const std::string& l : lines)
        if (key_order(l, key) == 0) expected.push_back(l);
      ASSERT_EQ(found(cursor, key), expected) << "variant " << variant << " key " << k;
    }
  }
}

TEST(KeyCursor, EmptyTableAndTableOutOfOrderStayInside) {
  key_cursor empty("", 0, &key_order);
  EXPECT_TRUE(found(empty, "k1").empty());

  std::mt19937 rng(9);
  std::string table;
  for (int i = 0; i < 500; ++i) table += key_text(rng() % 50) + "\tv\n";
  // A copy without slack: a read past the end shows under the address sanitizer.
  std::vector<char> exact(table.begin(), table.end());
  key_cursor cursor(exact.data(), exact.size(), &key_order);
  size_t total = 0;
  for (unsigned k = 0; k < 60; ++k) total += found(cursor, key_text(k)).size();
  EXPECT_LE(total, 500u);
}

}  // namespace
}  // namespace quarn
