#include "output/status_message.h"

#include <gtest/gtest.h>

#include "output/json_test_util.h"

namespace quarn {
namespace {

using testing_json::LogCapture;
using testing_json::Parsed;

TEST(StatusMessage, StandardTextsAndUnknownCodes) {
  // Clients compare the texts verbatim, the doubled word of 803 included.
  EXPECT_EQ(build_status_message(kStatusGlobSyntax),
            "{\"fin\":803,\"msg\":\"globbing expression contained contained syntax error\"}");
  EXPECT_STREQ(status_text(kStatusOk), "OK");
  // 810 is always sent with its own text; it has no standard one.
  for (int code : {810, 503, 0, -1}) EXPECT_STREQ(status_text(code), "unknown error code") << code;
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
