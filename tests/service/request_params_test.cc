// URL parameters into query requests, and the keys file: the checks that an HTTP round
// trip would hide.
#include <gtest/gtest.h>

#include "service/api_keys.h"
#include "service/request_params.h"

namespace quarn {
namespace {

UrlParams base() {
  return {{"search_method", "regex"}, {"search_what", "rrnames"}, {"return_what", "terse"},
          {"value", "a\"b\\c"}, {"rrtype", "A"}, {"limit", "007"}};
}

TEST(RequestParams, BecomeTheSameRequestAsAMessage) {
  UrlParams p = base();
  p.emplace("offset", "+5");
  p.emplace("time_first_after", "-3");
  p.emplace("limit", "9");  // a second value does not count
  query_request r;
  ASSERT_FALSE(request_from_params(p, r));
  EXPECT_EQ(r.value, "a\"b\\c");
  EXPECT_EQ(r.limit, 7u);
  EXPECT_EQ(r.offset, 5u);
  EXPECT_TRUE(r.time_first_after_set);
  EXPECT_EQ(r.time_first_after, -3);
  EXPECT_EQ(r.rrtype, 1);
}

TEST(RequestParams, NumbersThatAreNotIntegersAreIllegal) {
  for (const char* bad : {"1.5", "", "x", "99999999999999999999", "-", "1e3"}) {
    UrlParams p = base();
    p.erase("limit");
    p.emplace("limit", bad);
    query_request r;
    auto fin = request_from_params(p, r);
    ASSERT_TRUE(fin) << bad;
    EXPECT_EQ(*fin, "{\"fin\":416,\"msg\":\"parameter had illegal type\"}") << bad;
  }
}

TEST(RequestParams, TimeoutIsClamped) {
  EXPECT_EQ(request_timeout({}, 3, 9), 3);
  EXPECT_EQ(request_timeout({{"timeout", "0.5"}}, 3, 9), 0.5);
  EXPECT_EQ(request_timeout({{"timeout", "50"}}, 3, 9), 9);
  EXPECT_EQ(request_timeout({{"timeout", "-1"}}, 3, 9), 3);
}

TEST(ApiKeysFile, NamesKeysAndRefusesEmptyOnes) {
  std::string error;
  auto keys = ApiKeys::from_text("# c\n\nalice: k1 \nk2\n", &error);
  ASSERT_TRUE(keys) << error;
  EXPECT_EQ(*keys->find("k1"), "alice");
  EXPECT_EQ(*keys->find("k2"), "key4");
  EXPECT_EQ(keys->find("k"), nullptr);
  EXPECT_EQ(keys->find(""), nullptr);
  EXPECT_FALSE(ApiKeys::from_text("bob:\n", &error));
  EXPECT_EQ(error, "line 1 holds an empty key");
  EXPECT_FALSE(ApiKeys::from_text("# only\n", &error));
  EXPECT_EQ(bearer_token("Bearer  abc "), "abc");
  EXPECT_EQ(bearer_token("Basic abc"), "");
}

}  // namespace
}  // namespace quarn
