#include "retrieval/annotation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/log_capture.h"
#include "retrieval/records_messages.h"

namespace quarn {
namespace {

using testing::LogCapture;

TEST(Annotation, LetterTableBothWays) {
  for (const auto& e : rrtype_letter_table) {
    EXPECT_EQ(rrtype_letter(e.rrtype), e.letter) << e.mnemonic;
    EXPECT_EQ(rrtype_of_letter(e.letter), e.rrtype) << e.mnemonic;
  }
  EXPECT_EQ(rrtype_letter(3), '\0');
  EXPECT_EQ(rrtype_letter(100), '\0');
  EXPECT_EQ(rrtype_letter(257), '\0');
  EXPECT_EQ(rrtype_of_letter('z'), 0);
  EXPECT_EQ(rrtype_of_letter('\xff'), 0);
}

TEST(Annotation, TypeCodes) {
  struct Case {
    const char* token;
    uint16_t type;
  } cases[] = {
      {"4", 1},         {"4:10", 1},       {"6:1", 28},      {"0:", 10},     // letters win
      {"2:10", 2},      {"2", 0},          {"12", 0},         {"12:", 12},    // digits need ":"
      {"n", 2},         {"N:1", 35},       {"S:", 99},        {"T", 52},
      {"1234567:", 0},  {"65535:", 65535}, {"0065535:", 65535},   {"65536:", 0},  // 16-bit range
      {"12345678:", 0}, {"0000001:", 1},   {"00:", 0},        {":", 0},
      {"", 0},          {"z", 0},          {"z:1", 0},        {"nx:1", 0},
      {"1a:", 0},       {"-1:", 0},        {"+5:", 0},        {" 4:", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_type_code(c.token), c.type) << c.token;
}

TEST(Annotation, RrnameTokensOfEveryShape) {
  std::vector<rrtype_summary> out;
  ASSERT_EQ(parse_rrname_annotation("4:5e0be100,15180:3 n:5e0be100:1", &out), 2u);
  EXPECT_EQ(out[0], (rrtype_summary{1, 3, 1577836800, 1577923200}));
  EXPECT_EQ(out[1], (rrtype_summary{2, 1, 1577836800, 1577836800}));

  // Upper-case hex, decimal types, a bare letter, no count, trailing line feed.
  ASSERT_EQ(parse_rrname_annotation("  65280:AbC:FF 4 m:10\nnext line", &out), 3u);
  EXPECT_EQ(out[0], (rrtype_summary{65280, 255, 0xabc, 0xabc}));
  EXPECT_EQ(out[1], (rrtype_summary{1, 0, 0, 0}));
  EXPECT_EQ(out[2], (rrtype_summary{15, 0, 16, 16}));

  // Times 0 written out explicitly, and an empty times field, both read as time 0.
  ASSERT_EQ(parse_rrname_annotation("4:0:5 c::7", &out), 2u);
  EXPECT_EQ(out[0], (rrtype_summary{1, 5, 0, 0}));
  EXPECT_EQ(out[1], (rrtype_summary{5, 7, 0, 0}));
}

TEST(Annotation, RrnameRejectsAnyBadToken) {
  const char* bad[] = {
      "",                         // nothing
      "\n4:1:1",                  // the annotation ends before the token
      "4:1:1  n:1:1",             // two blanks make an empty token
      "4:1:1 ",                   // trailing blank
      "4:1:1 q:1:1",              // unknown letter spoils the whole list
      "4:xyz:1",                  // times not hex
      "4:1,:1",                   // empty difference
      "4:1:1:1",                  // count with trailing text
      "4:1:g",                    // count not hex
      "4:11111111111111111:1",    // 17 hex digits
      "4:8000000000000000:1",     // time past the signed 64-bit range
      "4:7fffffffffffffff,1:1",   // time_first + difference overflows
      "4:0x10:1",                 // no prefixes
  };
  std::vector<rrtype_summary> out;
  for (const char* text : bad) {
    out.assign(1, rrtype_summary{9, 9, 9, 9});
    EXPECT_EQ(parse_rrname_annotation(text, &out), 0u) << '"' << text << '"';
    EXPECT_TRUE(out.empty()) << text;
  }
}

TEST(Annotation, RdataAnnotation) {
  rdata_annotation a;
  const std::string text = "4/c0000201 4:5e0be100,15180:3";
  ASSERT_TRUE(parse_rdata_annotation(text, &a));
  EXPECT_EQ(a.raw_start, 0u);
  EXPECT_EQ(a.raw_length, 10u);
  EXPECT_EQ(a.rrtype, 1);
  EXPECT_EQ(a.count, 3u);
  EXPECT_EQ(a.time_first, 1577836800u);
  EXPECT_EQ(a.time_last, 1577923200u);

  // No raw prefix; upper-case digits; no count; leading blanks.
  ASSERT_TRUE(parse_rdata_annotation("  28:ABCDEF\n", &a));
  EXPECT_EQ(a.raw_length, 0u);
  EXPECT_EQ(a.rrtype, 28);
  EXPECT_EQ(a.count, 0u);
  EXPECT_EQ(a.time_first, 0xabcdefu);
  EXPECT_EQ(a.time_last, 0xabcdefu);

  ASSERT_TRUE(parse_rdata_annotation(" 2/ABcd s:1:2", &a));
  EXPECT_EQ(a.raw_start, 1u);
  EXPECT_EQ(a.raw_length, 6u);
  EXPECT_EQ(a.rrtype, 6);
}

TEST(Annotation, RdataAnnotationFailures) {
  const char* bad[] = {
      "",                       // empty
      "\n4:1:1",                // starts with a line feed
      "4/c000020 4:1:1",        // one digit short
      "4/c000020101 4:1:1",     // two digits too many: no blank after the prefix
      "4/c00002zz 4:1:1",       // not hex
      "0/ 4:1:1",               // length 0
      "123456789012345/00 4:1", // length field over 14 characters
      "x4/c0000201 4:1:1",      // length not decimal
      "4/c0000201  4:1:1",      // two blanks
      "4/c0000201 4",           // a ":" must follow the type code
      "4/c0000201 12 4:1",      // not a type code
      "4/c0000201",             // no token at all
      "4:1,:1",                 // empty difference
      "4:1g:1",                 // trailing characters in the times
      "4:100000000:1",          // time beyond 32 bits
      "4:ffffffff,1:1",         // last time beyond 32 bits
      "4:1:1x",                 // count not hex
      "plain text",             // neither ":" nor "/"
  };
  for (const char* text : bad) {
    rdata_annotation a;
    EXPECT_FALSE(parse_rdata_annotation(text, &a)) << '"' << text << '"';
  }
}

TEST(Annotation, RdataSecondTokenIsLoggedAndRejected) {
  rdata_annotation a;
  {
    LogCapture log(LOG_ERROR);
    EXPECT_FALSE(parse_rdata_annotation("4/c0000201 4:10:1 6:10:1", &a));
    EXPECT_EQ(log.text(), std::string(kMsgMultiSpace) + "\n");
  }
  {
    LogCapture log(LOG_ERROR);
    EXPECT_FALSE(parse_rdata_annotation("4:10: 6:10:1", &a));  // blank right after ":"
    EXPECT_EQ(log.text(), std::string(kMsgMultiSpace) + "\n");
  }
}

TEST(Annotation, RawRdata) {
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(parse_raw_rdata("4/C00002fF 4:1:1", &bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0xc0, 0x00, 0x02, 0xff}));
  // Exactly the digits at the end of the text are enough.
  ASSERT_TRUE(parse_raw_rdata("1/0a", &bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x0a}));

  const char* bad[] = {"", "4", "/00", "0/", "4/c00002", "4/c00002\n01", "2/0g00",
                       "123456789012345/00", "99999999999999/00", "a/00"};
  for (const char* text : bad) {
    bytes.assign(3, 1);
    EXPECT_FALSE(parse_raw_rdata(text, &bytes)) << '"' << text << '"';
    EXPECT_TRUE(bytes.empty()) << text;
  }
}

TEST(Annotation, WriteMergesSortedLists) {
  const std::vector<rrtype_summary> a = {
      {1, 3, 100, 200}, {15, 1, 50, 50}, {65280, 2, 10, 20}};
  const std::vector<rrtype_summary> b = {
      {1, 2, 50, 150}, {2, 1, 0x5e0be100, 0x5e0be100}, {65280, 1, 5, 30}, {65534, 1, 7, 0}};
  std::string out = "key";
  write_annotation(a, b, out);
  // A: counts add, earliest first, latest last (first 50 = 0x32, last 200 = 0xc8).
  EXPECT_EQ(out, "key\t4:32,96:5 n:5e0be100:1 m:32:1 65280:5,19:3 65534:7:1");

  std::string bare;
  write_annotation(a, {}, bare, /*no_leading_tab=*/true);
  EXPECT_EQ(bare, "4:64,64:3 m:32:1 65280:a,a:2");
  std::string none;
  write_annotation({}, {}, none);
  EXPECT_EQ(none, "");
}

TEST(Annotation, WrittenAnnotationsReadBack) {
  // Includes the awkward cases: time 0 with a count, count 0, no difference.
  const std::vector<rrtype_summary> a = {{1, 5, 0, 0}, {13, 0, 3, 3}, {28, 1, 0, 9}};
  // Type 4 has no letter but its digit is the letter of A.
  const std::vector<rrtype_summary> b = {{4, 1, 2, 2}, {6, 2, 1, 4}, {300, 7, 0x5e0be100, 0x5e0cab00}};
  std::string text;
  write_annotation(a, b, text);
  ASSERT_EQ(text[0], '\t');
  std::vector<rrtype_summary> back;
  ASSERT_EQ(parse_rrname_annotation(std::string_view(text).substr(1), &back), 6u);
  const std::vector<rrtype_summary> want = {
      {1, 5, 0, 0}, {4, 1, 2, 2}, {6, 2, 1, 4}, {13, 0, 3, 3}, {28, 1, 0, 9}, {300, 7, 0x5e0be100, 0x5e0cab00}};
  EXPECT_EQ(back, want);
}

TEST(Annotation, LastTab) {
  EXPECT_EQ(last_tab(""), 0u);
  EXPECT_EQ(last_tab("no tab"), 0u);
  EXPECT_EQ(last_tab("a\tb\tc"), 3u);
  EXPECT_EQ(last_tab("\t"), 0u);
}

}  // namespace
}  // namespace quarn
