// Every message text of the lookup library in one place; callers print them as they are.
#pragma once

namespace quarn::lookup_msg {

inline constexpr const char* kBadName = "Error: invalid owner name '%s'";
inline constexpr const char* kBadValue = "Error: '%s' is not the text of an rdata value";
inline constexpr const char* kBadValueOfType = "Error: '%s' is not the text of a %s value";
inline constexpr const char* kBadPrefix = "Error: invalid address prefix '%s'";
inline constexpr const char* kPrefixType = "Error: an address prefix matches A or AAAA values only, not %s";
inline constexpr const char* kNoStores = "Error: no record store to look up";

}  // namespace quarn::lookup_msg
