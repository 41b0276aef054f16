#include "output/local_time.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

namespace quarn {
namespace {

// Layout of the text; the fast path writes the same 19 characters by hand.
constexpr const char* kLocalTimeFormat = "%Y-%m-%d %H:%M:%S";
constexpr size_t kLocalTimeSize = 19;

constexpr int64_t kSecondsPerHour = 3600;
constexpr int64_t kSecondsPerDay = 86400;
// Outside this range the year cannot be in 1000..9999 for any real zone offset, and hour
// arithmetic cannot overflow; such times always take the slow path.
constexpr int64_t kFastMin = -62167219200 - 2 * kSecondsPerDay;  // 0000-01-01 minus 2 days
constexpr int64_t kFastMax = 253402300799 + 2 * kSecondsPerDay;  // 9999-12-31 plus 2 days

// Direct-mapped cache of per-hour offsets, one slot per hour modulo the table size.
// Results arrive in key order, so their times jump around the whole span the data
// covers; the table holds about fifteen years of hours, so a typical data set fills
// each slot once. It is allocated on first use (zeroed pages, touched only where used)
// rather than as a thread-local array, which would enlarge every thread's static TLS.
// A slot packs its tag and offset into 32 bits, which keeps the table (512 KiB) within
// the second-level cache; a lookup that misses every cache level costs more than the
// rest of the formatting.
constexpr unsigned kSlotBits = 17;
constexpr size_t kCacheSlots = size_t{1} << kSlotBits;
// Adding this makes every hour of the fast range positive and below 2^27.
constexpr int64_t kHourBias = int64_t{1} << 25;
// Offsets lie in (-86400, 86400); biased they fit 18 bits and are never 0, so an offset
// field of 0 marks an hour that must take the slow path.
constexpr unsigned kOffsetBits = 18;
constexpr int64_t kOffsetBias = int64_t{1} << 17;
constexpr uint32_t kOffsetMask = (uint32_t{1} << kOffsetBits) - 1;
constexpr uint32_t kSlowField = 0;
// The tag is the biased hour's bits above the slot index, plus one so that a zeroed
// (empty) slot never matches: at most 11 bits.
inline uint32_t hour_tag(int64_t biased_hour) {
  return static_cast<uint32_t>(biased_hour >> kSlotBits) + 1;
}
using HourSlot = uint32_t;
thread_local std::unique_ptr<HourSlot[]> g_cache;

// Days in the date cache's tags are biased so that a zeroed slot never matches a day.
constexpr int64_t kTagBias = int64_t{1} << 30;

struct Civil {
  int64_t year;
  unsigned month, day, hour, minute, second;
};

int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// Civil date and time of day of `local` seconds since 1970-01-01 00:00:00 (proleptic
// Gregorian): days are shifted to eras of 400 years starting on March 1st.
Civil civil_from_seconds(int64_t local) {
  const int64_t days = floor_div(local, kSecondsPerDay);
  const int64_t secs = local - days * kSecondsPerDay;
  const int64_t z = days + 719468;
  const int64_t era = floor_div(z, 146097);
  const int64_t doe = z - era * 146097;                                  // [0, 146096]
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);           // [0, 365]
  const int64_t mp = (5 * doy + 2) / 153;                                // [0, 11]
  Civil c;
  c.day = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
  c.month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
  c.year = yoe + era * 400 + (c.month <= 2 ? 1 : 0);
  c.hour = static_cast<unsigned>(secs / 3600);
  c.minute = static_cast<unsigned>(secs / 60 % 60);
  c.second = static_cast<unsigned>(secs % 60);
  return c;
}

// True if localtime_r gave exactly the fields the arithmetic derives from t + offset.
bool agrees(const struct tm& tm, int64_t t, int64_t offset) {
  const Civil c = civil_from_seconds(t + offset);
  return tm.tm_year + int64_t{1900} == c.year && tm.tm_mon + 1u == c.month &&
         static_cast<unsigned>(tm.tm_mday) == c.day && static_cast<unsigned>(tm.tm_hour) == c.hour &&
         static_cast<unsigned>(tm.tm_min) == c.minute && static_cast<unsigned>(tm.tm_sec) == c.second;
}

// The zone's offset at the start of an hour (its first second), packed with the hour's
// tag; the offset field is kSlowField when localtime_r fails there, the offset is out of
// range, or the local fields there do not agree with the arithmetic (leap-second zones).
// An hour is then taken to hold one offset when its start and the next hour's start give
// the same usable offset: each start serves two hours, so a data set that touches most
// hours of its span costs about one localtime_r per hour rather than two.
HourSlot fill_slot(int64_t hour, uint32_t tag) {
  const HourSlot slow = (tag << kOffsetBits) | kSlowField;
  const int64_t first = hour * kSecondsPerHour;
  const time_t tf = static_cast<time_t>(first);
  struct tm a;
  if (localtime_r(&tf, &a) == nullptr) return slow;
  const int64_t offset = a.tm_gmtoff;
  // Real zones stay within a day of UTC; anything else is not worth trusting.
  if (offset <= -kSecondsPerDay || offset >= kSecondsPerDay) return slow;
  if (!agrees(a, first, offset)) return slow;
  return (tag << kOffsetBits) | static_cast<uint32_t>(offset + kOffsetBias);
}

// The packed start-of-hour slot of a biased hour, filled when it holds another hour.
inline HourSlot hour_start(int64_t biased) {
  HourSlot& slot = g_cache[static_cast<uint64_t>(biased) & (kCacheSlots - 1)];
  const uint32_t tag = hour_tag(biased);
  if ((slot >> kOffsetBits) != tag) slot = fill_slot(biased - kHourBias, tag);
  return slot;
}

void append_slow(std::string& out, int64_t t) {
  char text[64];
  const time_t tt = static_cast<time_t>(t);
  struct tm tm;
  size_t n = 0;
  if (localtime_r(&tt, &tm) != nullptr) n = strftime(text, sizeof text, kLocalTimeFormat, &tm);
  if (n == 0) n = static_cast<size_t>(std::snprintf(text, sizeof text, "%lld", static_cast<long long>(t)));
  out.append(text, n);
}

void put2(char* p, unsigned v) {
  p[0] = static_cast<char>('0' + v / 10);
  p[1] = static_cast<char>('0' + v % 10);
}

// Text "YYYY-MM-DD" of local days, cached direct-mapped by day number: the calendar
// arithmetic then runs once per distinct day rather than once per printed time. A day
// whose year strftime would pad differently (outside 1000..9999) is marked unusable.
constexpr size_t kDateSize = 10;
constexpr size_t kDateSlots = 4096;  // about eleven years of days, 64 KiB
struct DaySlot {
  int32_t tag = 0;  // day + kTagBias, or 0 when empty
  bool usable = false;
  char text[kDateSize] = {};
};
thread_local std::unique_ptr<DaySlot[]> g_dates;  // allocated on first use, like g_cache

void fill_date(DaySlot& slot, int64_t day) {
  slot.tag = static_cast<int32_t>(day + kTagBias);
  const Civil c = civil_from_seconds(day * kSecondsPerDay);
  slot.usable = c.year >= 1000 && c.year <= 9999;
  if (!slot.usable) return;
  const unsigned y = static_cast<unsigned>(c.year);
  put2(slot.text, y / 100);
  put2(slot.text + 2, y % 100);
  slot.text[4] = '-';
  put2(slot.text + 5, c.month);
  slot.text[7] = '-';
  put2(slot.text + 8, c.day);
}

}  // namespace

void append_local_time(std::string& out, int64_t t) {
  if (t < kFastMin || t > kFastMax) {
    append_slow(out, t);
    return;
  }
  const int64_t hour = floor_div(t, kSecondsPerHour);
  const int64_t biased = hour + kHourBias;
  if (!g_cache) g_cache = std::make_unique<HourSlot[]>(kCacheSlots);
  const uint32_t field = hour_start(biased) & kOffsetMask;
  if (field == kSlowField || field != (hour_start(biased + 1) & kOffsetMask)) {
    append_slow(out, t);
    return;
  }
  const int64_t local = t + (static_cast<int64_t>(field) - kOffsetBias);
  const int64_t day = floor_div(local, kSecondsPerDay);
  if (!g_dates) g_dates = std::make_unique<DaySlot[]>(kDateSlots);
  DaySlot& date = g_dates[static_cast<uint64_t>(day) % kDateSlots];
  if (date.tag != static_cast<int32_t>(day + kTagBias)) fill_date(date, day);
  // strftime's padding of years below 1000 differs between C libraries; leave those
  // (and five-digit years) to it.
  if (!date.usable) {
    append_slow(out, t);
    return;
  }
  // Written in place: assembling the text on the stack and copying it costs a stalled
  // wide load of freshly written bytes.
  const size_t at = out.size();
  out.resize(at + kLocalTimeSize);
  char* text = out.data() + at;
  std::memcpy(text, date.text, kDateSize);
  const unsigned secs = static_cast<unsigned>(local - day * kSecondsPerDay);
  text[10] = ' ';
  put2(text + 11, secs / 3600);
  text[13] = ':';
  put2(text + 14, secs / 60 % 60);
  text[16] = ':';
  put2(text + 17, secs % 60);
}

void clear_local_time_cache() {
  g_cache.reset();
  // Dates do not depend on the zone; they go too so that a cleared cache is all cleared.
  g_dates.reset();
}

}  // namespace quarn
