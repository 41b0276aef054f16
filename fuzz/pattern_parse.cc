// Arbitrary bytes through both parsers and the renderer. Every input must give a tree or
// an error text; every tree's rendering must parse back into the same tree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "pattern/parse.h"
#include "pattern/render.h"

namespace {

void check_round_trip(const quarn::re_elem& tree) {
  const std::string r = quarn::re_elem_to_string(tree);
  std::string err;
  quarn::re_elem_ptr again = quarn::regex_parse(r, &err);
  if (!again || !quarn::re_elem_equal(tree, *again) || quarn::re_elem_to_string(*again) != r) {
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Copy into an exact-size heap buffer so that any read past the input is caught.
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string_view text(input);
  std::string err;
  if (quarn::re_elem_ptr t = quarn::regex_parse(text, &err)) {
    check_round_trip(*t);
  } else if (err.empty()) {
    abort();
  }
  err.clear();
  if (quarn::re_elem_ptr g = quarn::glob_parse(text, &err)) {
    check_round_trip(*g);
  } else if (err.empty()) {
    abort();
  }
  return 0;
}
