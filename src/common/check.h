// Invariant checks that stay on in every build.
//
// QUARN_CHECK(cond) stops the program with the source file, line, function and the
// failed condition text, the way an assertion does, but independently of NDEBUG:
// a broken invariant in an index walker must never continue silently in release.
// Use it only for programming errors; anything an input can cause returns an error.
#pragma once

namespace quarn {
[[noreturn]] void check_failed(const char* expr, const char* file, int line, const char* func);
}  // namespace quarn

#define QUARN_CHECK(cond) \
  ((cond) ? static_cast<void>(0) : ::quarn::check_failed(#cond, __FILE__, __LINE__, __func__))
