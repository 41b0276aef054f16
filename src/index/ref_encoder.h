// Encodes an ascending list of line numbers into 5-byte reference entries (format.h).
//
// Choice per position, greedily: a run of five or more consecutive lines becomes a range
// (REF_START + REF_END, 10 bytes whatever its length); otherwise, right after a plain
// entry or a range end, the next two to four lines become one offset-compression entry
// when their gaps fit one of its layouts (it never swallows the head of a range-worthy
// run); otherwise a plain entry. A compression entry cannot serve as the base of the next
// one, so the pattern for scattered near lines is plain, compressed, plain, compressed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarn {

// Appends the entries for lines[0..n) (strictly ascending, each <= kMaxLineNumber) to
// *out and returns how many entries were appended.
uint64_t encode_ref_list(const uint64_t* lines, size_t n, std::string* out);

// Builds one offset-compression entry for the gaps g[0..k) (k 2-4, each gap >= 1) from
// a base. Returns false when no layout holds them.
bool encode_offsets(const uint64_t* gaps, int k, uint64_t* entry);

}  // namespace quarn
