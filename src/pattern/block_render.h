// Patterns for scans over many string-table lines at once.
//
// A table scan hands the matcher a block of whole lines ("key<TAB>annotation" or just a
// key, separated by line feeds) instead of one key at a time. The block rendering of a
// pattern tree means, at every match that ends inside a key (or just past the key's
// tab), exactly what the tree means for that key alone:
//  - classes lose tab and line feed (no key holds either, so no key match changes), so a
//    match never runs across a line feed, nor across a tab except at its very end;
//  - '^' is left to the engine's multi-line mode: start of the block or after a line
//    feed, which is the start of a key;
//  - '$' becomes "a tab, or the engine's multi-line end (before a line feed or at the
//    end of the block)": the end of a key. The tab is consumed, so the caller accepts a
//    match that ends at most one byte past its line's key.
// Matches elsewhere (in annotations) are reported too and dropped by the caller; a
// prefix keeping matches inside keys (^[^\t\n]*) was measured to slow the engine three
// to four times on literals, far more than the dropped reports cost on names.
// A tree has no block rendering when a literal holds a tab or a line feed, or when an
// end anchor is not in tail position (something could follow it in a match, or a
// second end anchor could need the tab the first one consumed); such searches confirm
// lines one by one.
//
// Shortcuts keep scans cheap. A pattern that matches every key needs no matcher at all
// (matches_every_key). And since a key passes when any match lies in it, a leading ^.*
// and a trailing .*$ are dropped (the glob *mail* is then just mail), and a trailing
// unanchored part that can match the empty string is dropped and a trailing repeat cut
// to its minimum: the engine then reports far fewer end offsets per line (.* at the end
// of a pattern would report every byte up to the end of the line).
//
// Both functions are pure; block_render allocates only its result.
#pragma once

#include <string>

#include "pattern/re_elem.h"

namespace quarn {

// True when the tree matches every key (every string without tab or line feed): it can
// match the empty string with at most an anchor at one end, or it is like ^.*$. False
// when unsure.
bool matches_every_key(const re_elem& tree);

// The block rendering of `tree` in the engine's syntax (see above), or false when it
// has none.
bool block_render(const re_elem& tree, std::string* out);

}  // namespace quarn
