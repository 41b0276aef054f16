// Debug dump of the pattern tree to the log stream.
#include <cstdio>

#include "common/log.h"
#include "pattern/re_elem.h"
#include "pattern/syntax_chars.h"

namespace quarn {

namespace {

const char* kind_name(re_elem_type t) {
  switch (t) {
    case re_elem_sequence: return "sequence";
    case re_elem_group: return "group";
    case re_elem_class: return "class";
    case re_elem_literal: return "literal";
  }
  return nullptr;
}

void print_class(FILE* out, const class_set& bits) {
  const size_t n = bits.count();
  if (n == 256) {
    fputs("*", out);
    return;
  }
  unsigned lo = 256, hi = 0;
  for (unsigned v = 0; v < 256; ++v) {
    if (!bits.test(v)) continue;
    if (lo == 256) lo = v;
    hi = v;
  }
  if (n > 0 && hi - lo + 1 == n) {
    if (printable_byte(lo) && printable_byte(hi)) {
      fprintf(out, "'%c'-'%c'", static_cast<char>(lo), static_cast<char>(hi));
    } else {
      fprintf(out, "\\x%x-\\x%x", lo, hi);
    }
    return;
  }
  fprintf(out, "{%zu}   ", n);
  bool first = true;
  for (unsigned v = 0; v < 256; ++v) {
    if (!bits.test(v)) continue;
    if (!first) fputs(",", out);
    first = false;
    if (printable_byte(v)) {
      fprintf(out, "'%c'", static_cast<char>(v));
    } else {
      fprintf(out, "\\x%x", v);
    }
  }
}

}  // namespace

void re_elem_print(const re_elem* e, unsigned depth) {
  FILE* out = log_get_stream();
  fprintf(out, "%s+", log_get_prefix());
  if (depth > 0) {
    for (unsigned i = 0; i < depth; ++i) fputs("+++", out);
    fputs(" ", out);
  }
  const char* kind = e ? kind_name(e->type) : nullptr;
  if (!e || !kind) {
    fputs(e ? "[unknown]\n" : "[NULL]\n", out);
    return;
  }
  if (e->start_anchor) fputs(" ^ ", out);
  if (e->end_anchor) fputs(" $ ", out);
  const size_t count = (e->is_sequence() || e->is_group()) ? e->children.size() : 0;
  if (e->min_repeat == e->max_repeat) {
    fprintf(out, "%s [%zu] | %u", kind, count, e->min_repeat);
  } else if (e->max_repeat == REPEAT_MAX) {
    fprintf(out, "%s [%zu] | %u..MAX", kind, count, e->min_repeat);
  } else {
    fprintf(out, "%s [%zu] | %u..%u", kind, count, e->min_repeat, e->max_repeat);
  }
  fputs("    ", out);
  switch (e->type) {
    case re_elem_literal:
      // The text as a C string would print it: up to its first NUL.
      fprintf(out, "\"%s\"\n", e->text.c_str());
      break;
    case re_elem_class:
      print_class(out, e->bits);
      fputs("\n", out);
      break;
    default:
      fputs("\n", out);
      for (const auto& child : e->children) re_elem_print(child.get(), depth + 1);
      break;
  }
}

}  // namespace quarn
