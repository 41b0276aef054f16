#include "retrieval/rdata_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/strfmt.h"
#include "support/log_capture.h"
#include "retrieval/records_messages.h"

namespace quarn {
namespace {

using testing::LogCapture;

std::vector<uint8_t> wire_name(const std::string& dotted) {
  std::vector<uint8_t> out;
  size_t start = 0;
  while (start < dotted.size()) {
    size_t dot = dotted.find('.', start);
    if (dot == std::string::npos) dot = dotted.size();
    out.push_back(static_cast<uint8_t>(dot - start));
    out.insert(out.end(), dotted.begin() + start, dotted.begin() + dot);
    start = dot + 1;
  }
  out.push_back(0);
  return out;
}

std::vector<uint8_t> cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<uint8_t> char_strings(std::initializer_list<std::string> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) {
    out.push_back(static_cast<uint8_t>(p.size()));
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

std::optional<std::string> text_of(uint16_t type, const std::vector<uint8_t>& rdata) {
  std::string out = "stale";
  auto n = rdata_to_text(type, rdata, &out);
  if (!n) {
    EXPECT_EQ(out, "");
    return std::nullopt;
  }
  EXPECT_EQ(*n, out.size());
  return out;
}

TEST(RdataText, CommonTypes) {
  EXPECT_EQ(text_of(1, {192, 0, 2, 1}), "192.0.2.1");
  EXPECT_EQ(text_of(28, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}),
            "2001:db8::1");
  EXPECT_EQ(text_of(2, wire_name("ns1.example.com")), "ns1.example.com.");
  EXPECT_EQ(text_of(5, wire_name("target.example.net")), "target.example.net.");
  EXPECT_EQ(text_of(15, cat({0, 10}, wire_name("mail.example.com"))), "10 mail.example.com.");
  EXPECT_EQ(text_of(16, char_strings({"v=spf1 -all"})), "\"v=spf1 -all\"");
  EXPECT_EQ(text_of(33, cat({0, 1, 0, 5, 0x13, 0xc4}, wire_name("sip.example.com"))),
            "1 5 5060 sip.example.com.");
  EXPECT_EQ(text_of(13, char_strings({"INTEL", "Linux"})), "\"INTEL\" \"Linux\"");
}

TEST(RdataText, SoaGivesTheTwoNames) {
  const std::vector<uint8_t> tail(20, 1);  // serial, refresh, retry, expire, minimum
  EXPECT_EQ(text_of(6, cat(cat(wire_name("ns1.example.com"), wire_name("hostmaster.example.com")),
                           tail)),
            "ns1.example.com. hostmaster.example.com.");
  // Root and root says nothing; one root name is fine.
  EXPECT_EQ(text_of(6, cat({0, 0}, tail)), std::nullopt);
  EXPECT_EQ(text_of(6, cat(cat({0}, wire_name("a.example")), tail)), ". a.example.");
  // No bytes after the first name, or a broken second name.
  EXPECT_EQ(text_of(6, wire_name("ns1.example.com")), std::nullopt);
  EXPECT_EQ(text_of(6, cat(wire_name("ns1.example.com"), {5, 'a'})), std::nullopt);
  EXPECT_EQ(text_of(6, {}), std::nullopt);
}

TEST(RdataText, SizeLimitsAndEmptyValues) {
  {
    LogCapture log(LOG_DETAIL);
    EXPECT_EQ(text_of(16, {0}), std::nullopt);
    EXPECT_EQ(log.text(), std::string(kMsgShortEmptyRdata) + "\n");
  }
  {
    LogCapture log(LOG_DETAIL);
    std::vector<uint8_t> big = char_strings({std::string(255, 'x')});
    big.push_back(0);  // 257 bytes
    EXPECT_EQ(text_of(16, big), std::nullopt);
    EXPECT_EQ(log.text(), str_fmt(kFmtLongRdataValue, 16u, size_t{257}) + "\n");
  }
  {
    // 1 + 255 = 256 bytes is a value short enough, but its text (quotes added) is not.
    LogCapture log(LOG_DETAIL);
    EXPECT_EQ(text_of(16, char_strings({std::string(255, 'x')})), std::nullopt);
    EXPECT_EQ(log.text(), str_fmt(kFmtLongRdataString, 16u, size_t{257}) + "\n");
  }
  // 254 characters plus the two quotes make exactly 256: kept.
  EXPECT_EQ(text_of(16, char_strings({std::string(254, 'x')}))->size(), 256u);
  EXPECT_EQ(text_of(16, {}), std::nullopt);
}

TEST(RdataText, UndecodableValuesAreSkippedWithAMessage) {
  LogCapture log(LOG_DEBUG);
  EXPECT_EQ(text_of(1, {192, 0, 2}), std::nullopt);
  EXPECT_EQ(text_of(15, {0, 10, 0xc0, 0x00}), std::nullopt);
  EXPECT_EQ(log.text(), str_fmt(kFmtRdataParseError, 1u) + "\n" +
                            str_fmt(kFmtRdataParseError, 15u) + "\n");
}

TEST(RdataText, RefusedAnyAnswersAreSkipped) {
  EXPECT_EQ(text_of(13, char_strings({"RFC8482", "draft-ietf-dnsop-refuse-any"})), std::nullopt);
  EXPECT_EQ(text_of(13, char_strings({"ANY obsoleted", "See draft-quorby-dnsop-refuse-any"})),
            std::nullopt);
  EXPECT_EQ(text_of(13, char_strings({"RFC8482", ""})), std::nullopt);
  // The published form is the whole answer, not a suffix of one.
  EXPECT_TRUE(text_of(13, char_strings({"xRFC8482", ""})).has_value());
  EXPECT_TRUE(text_of(13, char_strings({"RFC8482", "Linux"})).has_value());
  // Only at the end of a HINFO text, and only for HINFO.
  EXPECT_TRUE(text_of(13, char_strings({"draft-ietf-dnsop-refuse-any", "x"})).has_value());
  EXPECT_TRUE(text_of(16, char_strings({"draft-ietf-dnsop-refuse-any"})).has_value());
}

TEST(RdataText, HostNamesAreLowerCasedOnce) {
  LogCapture log(LOG_DEBUG);
  EXPECT_EQ(text_of(15, cat({0, 10}, wire_name("Mail.EXAMPLE.com"))), "10 mail.example.com.");
  EXPECT_EQ(log.text(), str_fmt(kFmtMixedCaseRdata, "10 Mail.EXAMPLE.com.") + "\n");
  EXPECT_EQ(text_of(2, wire_name("NS1.Example.com")), "ns1.example.com.");
  EXPECT_EQ(text_of(5, wire_name("WWW.example.com")), "www.example.com.");
  // Other types keep their case.
  EXPECT_EQ(text_of(16, char_strings({"Hello"})), "\"Hello\"");
  EXPECT_EQ(text_of(12, wire_name("Host.Example")), "Host.Example.");
}

TEST(RdataText, ControlBytesAreEscapedInEveryType) {
  EXPECT_EQ(text_of(16, char_strings({"tab\tsep"})), "\"tab\\009sep\"");
  EXPECT_EQ(text_of(13, char_strings({"a\nb", "\x7f"})), "\"a\\010b\" \"\\127\"");
  // Whatever a type's printer makes of tabs, line feeds and carriage returns in its
  // fields, they never reach a key text raw.
  const std::vector<std::vector<uint8_t>> values = {
      char_strings({"a\tb", "\n"}), {'\t', '\n', '\r', 0, 9, 10, 13, 9},
      cat({0, 10}, {3, 'a', '\t', 'b', 0}), {3, 'a', '\n', 'b', 0},
      cat({0, 1, 0, 5, 0x13, 0xc4}, {2, '\t', '\n', 0}), std::vector<uint8_t>(16, 9)};
  std::vector<uint16_t> types = {32768, 32769, 65280};
  for (uint16_t type = 1; type < 300; ++type) types.push_back(type);
  for (uint16_t type : types) {
    for (const auto& v : values) {
      std::string out;
      if (!rdata_to_text(type, v, &out)) continue;
      EXPECT_EQ(out.find_first_of("\t\n\r"), std::string::npos) << type << ": " << out;
    }
  }
}

TEST(RdataText, NameCaseFoldsInTheWireFormOfLowerCasedTypes) {
  auto folded = [](uint16_t type, std::vector<uint8_t> rdata) {
    fold_rdata_name_case(type, rdata);
    return rdata;
  };
  EXPECT_EQ(folded(15, cat({0, 'A'}, wire_name("MAIL.Example.COM"))),
            cat({0, 'A'}, wire_name("mail.example.com")));
  EXPECT_EQ(folded(2, wire_name("NS1.Example")), wire_name("ns1.example"));
  EXPECT_EQ(folded(5, wire_name("WWW.X")), wire_name("www.x"));
  // Other types keep their bytes; so do a pointer and a truncated label.
  EXPECT_EQ(folded(12, wire_name("Host.Example")), wire_name("Host.Example"));
  EXPECT_EQ(folded(16, char_strings({"ABC"})), char_strings({"ABC"}));
  EXPECT_EQ(folded(2, {1, 'A', 0xc0, 'B'}), std::vector<uint8_t>({1, 'a', 0xc0, 'B'}));
  EXPECT_EQ(folded(2, {1, 'A', 5, 'B'}), std::vector<uint8_t>({1, 'a', 5, 'B'}));
}

}  // namespace
}  // namespace quarn
