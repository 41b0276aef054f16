// Line number to line text for a loaded index, through the sparse line index.
//
// line_lookup(t, n) returns a pointer to the first byte of line n inside t's mapped string
// table (the line runs to the next line feed), or nullptr when the line cannot be reached:
// n past the last line, an entry whose 8 offset bytes are not inside the line index, or
// offsets and steps that point outside the table. It never reads outside the string table
// or the line index, whatever the file holds.
//
// Damage: a recorded position that is not a line start (the first entry's offset is not
// 0, or an offset or step lands inside a line) gives nullptr too, with *damaged set when
// the caller asks; the line index then cannot be trusted for this or any other line. A
// lookup past the end leaves *damaged false. Positions that are line starts but out of
// order (a copied entry) are the caller's to notice: lines asked for in ascending order
// must come back at ascending positions.
//
// Each thread keeps a one-line cache (index serial, last n, its pointer): asking again for
// the same line, or for the next one, costs at most one line-feed search. A random line
// costs the entry's steps plus at most 15 line-feed searches. A 0 step ends the use of
// that entry's steps: the writer keeps counting positions after an unrecorded step, so a
// later step would land on the wrong line.
#pragma once

#include <cstdint>

namespace quarn {

class Tgdb;

const char* line_lookup(const Tgdb& t, uint64_t n, bool* damaged = nullptr);

// The same on bare sections (what the loaded index holds); cache identity is `serial`
// (0 disables the cache). Exposed for tests and for tools working on raw buffers.
const char* line_lookup_sections(uint64_t serial, const char* table, uint64_t table_size,
                                 const uint8_t* line_index, uint64_t line_index_size,
                                 uint64_t n, bool* damaged = nullptr);

}  // namespace quarn
