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

TEST(OwnerNames, NormalisedSpellingOfDomainNamesOnly) {
  std::string out;
  const char* reason = nullptr;
  EXPECT_TRUE(normalize_owner_name("WWW.Example.COM.", &out, &reason));
  EXPECT_EQ(out, "www.example.com");
  EXPECT_TRUE(normalize_owner_name(".", &out, &reason));
  EXPECT_EQ(out, ".");
  const std::string label63(63, 'a');
  const std::string name253 = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'b');
  for (const std::string& good : {label63 + ".example", name253, name253 + "."}) {
    EXPECT_TRUE(normalize_owner_name(good, &out, &reason)) << good;
  }
  const std::pair<std::string, const char*> bad[] = {
      {"", kReasonBadName},          {"a b.com", kReasonBadName},
      {"a\tb", kReasonBadName},      {std::string("a\0b", 3), kReasonBadName},
      {"a\x7f", kReasonBadName},     {"a..b", kReasonNotDomainName},
      {".a", kReasonNotDomainName},  {"a.b..", kReasonNotDomainName},
      {"..", kReasonNotDomainName},  {std::string(64, 'a') + ".example", kReasonNotDomainName},
      {name253 + "b", kReasonNotDomainName}};
  for (const auto& [name, why] : bad) {
    reason = nullptr;
    EXPECT_FALSE(normalize_owner_name(name, &out, &reason)) << name;
    EXPECT_STREQ(reason, why) << name;
  }
}

// Observation lines around one bad piece: a NUL inside a text, bad rdata elements.
TEST(CofLines, ABadTextSpoilsItsFieldOnly) {
  const std::string tail = R"(,"time_first":10,"time_last":20})";
  struct Case {
    std::string line;
    const char* reason;  // null: accepted
    size_t good, bad;    // rdata elements kept and left out
  };
  const Case cases[] = {
      {R"({"rrname":"www.bank.example\u0000.attacker.net","rrtype":"A","rdata":"192.0.2.1")" + tail,
       kReasonBadName, 0, 0},
      {R"({"rrname":"a.example","rrtype":"A\u0000AAA","rdata":"192.0.2.1")" + tail,
       kReasonUnknownType, 0, 0},
      {R"({"rrname":"a.example","rrtype":"CNAME","rdata":"b.example\u0000.evil.")" + tail,
       kReasonBadRdata, 0, 0},
      {R"({"rrname":"a.example","rrtype":"TXT","rdata":"\"v\u0000x\"")" + tail,
       kReasonBadRdata, 0, 0},
      {R"({"rrname":"a.example","rrtype":"A","rdata":["192.0.2.1","192.0.2.2\u0000x",5,"bad",)"
       R"("192.0.2.3"])" + tail, nullptr, 2, 3},
      {R"({"rrname":"a.example","rrtype":"A","rdata":["bad",null])" + tail, kReasonBadRdata, 0, 2},
      {R"({"rrname\u0000x":"a.example","rrtype":"A","rdata":"192.0.2.1")" + tail,
       kReasonNoName, 0, 0},
  };
  ParsedLine p;
  for (const Case& c : cases) {
    const char* reason = nullptr;
    const ParseStatus st = parse_cof_line(c.line, &p, &reason);
    if (c.reason != nullptr) {
      EXPECT_EQ(st, ParseStatus::kBad) << c.line;
      EXPECT_STREQ(reason, c.reason) << c.line;
      continue;
    }
    ASSERT_EQ(st, ParseStatus::kOk) << c.line;
    EXPECT_EQ(p.name, "a.example");
    EXPECT_EQ(p.name_records.size(), 1u);
    EXPECT_EQ(p.rdata_used, c.good) << c.line;
    EXPECT_EQ(p.rdata_bad, c.bad) << c.line;
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
  // Owner-name keys are spelled as JSON owner names are.
  ASSERT_EQ(parse_raw_line("WWW.Example.COM.\t4:10:1", &p, &reason), ParseStatus::kOk);
  EXPECT_EQ(p.name, "www.example.com");
  EXPECT_EQ(parse_raw_line("a..b\t4:10:1", &p, &reason), ParseStatus::kBad);
  EXPECT_STREQ(reason, kReasonNotDomainName);
  // Raw rdata of a lower-cased type folds its names: 10 MX.A.
  ASSERT_EQ(parse_raw_line("10 mx.a.\t8/000a024d58014100 m:10:1", &p, &reason), ParseStatus::kOk);
  EXPECT_EQ(p.rdata_records[0].raw, std::string("\0\x0a\x02mx\x01" "a", 8));
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
