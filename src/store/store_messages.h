// Every message text of the record store (reader and writer) in one place. Tests and
// scripts match them; the %s is the store file's path unless said otherwise.
#pragma once

namespace quarn::store_msg {

// Opening.
inline constexpr const char* kOpenFailed = "Error: cannot open record store %s: %s";
inline constexpr const char* kNotRegular = "Error: record store %s is not a regular file";
inline constexpr const char* kTooSmall = "Error: record store %s is too small to be one";
inline constexpr const char* kMmapFailed = "Error: cannot map record store %s: %s";
inline constexpr const char* kBadMagic = "Error: %s is not a record store";
inline constexpr const char* kBadVersion = "Error: record store %s has version %u, not 2";
inline constexpr const char* kBadHeader = "Error: record store %s has a damaged header";
inline constexpr const char* kBadLayout = "Error: record store %s: sections outside the file";

// Reading (the file was accepted at open but a block does not check out).
inline constexpr const char* kDamagedNames = "Error: record store %s: damaged name block %llu";
inline constexpr const char* kDamagedValues = "Error: record store %s: damaged value block %llu";
inline constexpr const char* kDamagedRefs = "Error: record store %s: damaged references of value block %llu";
inline constexpr const char* kPagesLost = "Error: record store %s was truncated while being read";

// Writing.
inline constexpr const char* kOutOfOrder = "Error: record store input out of order at name '%s'";
inline constexpr const char* kBadName = "Error: record store cannot hold the owner name '%s'";
inline constexpr const char* kBadRdata = "Error: record store cannot hold an rdata value of %zu bytes";
inline constexpr const char* kBadType = "Error: record store cannot hold record type 0";
inline constexpr const char* kTooManyRecords = "Error: record store holds at most 4294967295 records";
inline constexpr const char* kOverBudget = "Error: record store writer needs more than its memory budget of %llu KiB";
inline constexpr const char* kCreateFailed = "Error: cannot create record store %s: %s";
inline constexpr const char* kWriteFailed = "Error: cannot write record store %s: %s";

}  // namespace quarn::store_msg
