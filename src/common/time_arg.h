// Reading time arguments: the -A / -B bounds of quarnsearch and quarnlookup, and the
// retention bounds of gramforge.
//
// Accepted forms, tried in this order (the first that applies decides):
//   "YYYY-MM-DD HH:MM:SS" and "YYYY-MM-DD"  a UTC calendar time (midnight for the date);
//   "" (empty)                               now;
//   an integer n                             n < 0: n seconds before now; otherwise
//                                            n seconds since 1970 UTC;
//   groups of digits with a unit letter     that long before now, units D (day), H, M
//                                            (minute), S, W (week) in either case, e.g.
//                                            "1d12h" is 36 hours ago.
// Anything else is invalid. Values that would overflow 64-bit seconds are invalid too:
// a wrapped time would silently filter on a nonsense bound.
#pragma once

#include <cstdint>
#include <optional>

namespace quarn {

// Parses text with `now` (seconds since 1970) as the reference for relative forms.
std::optional<int64_t> parse_time_arg(const char* text, int64_t now);

// The same against the current wall-clock time.
std::optional<int64_t> parse_time_arg(const char* text);

}  // namespace quarn
