// Value and record order of the record store; see value_order.h.
#include "store/value_order.h"

#include <cstring>

#include "index/name_order.h"

namespace quarn {

int value_order(std::string_view raw_a, uint16_t type_a, std::string_view raw_b,
                uint16_t type_b) {
  const size_t n = raw_a.size() < raw_b.size() ? raw_a.size() : raw_b.size();
  if (n > 0) {
    const int c = std::memcmp(raw_a.data(), raw_b.data(), n);
    if (c != 0) return c < 0 ? -1 : 1;
  }
  if (raw_a.size() == raw_b.size()) return type_a < type_b ? -1 : (type_a > type_b ? 1 : 0);
  // One value is a proper prefix of the other: the shorter one's type competes with the
  // longer one's next byte, and a tie goes to the longer value.
  const bool a_shorter = raw_a.size() < raw_b.size();
  const uint16_t type = a_shorter ? type_a : type_b;
  const unsigned next = static_cast<uint8_t>(a_shorter ? raw_b[n] : raw_a[n]);
  const int shorter_first = type < next ? -1 : 1;
  return a_shorter ? shorter_first : -shorter_first;
}

int record_order(std::string_view name_a, uint16_t type_a, std::string_view raw_a,
                 std::string_view name_b, uint16_t type_b, std::string_view raw_b) {
  const int c = name_order(name_a, name_b);
  if (c != 0) return c;
  if (type_a != type_b) return type_a < type_b ? -1 : 1;
  return value_order(raw_a, type_a, raw_b, type_b);
}

}  // namespace quarn
