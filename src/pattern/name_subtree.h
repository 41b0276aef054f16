// The owner-name subtree a pattern's every match lies in, derived from its parsed tree.
//
// Owner-name tables keep a name and all its descendants together (index/name_order.h),
// so a pattern whose every match ends with a literal run of whole labels at the end of
// the key (\.example\.com$, .*\.co\.uk$, the glob *.example.com, (^|\.)example\.com$)
// only needs that run of lines. required_name_subtree finds such a root: every text the
// pattern matches is `root` itself (only when include_root is set) or ends with "." +
// root. The answer is a necessary condition for a match, never a sufficient one: the
// matcher still confirms every line of the run.
//
// Soundness: every alternative of the whole pattern must require the suffix, at the end
// anchor, with nothing after it; the literal must be followed by nothing and preceded
// by a label boundary ('.', or the start of the text for include_root). Matching is
// case-insensitive and stored names are lower case, so the root is the lower-cased
// literal; the caller must still account for keys holding upper-case letters. Literals
// with a blank give no root: a key with a blank sorts by the text before it.
//
// Exact subtrees: for the plainest forms (\.root$ and .*\.root$, the glob *.root, and
// (^|\.)root$) the converse holds too, over keys spelled with the bytes a name can hold
// (letters, digits, '.', '-', '_', '^'): every such key that is root (include_root) or
// ends with "." + root matches, so a run of such keys needs no matcher at all.
//
// Failures: false (out untouched) when no such root can be derived; that only costs
// the shortcut.
#pragma once

#include <string>

#include "pattern/re_elem.h"

namespace quarn {

struct name_subtree {
  std::string root;           // non-empty, lower case, no blank
  bool include_root = false;  // the root name itself may match, not only its descendants
  bool exact = false;         // every name in the subtree matches (see above)
};

bool required_name_subtree(const re_elem& tree, name_subtree* out);

}  // namespace quarn
