#include "common/time_arg.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

// A fixed "now" keeps relative forms exact.
constexpr int64_t kNow = 1700000000;

TEST(TimeArg, CalendarFormsAreUtc) {
  EXPECT_EQ(parse_time_arg("2020-01-02", kNow), 1577923200);
  EXPECT_EQ(parse_time_arg("2020-01-02 03:04:05", kNow), 1577923200 + 3 * 3600 + 4 * 60 + 5);
  // Trailing text is not a calendar time, nor a duration.
  EXPECT_EQ(parse_time_arg("2020-01-02x", kNow), std::nullopt);
  EXPECT_EQ(parse_time_arg("2020-01-02 03:04", kNow), std::nullopt);
}

TEST(TimeArg, IntegersAreAbsoluteOrSecondsAgo) {
  EXPECT_EQ(parse_time_arg("1600000000", kNow), 1600000000);
  EXPECT_EQ(parse_time_arg("0", kNow), 0);
  EXPECT_EQ(parse_time_arg("-3600", kNow), kNow - 3600);
  EXPECT_EQ(parse_time_arg("", kNow), kNow);
  EXPECT_EQ(parse_time_arg("99999999999999999999", kNow), std::nullopt);
}

TEST(TimeArg, DurationsCountBackFromNow) {
  EXPECT_EQ(parse_time_arg("1d", kNow), kNow - 86400);
  EXPECT_EQ(parse_time_arg("90m", kNow), kNow - 90 * 60);
  EXPECT_EQ(parse_time_arg("2w3d", kNow), kNow - 17 * 86400);
  EXPECT_EQ(parse_time_arg("1d12h", kNow), kNow - 36 * 3600);
  EXPECT_EQ(parse_time_arg("1D12H30M15S", kNow), kNow - (36 * 3600 + 30 * 60 + 15));
  EXPECT_EQ(parse_time_arg("1W", kNow), kNow - 604800);
}

TEST(TimeArg, MalformedDurationsAreRejected) {
  for (const char* bad : {"5x", "1d2", "d", "1dd", "-1d", "1 d", "1d ", "x1d", "1.5h",
                          "99999999999999999999d", "9999999999999999w"}) {
    EXPECT_EQ(parse_time_arg(bad, kNow), std::nullopt) << bad;
  }
}

TEST(TimeArg, WallClockFormUsesNow) {
  const auto t = parse_time_arg("1h");
  ASSERT_TRUE(t.has_value());
  EXPECT_GT(*t, kNow);  // later than this test was written, minus an hour
}

}  // namespace
}  // namespace quarn
