#include "forge/input_record.h"

#include <gtest/gtest.h>
#include <ldns/ldns.h>

#include <string>

namespace quarn {
namespace {

// The zone parser's wire form of a presentation text, or "" when it refuses it.
std::string zone_parser_wire(uint16_t type, const std::string& text) {
  const std::string rr = ". 0 IN TYPE" + std::to_string(type) + " " + text;
  ldns_rr* parsed = nullptr;
  if (ldns_rr_new_frm_str(&parsed, rr.c_str(), 0, nullptr, nullptr) != LDNS_STATUS_OK) return "";
  ldns_buffer* buf = ldns_buffer_new(64);
  ldns_rr_rdata2buffer_wire(buf, parsed);
  std::string out(reinterpret_cast<const char*>(ldns_buffer_begin(buf)), ldns_buffer_position(buf));
  ldns_buffer_free(buf);
  ldns_rr_free(parsed);
  return out;
}

TEST(RdataFromText, AddressShortcutAgreesWithTheZoneParser) {
  const std::pair<uint16_t, const char*> cases[] = {
      {1, "192.0.2.1"},  {1, "0.0.0.0"},   {1, "255.255.255.255"}, {1, "1.2.3"},
      {1, "01.2.3.4"},   {1, "1.2.3.4 ; c"}, {1, "256.1.1.1"},     {1, " 1.2.3.4"},
      {28, "2001:db8::1"}, {28, "::"},     {28, "::ffff:1.2.3.4"}, {28, "2001:db8::g"},
      {28, "1:2:3:4:5:6:7:8:9"}, {28, "2001:DB8::A"}};
  for (const auto& [type, text] : cases) {
    std::string wire;
    const bool ok = rdata_from_text(type, text, &wire);
    const std::string want = zone_parser_wire(type, text);
    EXPECT_EQ(ok, !want.empty()) << text;
    if (ok) {
      EXPECT_EQ(wire, want) << text;
    }
  }
}

TEST(OwnerNames, NormalisedSpelling) {
  std::string out;
  EXPECT_TRUE(normalize_owner_name("WWW.Example.COM.", &out));
  EXPECT_EQ(out, "www.example.com");
  EXPECT_TRUE(normalize_owner_name(".", &out));
  EXPECT_EQ(out, ".");
  for (const char* bad : {"", "a b.com", "a\tb", "a\x01" "b", "a\x7f"}) {
    EXPECT_FALSE(normalize_owner_name(bad, &out)) << bad;
  }
}

TEST(RawLines, OwnerAndRdataLinesAreToldApart) {
  ParsedLine p;
  const char* reason = nullptr;
  // An owner name whose annotation holds a "/" later on is still an owner-name line.
  ASSERT_EQ(parse_raw_line("a/b.example\t4:10:1", &p, &reason), ParseStatus::kOk);
  EXPECT_EQ(p.name, "a/b.example");
  EXPECT_EQ(p.rdata_used, 0u);
  ASSERT_EQ(p.name_records.size(), 1u);
  EXPECT_EQ(p.name_records[0].rrtype, 1);
  ASSERT_EQ(parse_raw_line("1.2.3.4\t4/01020304 4:10,5:2", &p, &reason), ParseStatus::kOk);
  EXPECT_TRUE(p.name.empty());
  ASSERT_EQ(p.rdata_used, 1u);
  EXPECT_EQ(p.rdata_records[0].raw, std::string("\x01\x02\x03\x04", 4));
  EXPECT_EQ(p.rdata_records[0].value.last, 0x15u);
  EXPECT_EQ(p.rdata_records[0].value.count, 2u);
  // Two tokens on an rdata line, a raw length that disagrees with its digits.
  EXPECT_EQ(parse_raw_line("x\t4/01020304 4:10:1 4:10:1", &p, &reason), ParseStatus::kBad);
  EXPECT_EQ(parse_raw_line("x\t3/01020304 4:10:1", &p, &reason), ParseStatus::kBad);
  EXPECT_EQ(parse_raw_line("no tab here", &p, &reason), ParseStatus::kBad);
  EXPECT_STREQ(reason, kReasonNoTab);
  EXPECT_EQ(parse_raw_line("\t4:10:1", &p, &reason), ParseStatus::kBad);
}

TEST(CofLines, CountsAndTimesAtTheirLimits) {
  ParsedLine p;
  const char* reason = nullptr;
  const std::string head = R"({"rrname":"a.","rrtype":"A","rdata":"192.0.2.1",)";
  EXPECT_EQ(parse_cof_line(head + R"("time_first":5,"count":18446744073709551615})", &p, &reason),
            ParseStatus::kBad);
  EXPECT_STREQ(reason, kReasonCountTooLarge);
  EXPECT_EQ(parse_cof_line(head + R"("time_first":5,"count":-1})", &p, &reason), ParseStatus::kBad);
  EXPECT_STREQ(reason, kReasonBadCount);
  // One time alone stands for both.
  ASSERT_EQ(parse_cof_line(head + R"("time_first":5})", &p, &reason), ParseStatus::kOk);
  EXPECT_EQ(p.name_records[0].value.last, 5u);
  EXPECT_EQ(parse_cof_line(head + R"("count":1})", &p, &reason), ParseStatus::kBad);
  EXPECT_STREQ(reason, kReasonNoTime);
}

}  // namespace
}  // namespace quarn
