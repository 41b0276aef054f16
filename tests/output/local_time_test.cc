#include "output/local_time.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace quarn {
namespace {

// What the fast formatter must reproduce: localtime_r + strftime, or the decimal
// seconds when there is no local time.
std::string reference(int64_t t) {
  char text[64];
  const time_t tt = static_cast<time_t>(t);
  struct tm tm;
  size_t n = 0;
  if (localtime_r(&tt, &tm) != nullptr) n = strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  if (n == 0) return std::to_string(t);
  return std::string(text, n);
}

std::string fast(int64_t t) {
  std::string s = "x";  // appends, never overwrites
  append_local_time(s, t);
  return s.substr(1);
}

// Sets TZ for one test and restores the previous value (and the cache) afterwards.
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    const char* old = std::getenv("TZ");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
    clear_local_time_cache();
  }
  ~ZoneScope() {
    if (had_old_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
    clear_local_time_cache();
  }

 private:
  bool had_old_ = false;
  std::string old_;
};

bool zone_installed(const std::string& zone) {
  struct stat st;
  return stat(("/usr/share/zoneinfo/" + zone).c_str(), &st) == 0;
}

// 1970-01-01 and 2100-01-01.
constexpr int64_t k1970 = 0;
constexpr int64_t k2100 = 4102444800;

// Compares every time, twice: the first call fills the cache, the second reads it.
void expect_same(const std::vector<int64_t>& times, const char* zone) {
  size_t mismatches = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (int64_t t : times) {
      const std::string want = reference(t);
      const std::string got = fast(t);
      if (got != want && ++mismatches <= 10) {
        ADD_FAILURE() << zone << " t=" << t << " pass " << pass << ": got \"" << got << "\", want \"" << want
                      << "\"";
      }
    }
  }
  EXPECT_EQ(mismatches, 0u) << zone;
}

std::vector<int64_t> sample_times() {
  std::vector<int64_t> times;
  std::mt19937_64 rng(12345);
  std::uniform_int_distribution<int64_t> span(k1970, k2100);
  for (int i = 0; i < 20000; ++i) times.push_back(span(rng));
  // Every quarter hour (covers transitions at half and three-quarter hours) across
  // years with DST changes, each with its neighbours.
  for (int64_t t = 1577836800; t < 1577836800 + 2 * 366 * 86400; t += 900) {
    times.push_back(t - 1);
    times.push_back(t);
    times.push_back(t + 1);
  }
  // Times before 1970, including historic offsets that were not whole minutes.
  std::uniform_int_distribution<int64_t> old(-2208988800 * 2, -1);  // back to about 1830
  for (int i = 0; i < 5000; ++i) times.push_back(old(rng));
  for (int64_t t = -7200; t <= 7200; t += 599) times.push_back(t);
  // The far range: the edges of four-digit years, of the fast range, and beyond.
  const int64_t far[] = {
      -62167219200,  -62167219201, -62167219200 + 86400, -30610224000,  // year 0, 1000
      -30610224001,  -30610224000 + 86399,  253402300799, 253402300800,
      253402300799 - 86400, 253402300800 + 86400 * 3, int64_t{1} << 40, -(int64_t{1} << 40),
      int64_t{1} << 56, -(int64_t{1} << 56), std::numeric_limits<int64_t>::max(),
      std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max() - 3599,
      std::numeric_limits<int64_t>::min() + 3599, int64_t{67768036191676799}, int64_t{67768036191676800},
  };
  for (int64_t t : far) times.push_back(t);
  return times;
}

class LocalTimeZones : public ::testing::TestWithParam<const char*> {};

TEST_P(LocalTimeZones, MatchesLocaltimeAndStrftime) {
  const std::string zone = GetParam();
  if (zone != "UTC0" && !zone_installed(zone)) {
    GTEST_SKIP() << "time zone data for " << zone << " is not installed under /usr/share/zoneinfo";
  }
  ZoneScope scope(zone.c_str());
  expect_same(sample_times(), zone.c_str());
}

INSTANTIATE_TEST_SUITE_P(Zones, LocalTimeZones,
                         ::testing::Values("UTC0", "UTC", "Europe/Berlin", "America/New_York",
                                           "Australia/Lord_Howe", "Asia/Kathmandu", "America/St_Johns",
                                           "right/UTC"),  // counts leap seconds
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name;
                           for (const char* p = info.param; *p != '\0'; ++p) {
                             name.push_back(std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_');
                           }
                           return name;
                         });

TEST(LocalTime, KnownTextsAndAppending) {
  ZoneScope scope("UTC0");
  std::string s = "a ";
  append_local_time(s, 1577836800);       // 2020-01-01 00:00:00
  append_local_time(s, 951782400 + 59);   // leap day 2000
  append_local_time(s, -1);
  EXPECT_EQ(s, "a 2020-01-01 00:00:002000-02-29 00:00:591969-12-31 23:59:59");
  // No local time at all: the decimal seconds.
  EXPECT_EQ(fast(std::numeric_limits<int64_t>::max()), std::to_string(std::numeric_limits<int64_t>::max()));
}

// A cache cleared after a zone change must not keep the old zone's offsets; this is
// how anything that changes TZ is expected to use it.
TEST(LocalTime, ClearingTheCacheFollowsAZoneChange) {
  const int64_t t = 1577836800;  // 2020-01-01 00:00:00 UTC
  {
    ZoneScope scope("UTC0");
    EXPECT_EQ(fast(t), "2020-01-01 00:00:00");
  }
  {
    ZoneScope scope("XST-5:45");  // POSIX rule: five hours 45 minutes east of UTC
    EXPECT_EQ(fast(t), "2020-01-01 05:45:00");
    EXPECT_EQ(fast(t), reference(t));
  }
}

}  // namespace
}  // namespace quarn
