#include "output/json_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "output/json_test_util.h"

namespace quarn {
namespace {

using testing_json::LogCapture;
using testing_json::Parsed;
using Keys = std::vector<std::string>;

result_entry rrname_result() {
  result_entry r;
  r.key = "www.example.com";
  r.auxdata = {{1, 12, 1577836800, 1577923200}, {2, 3, 1500000000, 1600000000}};
  return r;
}

result_entry rdata_result(size_t bytes) {
  result_entry r;
  r.key = "192.0.2.1";
  r.auxdata = {{1, 7, 100, 200}};
  r.raw_rdata = std::vector<uint8_t>(bytes);
  for (size_t i = 0; i < bytes; ++i) (*r.raw_rdata)[i] = static_cast<uint8_t>(0xa0 + i);
  return r;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    EXPECT_NE(nl, std::string::npos) << "last line without a line feed";
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

TEST(JsonOutput, RrnameDetailsOneLinePerTypeInOrder) {
  std::string out;
  ASSERT_TRUE(format_json(out, rrname_result(), 0, true));
  std::vector<std::string> lines = split_lines(out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "{\"details\":{\"rrname\":\"www.example.com\",\"rrtype\":\"A\",\"count\":12,"
            "\"time_first\":1577836800,\"time_last\":1577923200}}");

  Parsed ns(lines[1]);
  ASSERT_TRUE(ns.ok()) << lines[1];
  EXPECT_EQ(ns.keys({}), Keys{"details"});
  EXPECT_EQ(ns.keys({"details"}),
            (Keys{"rrname", "rrtype", "count", "time_first", "time_last"}));
  EXPECT_EQ(ns.str({"details", "rrname"}), "www.example.com");
  EXPECT_EQ(ns.str({"details", "rrtype"}), "NS");
  EXPECT_EQ(ns.integer({"details", "count"}), 3);
  EXPECT_EQ(ns.integer({"details", "time_first"}), 1500000000);
  EXPECT_EQ(ns.integer({"details", "time_last"}), 1600000000);
}

TEST(JsonOutput, TerseAndSelector) {
  std::string out;
  ASSERT_TRUE(format_json(out, rrname_result(), 2, false));
  EXPECT_EQ(out, "{\"terse\":{\"rrname\":\"www.example.com\",\"rrtype\":\"NS\"}}\n");

  result_entry r;
  r.key = "x.example";
  r.auxdata = {{65280, 1, 5, 5}};
  out.clear();
  ASSERT_TRUE(format_json(out, r, 0, false));
  EXPECT_EQ(out, "{\"terse\":{\"rrname\":\"x.example\",\"rrtype\":\"TYPE65280\"}}\n");
}

TEST(JsonOutput, RdataDetailsAndTerseCarryUpperCaseRawRdata) {
  std::string out;
  ASSERT_TRUE(format_json(out, rdata_result(3), 0, true));
  EXPECT_EQ(out,
            "{\"details\":{\"rdata\":\"192.0.2.1\",\"rrtype\":\"A\",\"count\":7,"
            "\"time_first\":100,\"time_last\":200,\"raw_rdata\":\"A0A1A2\"}}\n");
  out.clear();
  ASSERT_TRUE(format_json(out, rdata_result(3), 0, false));
  Parsed p(out);
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p.keys({"terse"}), (Keys{"rdata", "rrtype", "raw_rdata"}));
  EXPECT_EQ(p.str({"terse", "raw_rdata"}), "A0A1A2");
}

TEST(JsonOutput, RawRdataLimit) {
  std::string out;
  ASSERT_TRUE(format_json(out, rdata_result(kJsonMaxRawRdata), 0, true));
  Parsed p(out);
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p.str({"details", "raw_rdata"}).size(), 2 * kJsonMaxRawRdata);

  out.clear();
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(format_json(out, rdata_result(kJsonMaxRawRdata + 1), 0, true));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Error: too much rdata to return as raw_rdata\n");
  EXPECT_EQ(out, "");
}

TEST(JsonOutput, MissingElementIsRefused) {
  std::string out;
  const std::string msg =
      "Error: attempted to return json result for entry without matching rrtype!\n";
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(format_json(out, rrname_result(), 15, true));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), msg);

  result_entry empty;
  empty.key = "nothing.example";
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(format_json(out, empty, 0, true));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), msg);
  EXPECT_EQ(out, "");
}

// Bytes of a terse owner-name object of type NS, apart from its key.
size_t terse_ns_overhead() {
  std::string out;
  result_entry r;
  r.auxdata = {{2, 1, 1, 1}};
  EXPECT_TRUE(format_json(out, r, 0, false));
  return out.size() - 1;
}

TEST(JsonOutput, KeysNearTheBufferLimit) {
  const size_t room = kJsonResultBufferSize - 1 - terse_ns_overhead();
  result_entry r;
  r.auxdata = {{1, 1, 1, 1}, {2, 1, 1, 1}};  // the A object is one byte shorter

  r.key.assign(room, 'a');
  std::string out;
  ASSERT_TRUE(format_json(out, r, 0, false));
  std::vector<std::string> lines = split_lines(out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].size(), kJsonResultBufferSize - 1);
  EXPECT_TRUE(Parsed(lines[0]).ok());
  EXPECT_TRUE(Parsed(lines[1]).ok());

  // One byte more: the A object still fits exactly, the NS one is refused alone.
  r.key.push_back('a');
  out.clear();
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(format_json(out, r, 0, false));
  std::string err = ::testing::internal::GetCapturedStderr();
  lines = split_lines(out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].size(), kJsonResultBufferSize - 1);
  EXPECT_EQ(Parsed(lines[0]).str({"terse", "rrtype"}), "A");
  EXPECT_EQ(err, "Error: json result does not fit its 8192-byte buffer, result skipped\n");

  // Escapes that expand the key past the room refuse both elements but leave the
  // writer ready for the next result.
  for (std::string key : {std::string(room / 2 + 1, '"'), std::string(room / 6 + 1, '\x01')}) {
    r.key = key;
    out.clear();
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(format_json(out, r, 0, false));
    err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "");
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
  }
  out.clear();
  ASSERT_TRUE(format_json(out, rrname_result(), 1, true));
  EXPECT_TRUE(Parsed(split_lines(out)[0]).ok());
}

TEST(JsonOutput, InvalidUtf8KeyIsRefusedAndLogged) {
  LogCapture log;
  result_entry r = rrname_result();
  r.key = "bad\xff\xfe.example";
  std::string out;
  EXPECT_FALSE(format_json(out, r, 0, true));
  EXPECT_EQ(out, "");
  EXPECT_NE(log.text().find("Error: function yajl_gen_string() returned 7 {"), std::string::npos)
      << log.text();

  // Control characters and quotes are escaped, and the line parses back to the key.
  r.key = "tab\there \"q\" \\ \x01";
  ASSERT_TRUE(format_json(out, r, 1, false));
  Parsed p(out.substr(0, out.size() - 1));
  ASSERT_TRUE(p.ok()) << out;
  EXPECT_EQ(p.str({"terse", "rrname"}), r.key);
}

TEST(JsonOutput, CountsBeyondSignedRangeStayExact) {
  result_entry r = rrname_result();
  r.auxdata[0].count = UINT64_MAX;
  std::string out;
  ASSERT_TRUE(format_json(out, r, 1, true));
  EXPECT_NE(out.find("\"count\":18446744073709551615,"), std::string::npos) << out;
}

TEST(JsonOutput, PrintWritesLinesToTheStream) {
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(print_json(f, rrname_result(), 0, true));
  std::rewind(f);
  char buf[1024];
  size_t n = std::fread(buf, 1, sizeof buf, f);
  std::fclose(f);
  std::string text(buf, n);
  std::vector<std::string> lines = split_lines(text);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Parsed(lines[0]).str({"details", "rrtype"}), "A");
  EXPECT_EQ(Parsed(lines[1]).str({"details", "rrtype"}), "NS");
}

}  // namespace
}  // namespace quarn
