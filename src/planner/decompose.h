// Building blocks of the fixup pass: predicates over pattern elements and the joins
// that turn classes and short literals into literal groups of concrete strings.
//
// Every block builds new elements and leaves its inputs alone (the caller frees what it
// replaces), except splice_children, which consumes the run it replaces. A block that
// cannot apply gives nullptr; nothing here fails the search by itself.
//
// Soundness contract: a literal group built here lists, for every text that matches its
// inputs placed side by side, the concrete string (after folding into the trigram
// alphabet) that the text holds at that place. Anchors are carried over only from the
// side where they still describe the text's start or end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pattern/re_elem.h"

namespace quarn {

// Joins stay inside this many bytes: a string plus one character is refused when its
// length plus 4 exceeds it, and crossed groups cut each string to kJoinLimit - 2.
constexpr size_t kJoinLimit = 4096;
// Permutations one class extension of a group may produce without force.
constexpr size_t kExtensionLimit = 64;
// Class powers and expansions stay below this many strings (size ^ repeat).
constexpr uint64_t kClassPowerLimit = 512;
// A class power never builds strings longer than this.
constexpr uint32_t kClassPowerLength = 8;

bool is_full_class(const re_elem& e);
// A full class repeated {0, unbounded}: any text, including none.
bool is_match_all_gap(const re_elem& e);
// A full class repeated exactly once: one unknown byte.
bool is_one_char_gap(const re_elem& e);
// A group whose alternatives are all literals (a group without alternatives counts),
// the group and every alternative repeated exactly once: a repeated one stands for a run
// whose ends are not the alternative's ends, so nothing may be joined to it.
bool is_literal_group(const re_elem& e);
size_t class_members(const re_elem& e);

// The character that stands for byte c in trigram texts: letters fold to lower case,
// '^' stays '^' (it shares the boundary symbol), and every byte outside the alphabet
// becomes '@'.
char alphabet_char(unsigned char c);

// Turns e into a match-all gap in place (payload freed, anchors kept).
void make_match_all_gap(re_elem& e);
re_elem_ptr new_match_all_gap(bool start_anchor, bool end_anchor);
re_elem_ptr new_any_char();

// min * max products of nested repeats, capped at REPEAT_MAX.
uint32_t repeat_product(uint32_t a, uint32_t b);

// size ^ min_repeat exceeds kClassPowerLimit (never for a minimum of 0).
bool class_too_wide(const re_elem& k);

// Literal group of every pair (a, b), a from A and b from B, folded into the alphabet.
// nullptr when either is not a class or is full.
re_elem_ptr class_cross(const re_elem& a, const re_elem& b);

// Literal group of every string of n class bytes, n = min(min_repeat, 8) >= 2.
re_elem_ptr class_power(const re_elem& k);

// Literal group of alternative+c (append) or c+alternative for each alternative of G and
// byte c of K. Refused over kExtensionLimit strings unless forced (logged at level 4).
re_elem_ptr group_extend_class(const re_elem& g, const re_elem& k, bool append, bool force);

// Literal group of L+c (append) or c+L for each byte c of K.
re_elem_ptr literal_extend_class(const re_elem& l, const re_elem& k, bool append, bool force);

// Literal group of L+s (literal_first) or s+L for each alternative s of G.
re_elem_ptr literal_join_group(const re_elem& l, const re_elem& g, bool literal_first);

// Literal group of a+b for every alternative a of A and b of B, cut to kJoinLimit - 2.
re_elem_ptr group_cross(const re_elem& a, const re_elem& b);

// Length of the shortest alternative of a literal group; SIZE_MAX for an empty group and
// 0 when an alternative is not a literal.
size_t shortest_alternative(const re_elem& g);

// Replaces children[i .. i+n-1] by r; with flatten, a sequence r is replaced by its own
// children (the first taking r's start anchor, the last r's end anchor).
void splice_children(std::vector<re_elem_ptr>& children, size_t i, size_t n, re_elem_ptr r,
                     bool flatten);

}  // namespace quarn
