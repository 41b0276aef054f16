#include "common/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/log_capture.h"

namespace quarn {
namespace {

using quarn::testing::LogCapture;

TEST(Log, LevelNamesAndParsing) {
  EXPECT_STREQ(log_level_name(0), "failure");
  EXPECT_STREQ(log_level_name(6), "trace");
  EXPECT_STREQ(log_level_name(7), "<invalid>");
  EXPECT_STREQ(log_level_name(-1), "<invalid>");
  EXPECT_EQ(log_parse_level("DEBUG"), 4);
  EXPECT_EQ(log_parse_level("Stat"), 3);
  EXPECT_EQ(log_parse_level("verbose"), -1);
  EXPECT_EQ(log_parse_level(""), -1);
}

TEST(Log, LevelFilteringAndSetterBounds) {
  LogCapture cap;
  log_set_prefix("prog");
  log_set_level(LOG_INFO);
  QLOG(LOG_DEBUG, "hidden %d", 1);
  QLOG(LOG_INFO, "shown %d", 2);
  log_write(log_get_level(), "Starting, logging level '%s'", log_level_name(log_get_level()));
  for (int i = 0; i < 7; ++i) log_set_level(log_get_level() + 1);
  EXPECT_EQ(log_get_level(), LOG_TRACE);
  log_set_level(-1);
  EXPECT_EQ(log_get_level(), LOG_TRACE);
  EXPECT_EQ(cap.text(), "prog: shown 2\nprog: Starting, logging level 'info'\n");
}

TEST(Log, PrefixIsCutAndEmptyPrefixHasNoColon) {
  LogCapture cap;
  log_set_level(LOG_INFO);
  log_set_prefix("%s", std::string(50, 'x').c_str());
  EXPECT_EQ(std::string(log_get_prefix()), std::string(37, 'x') + ": ");
  log_set_prefix("%s", "");
  EXPECT_STREQ(log_get_prefix(), "");
  QLOG(LOG_INFO, "bare");
  EXPECT_EQ(cap.text(), "bare\n");
}

TEST(Log, PushInheritsAndPopRestores) {
  LogCapture cap;
  log_set_level(LOG_INFO);
  log_set_prefix("outer");
  {
    LogScope scope;
    EXPECT_STREQ(log_get_prefix(), "outer: ");
    log_set_prefix("search-%u", 1u);
    log_set_level(LOG_DEBUG);
    QLOG(LOG_INFO, "Dispatching search: [%s]", "abc");
  }
  EXPECT_STREQ(log_get_prefix(), "outer: ");
  EXPECT_EQ(log_get_level(), LOG_INFO);
  QLOG(LOG_DEBUG, "hidden again");
  EXPECT_EQ(cap.text(), "search-1: Dispatching search: [abc]\n");
}

}  // namespace
}  // namespace quarn
