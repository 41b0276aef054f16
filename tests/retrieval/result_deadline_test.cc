// The result deadline: the timeout since the last result, and the probe that ends a
// search producing nothing (a client gone) within its interval.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "retrieval/result_deadline.h"
#include "retrieval/search_context.h"

namespace quarn {
namespace {

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

TEST(ResultDeadline, ProbeAbortsWithinItsInterval) {
  search_context ctx;
  bool gone = false;
  int asked = 0;
  ResultDeadline d(0, ctx, [&] { ++asked; return gone; }, 0.02);
  d.arm();
  sleep_ms(30);
  EXPECT_NO_THROW(ctx.check_deadline());  // asked, still there: carries on
  EXPECT_EQ(asked, 1);
  gone = true;
  sleep_ms(30);
  EXPECT_THROW(ctx.check_deadline(), search_aborted);
  EXPECT_TRUE(d.aborted());
  EXPECT_FALSE(d.timed_out());
}

TEST(ResultDeadline, TimeoutStillEndsASearchWithAProbe) {
  search_context ctx;
  ResultDeadline d(0.5, ctx, [] { return false; }, 0.01);
  d.arm();
  sleep_ms(20);
  EXPECT_NO_THROW(ctx.check_deadline());  // the probe's turn, not the timeout's
  sleep_ms(500);
  EXPECT_THROW(ctx.check_deadline(), search_aborted);
  EXPECT_TRUE(d.timed_out());
  EXPECT_FALSE(d.aborted());
}

// The index steps check often; the clock is read at the first check after the deadline
// is set and then once every stride, so a passed deadline shows at the stride's end.
TEST(ResultDeadline, ClockIsReadOncePerStride) {
  search_context ctx;
  const TimePoint soon = time_add(my_gettime(), TimePoint{0, 2000000});
  ctx.set_deadline(&soon);
  EXPECT_NO_THROW(ctx.check_deadline());
  sleep_ms(5);
  for (uint32_t i = 1; i < kDeadlineCheckStride; ++i) EXPECT_NO_THROW(ctx.check_deadline());
  EXPECT_THROW(ctx.check_deadline(), search_aborted);
}

TEST(ResultDeadline, WithoutTimeoutOrProbeNothingIsArmed) {
  search_context ctx;
  ResultDeadline d(0, ctx);
  d.arm();
  sleep_ms(5);
  EXPECT_NO_THROW(ctx.check_deadline());
  EXPECT_EQ(timeout_duration(1.25).sec, 1);
  EXPECT_EQ(timeout_duration(1.25).nsec, 250000000);
}

}  // namespace
}  // namespace quarn
