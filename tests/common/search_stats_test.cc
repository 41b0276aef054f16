#include "common/search_stats.h"

#include <gtest/gtest.h>

#include "common/log.h"
#include "support/log_capture.h"

namespace quarn {
namespace {

using quarn::testing::LogCapture;

TEST(SearchStats, AddSumsEveryCounterAndLeavesTimings) {
  SearchStats call;
  call.trigram_matches = 1;
  call.pattern_matches = 2;
  call.bytes_read = 3;
  call.pages_read = 4;
  call.lists_opened = 5;
  call.entries_decoded = 6;
  call.seeks = 7;
  call.results = 8;
  call.start = {9, 0};
  SearchStats total;
  total.add(call);
  total.add(call);
  EXPECT_EQ(total.trigram_matches, 2u);
  EXPECT_EQ(total.pattern_matches, 4u);
  EXPECT_EQ(total.bytes_read, 6u);
  EXPECT_EQ(total.pages_read, 8u);
  EXPECT_EQ(total.lists_opened, 10u);
  EXPECT_EQ(total.entries_decoded, 12u);
  EXPECT_EQ(total.seeks, 14u);
  EXPECT_EQ(total.results, 16u);
  EXPECT_EQ(total.start.sec, 0);
}

TEST(SearchReport, ZeroSearchTimeGivesZeroRatesAndUnsetPointsZeroDurations) {
  LogCapture cap;
  log_set_prefix("%s", "");
  log_set_level(LOG_STAT);
  SearchStats s;
  s.start = {100, 600000000};
  s.pattern_done = {101, 100000000};  // nanosecond borrow
  s.end = {103, 0};
  s.trigram_matches = 7;
  s.bytes_read = 4096;
  s.pages_read = 1;
  print_search_report(s);
  EXPECT_EQ(cap.text(),
            "            Regex: 0.500000 s\n"
            "    First Trigram: 0.000000 s\n"
            "    First Pattern: 0.000000 s\n"
            "Total Search Time: 0.000000 s\n"
            " Total Bytes Read: 4096  (1 pages)\n"
            "  Trigram Matches: 7 (0.000000 /s)\n"
            "  Pattern Matches: 0 (0.000000 /s)\n"
            "          Results: 0 (0.000000 /s)\n"
            "    Total Elapsed: 2.400000 s\n");
}

TEST(SearchReport, RatesUseSearchTimeAndReportNeedsStatLevel) {
  LogCapture cap;
  log_set_prefix("%s", "");
  log_set_level(LOG_INFO);
  SearchStats s;
  print_search_report(s);
  EXPECT_EQ(cap.text(), "");
  log_set_level(LOG_STAT);
  log_rate(LOG_STAT, "          Results", 10, TimePoint{2, 500000000});
  EXPECT_EQ(cap.text(), "          Results: 10 (4.000000 /s)\n");
}

}  // namespace
}  // namespace quarn
