#include "common/time_arg.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "common/my_time.h"

namespace quarn {
namespace {

// A calendar form counts only when strptime consumes the whole text.
std::optional<int64_t> parse_calendar(const char* text, const char* format) {
  struct tm tm = {};
  const char* end = strptime(text, format, &tm);
  if (end == nullptr || *end != '\0') return std::nullopt;
  return static_cast<int64_t>(timegm(&tm));
}

int64_t unit_seconds(char c) {
  switch (c) {
    case 'd': case 'D': return 86400;
    case 'h': case 'H': return 3600;
    case 'm': case 'M': return 60;
    case 's': case 'S': return 1;
    case 'w': case 'W': return 604800;
    default: return 0;
  }
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// "1d12h" and the like: the number of seconds the groups add up to.
std::optional<int64_t> parse_duration(const char* p) {
  int64_t total = 0;
  while (*p != '\0') {
    if (!is_digit(*p)) return std::nullopt;
    int64_t n = 0;
    while (is_digit(*p)) {
      if (__builtin_mul_overflow(n, 10, &n) || __builtin_add_overflow(n, *p - '0', &n)) {
        return std::nullopt;
      }
      ++p;
    }
    const int64_t unit = unit_seconds(*p);
    if (unit == 0) return std::nullopt;  // missing or unknown unit letter
    ++p;
    int64_t part = 0;
    if (__builtin_mul_overflow(n, unit, &part) || __builtin_add_overflow(total, part, &total)) {
      return std::nullopt;
    }
  }
  return total;
}

}  // namespace

std::optional<int64_t> parse_time_arg(const char* text, int64_t now) {
  if (text == nullptr) return std::nullopt;
  if (auto t = parse_calendar(text, "%F %T")) return t;
  if (auto t = parse_calendar(text, "%F")) return t;
  if (*text == '\0') return now;

  errno = 0;
  char* end = nullptr;
  const long long n = std::strtoll(text, &end, 10);
  if (end != text && *end == '\0') {
    if (errno == ERANGE) return std::nullopt;
    if (n >= 0) return static_cast<int64_t>(n);
    int64_t t = 0;
    if (__builtin_add_overflow(now, static_cast<int64_t>(n), &t)) return std::nullopt;
    return t;
  }
  const auto ago = parse_duration(text);
  if (!ago) return std::nullopt;
  int64_t t = 0;
  if (__builtin_sub_overflow(now, *ago, &t)) return std::nullopt;
  return t;
}

std::optional<int64_t> parse_time_arg(const char* text) {
  return parse_time_arg(text, my_gettime().sec);
}

}  // namespace quarn
