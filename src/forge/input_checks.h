// Small checks shared by the readers of gramforge's inputs.
//
// starts_with_magic tells whether a path names a regular file whose first bytes are
// `magic`: how index files and record stores among the inputs are recognised. Only
// regular files are opened: peeking into a pipe would eat bytes the observation reader
// needs. Any failure to stat, open or read answers false.
//
// valid_time_range is the rule for an aggregate's times read back from an index line
// or a store record: both are seconds since the epoch above 0 that fit the files'
// 32-bit fields, and the first is not after the last.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace quarn {

bool starts_with_magic(const std::string& path, std::string_view magic);

inline bool time_fits_field(int64_t t) {
  return t > 0 && t <= int64_t{std::numeric_limits<uint32_t>::max()};
}

inline bool valid_time_range(int64_t first, int64_t last) {
  return time_fits_field(first) && time_fits_field(last) && first <= last;
}

}  // namespace quarn
