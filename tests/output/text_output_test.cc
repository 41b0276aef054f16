#include "output/text_output.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "output/local_time.h"
#include "output/output_buffer.h"
#include "retrieval/annotation.h"

namespace quarn {
namespace {

// 2020-01-01 00:00:00 UTC.
constexpr int64_t kT0 = 1577836800;

class TextOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    clear_local_time_cache();
  }
  static std::string text(const result_entry& r) {
    std::string s;
    format_text(s, r);
    return s;
  }
  static std::string raw(const result_entry& r) {
    std::string s;
    format_raw(s, r);
    return s;
  }
  static result_entry rdata_result(size_t length) {
    result_entry r;
    r.key = "v";
    r.auxdata = {{16, 3, kT0, kT0 + 60}};
    r.raw_rdata.emplace();
    for (size_t i = 0; i < length; ++i) r.raw_rdata->push_back(static_cast<uint8_t>(i * 7));
    return r;
  }
};

TEST_F(TextOutput, OwnerNameResultsListEveryType) {
  result_entry r;
  r.key = "www.example.com";
  r.auxdata = {{1, 12, kT0, kT0 + 86400}, {2, 3, kT0, kT0}, {65280, 1, kT0, kT0}};
  EXPECT_EQ(text(r),
            "www.example.com       A/12 [2020-01-01 00:00:00 / 2020-01-02 00:00:00]\t"
            "NS/3 [2020-01-01 00:00:00 / 2020-01-01 00:00:00]\t"
            "TYPE65280/1 [2020-01-01 00:00:00 / 2020-01-01 00:00:00]\n");
  EXPECT_EQ(raw(r), "www.example.com\t4:5e0be100,15180:c n:5e0be100:3 65280:5e0be100:1\n");

  r.auxdata.clear();
  EXPECT_EQ(text(r), "www.example.com       \n");
  EXPECT_EQ(raw(r), "www.example.com\t\n");
}

TEST_F(TextOutput, RdataResultsShowAtMost32Bytes) {
  result_entry r = rdata_result(40);
  std::string hex;
  for (size_t i = 0; i < 32; ++i) {
    char b[3];
    std::snprintf(b, sizeof b, "%.2x", (*r.raw_rdata)[i]);
    hex += b;
  }
  EXPECT_EQ(text(r),
            "v       TXT/3 [2020-01-01 00:00:00 / 2020-01-01 00:01:00]\n\t[partial/40 bytes] " + hex +
                "...\n");

  r = rdata_result(32);
  r.wildcard = true;
  EXPECT_EQ(text(r), "v       TXT/3 [2020-01-01 00:00:00 / 2020-01-01 00:01:00]\n\t[wildcard] " + hex + "\n");

  // Only the first element of an rdata result is shown, in both forms.
  r = rdata_result(4);
  r.auxdata.push_back({1, 9, kT0, kT0});
  EXPECT_EQ(text(r), "v       TXT/3 [2020-01-01 00:00:00 / 2020-01-01 00:01:00]\n\t00070e15\n");
  EXPECT_EQ(raw(r), "v\t4/00070e15 t:5e0be100,3c:3\n");
}

TEST_F(TextOutput, RawLinesReadBackAsObservationText) {
  result_entry r;
  r.key = "mail.example.org";
  r.auxdata = {{1, 5, kT0, kT0}, {28, 0x123456789ull, 7, 70000}, {257, 1, kT0, kT0 + 1}, {4, 2, 9, 9}};
  const std::string line = raw(r);
  // Type 4 has no letter, and a lone "4" would be A: it is written "04".
  EXPECT_EQ(line, "mail.example.org\t4:5e0be100:5 6:7,11169:123456789 257:5e0be100,1:1 04:9:2\n");
  std::vector<rrtype_summary> back;
  ASSERT_EQ(parse_rrname_annotation(line.substr(line.find('\t') + 1), &back), 4u);
  EXPECT_EQ(back, r.auxdata);

  // A last time before the first is left out rather than written as a negative
  // difference that no reader accepts.
  r.auxdata = {{1, 1, 100, 50}};
  EXPECT_EQ(raw(r), "mail.example.org\t4:64:1\n");

  const result_entry d = rdata_result(5);
  const std::string dline = raw(d);
  const std::string annotation = dline.substr(dline.find('\t') + 1);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(parse_raw_rdata(annotation, &bytes));
  EXPECT_EQ(bytes, *d.raw_rdata);
  rdata_annotation a;
  ASSERT_TRUE(parse_rdata_annotation(annotation, &a));
  EXPECT_EQ(a.rrtype, 16);
  EXPECT_EQ(a.count, 3u);
  EXPECT_EQ(a.time_first, kT0);
  EXPECT_EQ(a.time_last, kT0 + 60);
}

TEST(OutputBuffer, KeepsOrderAndReportsFailedWrites) {
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  {
    OutputBuffer out(f);
    std::string big(kOutputFlushBytes - 3, 'x');
    out.append("first\n");
    out.append(big);  // crosses the threshold: written out in order
    out.append("last\n");
    EXPECT_TRUE(out.flush());
    EXPECT_FALSE(out.failed());
  }
  std::rewind(f);
  std::string back(kOutputFlushBytes + 16, '\0');
  back.resize(std::fread(back.data(), 1, back.size(), f));
  EXPECT_EQ(back, "first\n" + std::string(kOutputFlushBytes - 3, 'x') + "last\n");
  std::fclose(f);

  FILE* full = std::fopen("/dev/full", "w");
  if (full == nullptr) GTEST_SKIP() << "no /dev/full";
  OutputBuffer out(full);
  out.append("lost\n");
  EXPECT_FALSE(out.flush());
  EXPECT_TRUE(out.failed());
  std::fclose(full);
}

}  // namespace
}  // namespace quarn
