// Text and raw forms of one search result.
//
// The text form is for people: the key, seven blanks, then "TYPE/count [first / last]"
// per record type (times in local time), tab-separated, one line; an rdata result shows
// its first record type and, on a second tab-indented line, up to 32 bytes of its raw
// rdata in hexadecimal. The raw form writes a result back in the observation grammar of
// the index string tables ("key<TAB>token token ...", written by the grammar's own
// writers in retrieval/annotation.h), so a raw line can be re-indexed or merged again;
// rdata results carry "len/hex " before their single token.
//
// Use: format_text / format_raw append one complete result (ending in a line feed) to
// a caller-owned std::string, which the caller reuses between results so the hot loop
// does not allocate; OutputBuffer (output_buffer.h) batches those strings to a stream.
// The functions only read the result. They never fail: every result_entry, even a
// hand-made one with no auxdata, has a defined text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "retrieval/result_entry.h"

namespace quarn {

// The text form shows at most this many raw rdata bytes; longer values are marked
// "[partial/N bytes]" and cut with "...".
constexpr size_t kTextRdataBytes = 32;

// Appends the text form of r (one line, two for an rdata result) to out.
void format_text(std::string& out, const result_entry& r);

// Appends the raw form of r (one line) to out.
void format_raw(std::string& out, const result_entry& r);

}  // namespace quarn
