// Parsers from search-expression text to a pattern tree (pattern/re_elem.h).
//
// Two dialects, both strict: every byte must be printable ASCII (0x20-0x7e) and anything
// outside the dialect is refused with a positioned error rather than guessed at.
//  - Regular expressions: literals, the twelve escapes \$ \( \) \* \+ \. \? \[ \\ \^ \{ \|,
//    '.', bracket expressions [..] / [^..], groups ( | ), the repetitions * + ? {m} {m,}
//    {m,n} (bounds at most 65535), and the anchors ^ (before the first atom of an
//    alternative) and $ (nothing may follow it in that alternative).
//  - Globs: * (any run), ? (any byte), [..] / [!..], \x (x literally), everything else
//    literal; the result is always anchored at both ends.
// Letters keep their case: matching is case-insensitive later.
//
// Ownership: the caller owns the returned tree. On failure the result is null and, when
// an error slot is given, it receives the error text (positions are byte offsets from 0);
// the error texts below are the complete list. A parse never aborts, whatever the bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "pattern/re_elem.h"

namespace quarn {

// Error texts of the tree builders and parsers (printf formats, in the order of their
// arguments). They are part of the interface: callers and tests compare them.
namespace reparse_error {
inline constexpr const char* kInvalidCharCode = "Invalid character code %u at %d";
inline constexpr const char* kInvalidEscape = "Invalid escaped character \\%c at %d";
inline constexpr const char* kTrailingBackslash = "Invalid unescaped '\\' at end of regexp";
inline constexpr const char* kUnmatchedParen = "Unmatched ) at %d";
inline constexpr const char* kPrematureEnd = "Premature end of regexp";
inline constexpr const char* kBoundTooLarge = "Invalid bound at %d: %lu exceeds maximum %u";
inline constexpr const char* kBoundDescending = "Invalid bound at %d: %u > %u";
inline constexpr const char* kBoundUnclosed = "Invalid bound at %d";
inline constexpr const char* kNothingToRepeat = "Invalid '%c' at %d";
inline constexpr const char* kDuplicateStart = "Duplicate '^' at %d";
inline constexpr const char* kMisplacedStart = "Invalid '^' at %d";
inline constexpr const char* kDuplicateEnd = "Duplicate '$' at %d";
inline constexpr const char* kAfterEnd = "Invalid characters after '$' at %d";
inline constexpr const char* kCollating = "Collating element [%c%c] not supported at %d";
inline constexpr const char* kClassName = "Invalid character class name at %d";
inline constexpr const char* kInvalidRange = "Invalid range at %d";
inline constexpr const char* kUnmatchedNegated = "Unmatched [%c at %d";
inline constexpr const char* kUnmatchedBracket = "Unmatched [ at %d";
// A glob may not end in a lone backslash: there is no byte left for it to escape.
inline constexpr const char* kGlobTrailingBackslash = "Invalid unescaped '\\' at %d";
// Every consumer of the tree walks it recursively; this keeps such walks (and the
// tree's own destruction) far from the stack limit on absurdly nested input.
inline constexpr const char* kTooDeep = "Expression nested too deeply at %d";
}  // namespace reparse_error

// Most parentheses open at once, and most groups nested in a returned tree (counting
// the groups that repeated repetitions create: a** is (a*)*).
constexpr size_t kMaxNesting = 256;

// Parses a regular expression. `err` may be null.
re_elem_ptr regex_parse(std::string_view expr, std::string* err);

// Parses a glob. `err` may be null.
re_elem_ptr glob_parse(std::string_view expr, std::string* err);

// Parses one bracket expression of `expr` starting at `cursor`, which must be on its
// opening '['. `negation` is the character that negates it ('^' for regular expressions,
// '!' for globs). On success `cursor` is left on the closing ']' and `out` holds a new
// class node; on failure `err` holds the error text and `out` and `cursor` are unchanged.
bool class_parse(std::string_view expr, size_t& cursor, re_elem_ptr& out, char negation,
                 std::string& err);

}  // namespace quarn
