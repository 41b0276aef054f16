// The run of an owner-name string table that holds a name's subtree.
//
// Owner-name lines are sorted by name_order, which keeps a name and all its
// descendants together, so the lines whose names lie in a subtree (pattern/
// name_subtree.h) form one run; find_subtree_run locates it by bisecting the line
// index and walking at most one line-index entry's lines at each end, so it reads a
// few dozen lines, not the table.
//
// The run must hold every line a search could match, or the search would lose
// results. find_subtree_run therefore declines (returns false: search the usual way)
// whenever the file cannot promise that:
//  - keys with a blank inside them: name_order sorts them by the text before the
//    blank, and their text after it may end with the suffix. A blank folds into the
//    trigram alphabet's "other" symbol, and the writer lists every byte of a key in
//    three of its trigrams, so a key holding a blank puts a reference into some list
//    of a trigram with that symbol. The test asks for no more than that: any such
//    list with a reference in it declines, wherever the symbol stands and whatever
//    byte made it (a wildcard '*' too). Coarse, but it does not depend on how '^'
//    or the padding around a key fold;
//  - keys spelling the root's labels with upper-case letters: matching ignores case
//    but the order does not, so they sit elsewhere. One bisection per letter of the
//    root shows that no line lies in any of their runs;
//  - a line index it cannot use (damage), or more lines between two line-index
//    entries than one entry covers (a table out of order).
// What is left is the order's own promise: the run is exact for a sorted table.
//
// Reads only the string table, the line index and the trigram table; allocates only
// the upper-case test's probe texts, a few per call.
// Uses the thread's line-lookup cache.
#pragma once

#include <cstdint>

#include "pattern/name_subtree.h"

namespace quarn {

class Tgdb;

struct subtree_run {
  uint64_t first_line = 0;      // first line of the run
  uint64_t end_line = 0;        // one past its last line (== first_line: empty run)
  const char* begin = nullptr;  // first byte of the run in the mapped string table
  const char* end = nullptr;    // one past the line feed of its last line
  uint64_t lines() const { return end_line - first_line; }
};

// True with *run set when the run of the subtree is known to hold every line whose
// key lies in it or could match a pattern requiring it (see above); false otherwise,
// and also when the run holds more than max_lines lines (a caller with no use for it).
bool find_subtree_run(const Tgdb& index, const name_subtree& subtree, subtree_run* run,
                      uint64_t max_lines = UINT64_MAX);

// True when some key of the index may hold a blank: some trigram holding the "other"
// symbol (any byte but letters, digits, '.', '-', '_' and '^') has references.
bool keys_may_hold_blank(const Tgdb& index);

}  // namespace quarn
