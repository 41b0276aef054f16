// The pattern tree: one `re_elem` node per element of a parsed search expression.
//
// Both parsers (pattern/parse.h) build this tree; the renderer (pattern/render.h) turns it
// back into regular-expression text for the matcher (pattern/matcher.h); the planner reads
// and rewrites it to derive trigram queries.
//
// Kinds: a sequence matches its children one after another; a group matches any one of
// its children (its alternatives); a literal matches its text; a class matches one byte
// out of a 256-bit set. Every node has a repetition {min_repeat, max_repeat}
// (REPEAT_MAX means unbounded) and two anchor flags.
//
// Ownership: each node owns its children through unique_ptr; whoever holds the root
// re_elem_ptr owns the whole tree. Literal text is stored without any terminator and
// is always read as exactly `text`.
//
// Canonical form. Trees built only through sequence_add / group_add / rep_start /
// anchor_start / anchor_end (which is what the parsers do) keep these invariants:
//  - a sequence never has a sequence child (added sequences are spliced in);
//  - two {1,1} literals are never adjacent in a sequence (the second is appended to
//    the first);
//  - a class with exactly one member in 0..254 never stands in a sequence (it becomes a
//    one-byte literal with the same repetition); a class holding only byte 255 stays;
//  - anchors of an element added to a sequence move onto the sequence; only sequences
//    and elements hoisted out of one-child sequences or groups carry anchors;
//  - a sequence's own repetition is {1,1};
//  - a group has at least one alternative, and never two childless sequences with equal
//    anchor flags;
//  - literals whose repetition is not {1,1} hold exactly one character;
//  - min_repeat <= max_repeat <= REPEAT_MAX.
//
// Failures: building operations return false with a positioned error text for anything
// the user typed; structural misuse (wrong node kind passed in) is a programming error
// and stops the program through QUARN_CHECK. Positions are byte offsets from 0.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarn {

enum re_elem_type : uint32_t {
  re_elem_sequence = 0,
  re_elem_group = 1,
  re_elem_class = 2,
  re_elem_literal = 3,
};

// Repetition bound meaning "unbounded"; no larger bound can be stored.
constexpr uint32_t REPEAT_MAX = 65535;

// Membership set of a class: bit v set means byte value v is a member.
using class_set = std::bitset<256>;

struct re_elem;
using re_elem_ptr = std::unique_ptr<re_elem>;

struct re_elem {
  re_elem_type type = re_elem_sequence;
  bool start_anchor = false;  // anchored at the start of the text ('^')
  bool end_anchor = false;    // anchored at the end of the text ('$')
  uint32_t min_repeat = 1;
  uint32_t max_repeat = 1;
  std::vector<re_elem_ptr> children;  // sequence and group only
  std::string text;                   // literal only, bytes exactly as written
  class_set bits;                     // class only; all 256 set means any byte

  bool is_sequence() const { return type == re_elem_sequence; }
  bool is_group() const { return type == re_elem_group; }
  bool is_class() const { return type == re_elem_class; }
  bool is_literal() const { return type == re_elem_literal; }
  bool repeats_once() const { return min_repeat == 1 && max_repeat == 1; }
  bool any_anchor() const { return start_anchor || end_anchor; }
};

// A new node of that kind with repetition {1,1}, no anchors, and empty payload.
re_elem_ptr re_elem_init(re_elem_type type);
// Convenience constructors used by the parsers and tests.
re_elem_ptr re_elem_literal_of(std::string text);
re_elem_ptr re_elem_class_of(const class_set& bits);
re_elem_ptr re_elem_any_byte();  // the class of all 256 bytes

// Deep copy of a subtree (the planner duplicates elements when it expands repeats).
re_elem_ptr re_elem_clone(const re_elem& e);

// Structural equality: kinds, anchors, repetitions and payloads of whole subtrees.
bool re_elem_equal(const re_elem& a, const re_elem& b);

// A one-child sequence is replaced by its child, which takes the sequence's two anchor
// flags (replacing its own). Anything else is left alone.
void seq_fold(re_elem_ptr& elem);

// Sets the start anchor of `seq` (must be a sequence). Fails with "Duplicate '^' at %d"
// when it is already set and "Invalid '^' at %d" when the sequence has children.
bool anchor_start(re_elem& seq, std::string& err, size_t pos);
// Sets the end anchor of `seq`; fails with "Duplicate '$' at %d" when already set.
bool anchor_end(re_elem& seq, std::string& err, size_t pos);

// Simplifies a group with one or two alternatives: an empty alternative makes the group
// optional (or, alone, turns the group into an empty sequence keeping its anchors), and a
// group with a single alternative is dissolved into it where that keeps the meaning.
// Non-groups and groups of three or more alternatives are left alone.
void group_simplify(re_elem_ptr& elem);

// Adds `elem` (may be null) at the end of `seq` in canonical form. On success `elem` is
// null (ownership passed, or merged and released). Fails with "Invalid characters after
// '$' at %d" when `seq` is already end-anchored, or with an anchor error when anchors
// moved from `elem` conflict with the sequence's; on failure `elem` is left to the caller.
bool sequence_add(re_elem& seq, re_elem_ptr& elem, std::string& err, size_t pos);

// Adds a finished sequence as the next alternative of `group`; `seq` is null afterwards.
// A one-child sequence is folded into its child first; an empty sequence duplicating an
// existing empty alternative (same anchors) is dropped.
void group_add(re_elem& group, re_elem_ptr& seq);

// Prepares the element a repetition operator `op` applies to. `pending` is the last
// parsed atom not yet added to `seq`, or null when the previous operator already added
// it (then the last child of `seq` is taken back and wrapped in a group, so a** means
// (a*)*). A multi-character pending literal leaves all but its last character in `seq`.
// On success `pending` holds the element whose repetition the caller sets next. Fails
// with "Invalid '%c' at %d" when there is nothing to repeat.
bool rep_start(re_elem& seq, re_elem_ptr& pending, char op, std::string& err, size_t pos);

// Number of members of a class set (its population count).
inline size_t class_size(const class_set& bits) { return bits.count(); }

// The twelve bracket-expression class names, in the order they are tried, with their
// member sets (computed once, on first use, from the C classification functions under
// the POSIX locale; bytes 128-255 belong to none).
struct named_class {
  const char* name;  // the full text, e.g. "[:alpha:]"
  class_set members;
};
constexpr size_t kNamedClassCount = 12;
const std::array<named_class, kNamedClassCount>& named_classes();

// Debug dump of a subtree to the log stream, one line per node, depth first, each line
// starting with the current log prefix. Writes unconditionally: callers check the level.
// `e` may be null (prints "[NULL]").
void re_elem_print(const re_elem* e, unsigned depth);

}  // namespace quarn
