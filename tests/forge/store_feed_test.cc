// The record-store feed hands every entry to its thread in order and reports the
// consumer's failure to the caller.
#include "forge/store_feed.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarn {
namespace {

std::string key_of(int i) { return "k" + std::to_string(i) + std::string(i % 300, 'x'); }

TEST(StoreFeedTest, EntriesArriveInOrderAndAFailureReachesTheCaller) {
  std::vector<std::string> seen;  // touched by the feeding thread until finish()
  {
    StoreFeed feed([&](std::string_view k, std::string_view v, std::string*) {
      seen.push_back(std::string(k) + "=" + std::string(v));
      return true;
    });
    std::string error;
    for (int i = 0; i < 20000; ++i) {
      ASSERT_TRUE(feed.add(key_of(i), std::string(i % 256, 'v'), &error));
    }
    ASSERT_TRUE(feed.finish(&error)) << error;
  }
  ASSERT_EQ(seen.size(), 20000u);
  for (int i = 0; i < 20000; i += 997) {
    EXPECT_EQ(seen[i], key_of(i) + "=" + std::string(i % 256, 'v'));
  }

  int consumed = 0;
  StoreFeed failing([&](std::string_view, std::string_view, std::string* error) {
    if (++consumed < 100) return true;
    *error = "writer full";
    return false;
  });
  std::string error;
  bool refused = false;
  for (int i = 0; i < 20000 && !refused; ++i) refused = !failing.add(key_of(i), "v", &error);
  EXPECT_TRUE(refused);
  EXPECT_EQ(error, "writer full");
  error.clear();
  EXPECT_FALSE(failing.finish(&error));
  EXPECT_EQ(error, "writer full");
  EXPECT_EQ(consumed, 100);  // nothing after the failure
}

}  // namespace
}  // namespace quarn
