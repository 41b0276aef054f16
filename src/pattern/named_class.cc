// The twelve bracket-expression class names and their member sets.
#include <cctype>

#include "pattern/re_elem.h"

namespace quarn {

namespace {

class_set members_of(int (*pred)(int)) {
  class_set set;
  // Bytes above 127 belong to no named class, whatever the C library says about them.
  for (int v = 0; v < 128; ++v) {
    if (pred(v)) set.set(static_cast<size_t>(v));
  }
  return set;
}

std::array<named_class, kNamedClassCount> build_named_classes() {
  // The program never calls setlocale, so the classification functions answer for the
  // POSIX locale.
  return {{
      {"[:alnum:]", members_of(isalnum)},
      {"[:alpha:]", members_of(isalpha)},
      {"[:blank:]", members_of(isblank)},
      {"[:cntrl:]", members_of(iscntrl)},
      {"[:digit:]", members_of(isdigit)},
      {"[:graph:]", members_of(isgraph)},
      {"[:lower:]", members_of(islower)},
      {"[:print:]", members_of(isprint)},
      {"[:punct:]", members_of(ispunct)},
      {"[:space:]", members_of(isspace)},
      {"[:upper:]", members_of(isupper)},
      {"[:xdigit:]", members_of(isxdigit)},
  }};
}

}  // namespace

const std::array<named_class, kNamedClassCount>& named_classes() {
  static const std::array<named_class, kNamedClassCount> table = build_named_classes();
  return table;
}

}  // namespace quarn
