#include "retrieval/rrkit.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "retrieval/records_messages.h"

namespace quarn {
namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string name_of(uint16_t t) {
  char buf[kRrtypeNameSize];
  return rrtype_name(t, buf);
}

TEST(Rrkit, MnemonicsRoundTripInAnyCase) {
  int named = 0;
  for (unsigned t = 0; t <= 65535; ++t) {
    const char* name = rrkit_rrtype_to_str(static_cast<uint16_t>(t));
    if (name == nullptr) {
      EXPECT_EQ(name_of(static_cast<uint16_t>(t)), "TYPE" + std::to_string(t));
      continue;
    }
    ++named;
    EXPECT_EQ(rrkit_str_to_rrtype(name), t) << name;
    EXPECT_EQ(rrkit_str_to_rrtype(lower(name).c_str()), t) << name;
    EXPECT_EQ(name_of(static_cast<uint16_t>(t)), name);
  }
  EXPECT_GT(named, 50);  // the common registry is there
  EXPECT_STREQ(rrkit_rrtype_to_str(1), "A");
  EXPECT_STREQ(rrkit_rrtype_to_str(15), "MX");
  EXPECT_STREQ(rrkit_rrtype_to_str(28), "AAAA");
  EXPECT_EQ(rrkit_rrtype_to_str(0), nullptr);
  EXPECT_EQ(rrkit_rrtype_to_str(65280), nullptr);
  EXPECT_EQ(name_of(65280), "TYPE65280");
  EXPECT_EQ(name_of(65535), "TYPE65535");
}

TEST(Rrkit, NamesThatAreNoType) {
  EXPECT_EQ(rrkit_str_to_rrtype("any"), kRrtypeAny);
  EXPECT_EQ(rrkit_str_to_rrtype("Any"), kRrtypeAny);
  EXPECT_EQ(rrkit_str_to_rrtype("TYPE65280"), 65280);
  EXPECT_EQ(rrkit_str_to_rrtype("type12"), 12);
  for (const char* none : {"", "bogus", "A ", "TYPE", "TYPE65536", "TYPE99999", "TYPE1x",
                           "TYPE-1", "TYPE123456"})
    EXPECT_EQ(rrkit_str_to_rrtype(none), 0) << '"' << none << '"';
  EXPECT_EQ(rrkit_str_to_rrtype(nullptr), 0);
}

TEST(Rrkit, RdataPresentation) {
  const std::vector<uint8_t> a = {192, 0, 2, 1};
  EXPECT_EQ(rrkit_rdata_to_str(a.data(), a.size(), 1), "192.0.2.1");
  const std::vector<uint8_t> aaaa = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(rrkit_rdata_to_str(aaaa.data(), aaaa.size(), 28), "2001:db8::1");
  const std::vector<uint8_t> txt = {2, 'h', 'i', 3, 'a', '"', 'b'};
  EXPECT_EQ(rrkit_rdata_to_str(txt.data(), txt.size(), 16), "\"hi\" \"a\\\"b\"");

  // Wrong length, trailing bytes, a compression pointer: marked, not guessed.
  for (size_t len : {size_t{3}, size_t{5}}) {
    std::vector<uint8_t> v(len, 1);
    auto text = rrkit_rdata_to_str(v.data(), v.size(), 1);
    ASSERT_TRUE(text.has_value());
    EXPECT_NE(text->find(kRrkitParseError), std::string::npos);
  }
  const std::vector<uint8_t> ptr = {0xc0, 0x00};
  auto text = rrkit_rdata_to_str(ptr.data(), ptr.size(), 12);
  ASSERT_TRUE(text.has_value());
  EXPECT_NE(text->find(kRrkitParseError), std::string::npos);
}

// Service parameters are checked before printing: malformed ones are marked, never
// handed to a printer that could stop the process on them.
TEST(Rrkit, ServiceParameters) {
  // priority 1, target ".", alpn "h2", port 443
  const std::vector<uint8_t> https = {0, 1, 0, 0, 1, 0, 3, 2, 'h', '2', 0, 3, 0, 2, 0x01, 0xbb};
  auto good = rrkit_rdata_to_str(https.data(), https.size(), 65);
  ASSERT_TRUE(good.has_value());
  EXPECT_EQ(*good, "1 . key1=\"\\002h2\" key3=\"\\001\\187\"");

  const std::vector<std::vector<uint8_t>> bad = {
      {0, 1, 0, 0, 0, 0, 0, 0},                   // empty mandatory list
      {0, 1, 0, 0, 3, 0, 2, 0, 1, 0, 1, 0, 2, 0, 1},  // keys not ascending
      {0, 1, 0, 0, 1, 0, 2, 5, 'h'},              // alpn string longer than its value
      {0, 1, 0, 0, 3, 0, 3, 1, 2, 3},             // port of three bytes
      {0, 1, 0, 0, 0, 0},                          // truncated key header
  };
  for (const auto& v : bad) {
    for (uint16_t type : {uint16_t{64}, uint16_t{65}}) {
      auto text = rrkit_rdata_to_str(v.data(), v.size(), type);
      ASSERT_TRUE(text.has_value());
      EXPECT_NE(text->find(kRrkitParseError), std::string::npos) << *text;
    }
  }
  // Values the fuzzer found, both once fatal inside the library's printer: zero-filled
  // parameters ending in an odd key, and a long mandatory list of unusual keys.
  {
    const std::vector<uint8_t> mandatory = {
        0, 0, 0, 0, 0, 0, 128, 16, 0, 0, 0, 0, 93, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 252, 252, 252, 252, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 74, 0};
    auto text = rrkit_rdata_to_str(mandatory.data(), mandatory.size(), 65);
    ASSERT_TRUE(text.has_value());
  }
  std::vector<uint8_t> found(126, 0);
  found[124] = 0x4a;
  auto text = rrkit_rdata_to_str(found.data(), found.size(), 65);
  ASSERT_TRUE(text.has_value());
}

TEST(Rrkit, DomainNames) {
  const std::vector<uint8_t> name = {3, 'w', 'w', 'w', 7, 'E', 'x', 'a', 'm', 'p', 'l', 'e', 0, 99};
  std::string out;
  EXPECT_EQ(rrkit_domain_to_str(name.data(), name.size(), &out), 13);
  EXPECT_EQ(out, "www.Example.");
  const uint8_t root[] = {0};
  EXPECT_EQ(rrkit_domain_to_str(root, 1, &out), 1);
  EXPECT_EQ(out, ".");
  // Truncated names, a label running past the end, an empty input.
  EXPECT_EQ(rrkit_domain_to_str(name.data(), 12, &out), 0);
  EXPECT_EQ(out, "");
  const uint8_t overlong[] = {9, 'a', 'b'};
  EXPECT_EQ(rrkit_domain_to_str(overlong, sizeof overlong, &out), 0);
  EXPECT_EQ(rrkit_domain_to_str(root, 0, &out), 0);
}

}  // namespace
}  // namespace quarn
