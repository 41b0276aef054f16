#include "forge/key_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "index/name_order.h"

namespace quarn {
namespace {

std::string name_key(const std::string& name, uint16_t type = 1) {
  std::string out;
  EXPECT_TRUE(encode_name_key(name, type, out)) << name;
  return out;
}

int sign(int v) { return (v > 0) - (v < 0); }

TEST(NameKey, BytewiseOrderIsNameOrder) {
  std::vector<std::string> names = {
      "com", "example.com", "mail.example.com", "a.com", "bb.com", "ab.com",
      "example.com.", ".", "a..b", ".a", "x.y.z", "z", "zz", "a-b.c_d", "\xc3\xa9.fr",
      "www.example.org", "example.org", "b.example.com", "aa.example.com"};
  // Random names over a small alphabet reach ties and prefix cases quickly.
  std::mt19937 rng(11);
  const char alphabet[] = "ab.";
  for (int i = 0; i < 400; ++i) {
    std::string n;
    const int len = 1 + static_cast<int>(rng() % 7);
    for (int j = 0; j < len; ++j) n.push_back(alphabet[rng() % 3]);
    names.push_back(n);
  }
  for (const auto& a : names) {
    for (const auto& b : names) {
      const int want = sign(name_order(a, b));
      const int got = sign(name_key_stem(name_key(a)).compare(name_key_stem(name_key(b))));
      // name_order sees only the names; the encoding must agree on every pair.
      ASSERT_EQ(got, want) << "'" << a << "' vs '" << b << "'";
    }
  }
}

TEST(NameKey, DecodesWhatItEncodesAndGroupsTypesByName) {
  for (const char* n : {"example.com", ".", "a..b", ".a", "x."}) {
    std::string back;
    uint16_t t = 0;
    ASSERT_TRUE(decode_name_key(name_key(n, 65280), back, &t)) << n;
    EXPECT_EQ(back, n);
    EXPECT_EQ(t, 65280);
  }
  // Types of one name sort by number right after each other.
  EXPECT_LT(name_key("example.com", 1), name_key("example.com", 2));
  EXPECT_LT(name_key("example.com", 255), name_key("example.com", 256));
  EXPECT_LT(name_key("example.com", 65535), name_key("a.example.com", 1));
  std::string out;
  EXPECT_FALSE(encode_name_key("", 1, out));
  std::string back;
  uint16_t t;
  EXPECT_FALSE(decode_name_key("", back, &t));
  EXPECT_FALSE(decode_name_key(std::string("\x00\x05", 2) + "ab", back, &t));
}

// The rdata line order, written out from its definition: raw bytes, with the type as
// one more byte after the shorter value, ties going to the longer value.
int reference_rdata_order(const std::string& a, uint16_t ta, const std::string& b,
                          uint16_t tb) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<uint8_t>(a[i]), y = static_cast<uint8_t>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return ta < tb ? -1 : ta > tb ? 1 : 0;
  if (a.size() < b.size()) return ta < static_cast<uint8_t>(b[n]) ? -1 : 1;
  return tb < static_cast<uint8_t>(a[n]) ? 1 : -1;
}

TEST(RdataKey, BytewiseOrderIsRdataOrder) {
  std::vector<std::pair<std::string, uint16_t>> values;
  const uint16_t types[] = {1, 2, 16, 28, 255, 256, 65280};
  std::mt19937 rng(5);
  for (int i = 0; i < 300; ++i) {
    std::string raw;
    const int len = 1 + static_cast<int>(rng() % 3);
    // Bytes near the type values make the "type as next byte" rule matter.
    const uint8_t bytes[] = {0, 1, 2, 16, 28, 254, 255};
    for (int j = 0; j < len; ++j) raw.push_back(static_cast<char>(bytes[rng() % 7]));
    values.emplace_back(raw, types[rng() % 7]);
  }
  for (const auto& [ra, ta] : values) {
    std::string ka;
    encode_rdata_key(ra, ta, ka);
    for (const auto& [rb, tb] : values) {
      std::string kb;
      encode_rdata_key(rb, tb, kb);
      ASSERT_EQ(sign(ka.compare(kb)), reference_rdata_order(ra, ta, rb, tb));
    }
    std::string back;
    uint16_t t = 0;
    ASSERT_TRUE(decode_rdata_key(ka, back, &t));
    EXPECT_EQ(back, ra);
    EXPECT_EQ(t, ta);
  }
  std::string back;
  uint16_t t;
  EXPECT_FALSE(decode_rdata_key("", back, &t));
  EXPECT_FALSE(decode_rdata_key(std::string("\x05\x01\x00\x01", 4), back, &t));
}

}  // namespace
}  // namespace quarn
