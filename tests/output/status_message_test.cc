#include "output/status_message.h"

#include <gtest/gtest.h>

#include "output/json_test_util.h"

namespace quarn {
namespace {

using testing_json::LogCapture;
using testing_json::Parsed;

TEST(StatusMessage, TableTexts) {
  const std::pair<int, const char*> table[] = {
      {200, "OK"},
      {400, "required parameter was missing from request"},
      {404, "search executed successfully but returned no results"},
      {416, "parameter had illegal type"},
      {500, "internal server error occurred"},
      {504, "search timed out waiting for results"},
      {801, "regular expression contained syntax error"},
      {802, "regular expression character specification not supported"},
      {803, "globbing expression contained contained syntax error"},
      {804, "globbing expression character specification not supported"},
      {805, "query message contained invalid search method"},
      {806, "query message contained invalid search scope"},
      {807, "query message contained invalid return option"},
      {808, "query message contained invalid rrtype"},
      {809, "query message contained invalid limit"},
      {811, "exclude string contained syntax error"},
      {810, "unknown error code"},
      {503, "unknown error code"},
      {0, "unknown error code"},
      {-1, "unknown error code"},
  };
  for (const auto& [code, text] : table) {
    EXPECT_STREQ(status_text(code), text) << code;
    EXPECT_EQ(build_status_message(code),
              std::string("{\"fin\":") + std::to_string(code) + ",\"msg\":\"" + text + "\"}");
  }
}

TEST(StatusMessage, CallerTextIsEscapedOrRefused) {
  std::string msg = build_status_message(810, "value \"x\"\nis too long");
  Parsed p(msg);
  ASSERT_TRUE(p.ok()) << msg;
  EXPECT_EQ(p.integer({"fin"}), 810);
  EXPECT_EQ(p.str({"msg"}), "value \"x\"\nis too long");

  // Longer than any result object: the status text has no fixed limit.
  std::string long_text(20000, 'x');
  EXPECT_EQ(Parsed(build_status_message(500, long_text.c_str())).str({"msg"}), long_text);

  LogCapture log;
  EXPECT_EQ(build_status_message(500, "bad \xc3\x28 text"), "ERROR");
  EXPECT_NE(log.text().find("Error: function yajl_gen_string() returned 7"), std::string::npos);
}

}  // namespace
}  // namespace quarn
